// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What one run of pwm-set asks, as read from its command line: the
// waveform already in nanoseconds, and the units it was written in.
#ifndef PWM_SET_SET_OPTIONS_H
#define PWM_SET_SET_OPTIONS_H

#include "units.h"

#include <quorvin.h>

#include <stdint.h>

// How a part of the waveform was written, for the keys -v adds.
enum written_as { WRITTEN_NOT, WRITTEN_TIME, WRITTEN_SHARE, WRITTEN_FREQUENCY };

struct set_options {
	const char *chip; // -c, as given
	unsigned int channel; // -p
	struct pwm_waveform wf; // period 0 for --off
	enum written_as period_as, duty_as, offset_as;
	enum time_unit period_unit, duty_unit, offset_unit;
	bool verbose; // -v
	bool round; // -r
	bool hold; // -H
	bool hold_until_signal; // -H without a duration
	uint64_t hold_ns;
};

// Reads the options into *options, every value checked and converted. -1
// to go on; otherwise the exit status, after help or version was printed
// (0) or a refusal reported (1).
int parse_set_options(int argc, char **argv, struct set_options *options);

#endif
