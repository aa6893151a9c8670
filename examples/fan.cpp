// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Runs a fan at a frequency and a duty ratio, and prints what the channel runs:
//   quorvin-fan CHIP CHANNEL [HZ [RATIO]]        (default 25000 Hz, ratio 0.4)
// CHIP is a number or a name (pwmchip0, 4ff00000.pwm, pwm0). The channel is
// taken through sysfs, exported, so that the fan keeps turning after the
// program ends, whatever the driver does with a channel that is let go.
#include <quorvin.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

bool all_digits(const std::string &s)
{
	return !s.empty() && s.size() < 10 &&
		std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A chip by number where the argument is one, else by any name the library takes.
quorvin::chip open_chip(const std::string &which)
{
	if (all_digits(which))
		return quorvin::chip(static_cast<unsigned int>(std::stoul(which)));
	return quorvin::chip(which);
}

unsigned int channel_number(const std::string &s)
{
	if (!all_digits(s))
		throw std::invalid_argument("not a channel number: " + s);
	return static_cast<unsigned int>(std::stoul(s));
}

double number(const char *s)
{
	char *end = nullptr;
	const double v = std::strtod(s, &end);
	if (end == s || *end != '\0')
		throw std::invalid_argument(std::string("not a number: ") + s);
	return v;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 3 || argc > 5) {
		std::cerr << "usage: quorvin-fan CHIP CHANNEL [HZ [RATIO]]\n";
		return 2;
	}
	try {
		const double hz = argc > 3 ? number(argv[3]) : 25000;
		const double ratio = argc > 4 ? number(argv[4]) : 0.4;
		const auto wf = quorvin::waveform::from_frequency(hz, ratio);
		quorvin::chip chip = open_chip(argv[1]);
		quorvin::channel fan = chip.export_channel(channel_number(argv[2]));
		fan.set(wf);
		std::cout << fan << ": " << fan.get() << '\n';
	} catch (const std::exception &e) {
		std::cerr << "quorvin-fan: " << e.what() << '\n';
		return 1;
	}
	return 0;
}
