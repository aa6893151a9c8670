// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-sweep's sweep written over the C++ layer, quorvin.hpp, as its user would
// write it: the chip and channel as objects, each step a waveform with a new
// duty, set with one call. It takes pwm-sweep's options (-c, -p, -P, -S), so
// the driver times it on the same tree as the others (E).
#include "sweep_args.h"

#include <quorvin.hpp>

#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
	sweep_args a;
	if (!parse_sweep_args(argc, argv, &a))
		return 2;
	try {
		using ns = std::chrono::duration<uint64_t, std::nano>;
		quorvin::chip chip(a.chip);
		quorvin::channel channel = chip.channel(a.channel);
		const auto wf = quorvin::waveform::from_period(ns(a.period), ns(0));
		for (uint64_t duty = 0;; duty += a.step) {
			channel.set(wf.with_duty(ns(duty)));
			if (a.period - duty < a.step)
				break;
		}
	} catch (const std::exception &e) {
		std::cerr << argv[0] << ": " << e.what() << '\n';
		return 1;
	}
	return 0;
}
