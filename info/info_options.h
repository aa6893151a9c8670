// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What one run of pwm-info shows, as read from its command line.
#ifndef PWM_INFO_INFO_OPTIONS_H
#define PWM_INFO_INFO_OPTIONS_H

#include "units.h"

#include <stdint.h>

struct info_options {
	uint64_t period; // -P: what free channels would make of it; 0 when not asked
	bool get; // -g: one channel, for scripts
	unsigned int channel; // -g's channel
	enum time_unit unit; // -u: with -g, the times also in this unit
	int first_chip; // argv index of the first CHIP
};

// Reads the options into *options. -1 to go on; otherwise the exit status,
// after help or version was printed (0) or a refusal reported (1).
int parse_info_options(int argc, char **argv, struct info_options *options);

#endif
