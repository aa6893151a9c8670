// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Lists the PWM chips and what each channel is doing, its holder and its
// waveform, read without taking anything:
//   quorvin-chips [CHIP [CHANNEL]]
// With no argument every chip present; CHIP is a number or a name (pwmchip0,
// 4ff00000.pwm, pwm0). A chip that cannot be opened is said on stderr and
// the listing goes on, to end with status 1.
#include <quorvin.hpp>

#include <algorithm>
#include <iostream>
#include <optional>
#include <system_error>
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

void list(const quorvin::chip &chip, std::optional<unsigned int> only)
{
	std::cout << chip << '\n';
	const unsigned int first = only ? *only : 0;
	const unsigned int end = only ? *only + 1 : chip.npwm();
	for (unsigned int n = first; n < end; ++n) {
		const quorvin::channel_info info = chip.info(n);
		std::cout << "  " << info << '\n';
	}
}

} // namespace

int main(int argc, char **argv)
{
	if (argc > 3) {
		std::cerr << "usage: quorvin-chips [CHIP [CHANNEL]]\n";
		return 2;
	}
	int status = 0;
	try {
		if (argc > 1) {
			std::optional<unsigned int> only;
			if (argc > 2) {
				if (!all_digits(argv[2]))
					throw std::invalid_argument(std::string("not a channel number: ") +
								    argv[2]);
				only = static_cast<unsigned int>(std::stoul(argv[2]));
			}
			list(open_chip(argv[1]), only);
			return 0;
		}
		bool any = false;
		for (unsigned int number : quorvin::chip_numbers()) {
			any = true;
			try {
				list(quorvin::chip(number), std::nullopt);
			} catch (const std::system_error &e) {
				std::cerr << "quorvin-chips: " << e.what() << '\n';
				status = 1;
			}
		}
		if (!any)
			std::cout << "no PWM chips\n";
	} catch (const std::exception &e) {
		std::cerr << "quorvin-chips: " << e.what() << '\n';
		return 1;
	}
	return status;
}
