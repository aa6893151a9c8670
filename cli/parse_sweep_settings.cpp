// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "sweep_settings.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

bool parse_sweep_settings(int argc, char **argv, struct sweep_settings *settings)
{
	*settings = { 0, 0, 50000, 1 };

	// Arguments convert as strtol/strtoll do, unchecked, so that scripts
	// see the same numbers for the same text; only a zero step is refused.
	// -c and -p go through strtoll, not strtol: with a 32-bit long (armhf)
	// strtol saturates at 2^31 - 1, where a 64-bit target converts the full
	// value and keeps its low 32 bits. strtoll gives every target the latter.
	int opt;
	while ((opt = getopt(argc, argv, "c:p:P:S:")) != -1) {
		switch (opt) {
		case 'c':
			settings->chip = static_cast<uint32_t>(strtoll(optarg, nullptr, 10));
			break;
		case 'p':
			settings->channel = static_cast<uint32_t>(strtoll(optarg, nullptr, 10));
			break;
		case 'P':
			settings->period = static_cast<uint64_t>(strtoll(optarg, nullptr, 10));
			break;
		case 'S':
			settings->step = strtoll(optarg, nullptr, 10);
			if (settings->step == 0) {
				errno = EINVAL;
				perror("Invalid step value");
				return false;
			}
			break;
		default:
			// getopt has already said what was wrong.
			return false;
		}
	}

	// A negative -P reads as a period of 2^63 or more, where the duty
	// would wrap past the top of its range and the sweep never end.
	if (settings->period > static_cast<uint64_t>(INT64_MAX)) {
		errno = EINVAL;
		perror("Invalid period value");
		return false;
	}
	return true;
}
