// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Sweeps a hobby servo from one end to the other and back to the centre:
//   quorvin-servo CHIP CHANNEL [HOLD_MS]         (default 500 ms a step)
// CHIP is a number or a name (pwmchip0, 4ff00000.pwm, pwm0). The period is
// 20 ms; the pulse goes from 1 ms to 2 ms in steps of 0.1 ms, each held
// HOLD_MS, then ends at 1.5 ms. One line a step: the pulse asked, then what
// the channel runs as it reads it back (through the device node what the
// hardware runs, at its rounding; through sysfs what the kernel accepted):
//   pulse 1000 us: period 20000000 ns, duty 1000000 ns
// At the end the channel is given back: through sysfs it stays exported and
// runs on; through the device node its driver decides.
#include <quorvin.hpp>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

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

unsigned int whole_number(const std::string &s, const char *what)
{
	if (!all_digits(s))
		throw std::invalid_argument(std::string("not a ") + what + ": " + s);
	return static_cast<unsigned int>(std::stoul(s));
}

} // namespace

int main(int argc, char **argv)
{
	using namespace std::chrono_literals;
	if (argc < 3 || argc > 4) {
		std::cerr << "usage: quorvin-servo CHIP CHANNEL [HOLD_MS]\n";
		return 2;
	}
	try {
		const std::chrono::milliseconds hold(argc > 3 ? whole_number(argv[3], "time in ms") : 500);
		quorvin::chip chip = open_chip(argv[1]);
		quorvin::channel servo = chip.channel(whole_number(argv[2], "channel number"));
		const auto centre = quorvin::waveform::from_period(20ms, 1500us);
		auto step = [&](std::chrono::microseconds pulse) {
			servo.set(centre.with_duty(pulse));
			std::cout << "pulse " << pulse.count() << " us: " << servo.get() << std::endl;
			std::this_thread::sleep_for(hold);
		};
		for (auto pulse = 1000us; pulse <= 2000us; pulse += 100us)
			step(pulse);
		step(1500us);
	} catch (const std::exception &e) {
		std::cerr << "quorvin-servo: " << e.what() << '\n';
		return 1;
	}
	return 0;
}
