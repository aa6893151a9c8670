// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What one run of pwm-sweep does, as read from its command line.
#ifndef PWM_SWEEP_SWEEP_SETTINGS_H
#define PWM_SWEEP_SWEEP_SETTINGS_H

#include <stdint.h>

struct sweep_settings {
	uint32_t chip; // -c, the N of pwmchipN
	uint32_t channel; // -p
	uint64_t period; // -P, passed to the library unchanged
	int64_t step; // -S, never 0 once accepted; negative sweeps down
};

// Reads the options into *settings. true when they are accepted; false once
// a refusal has been reported on standard error (exit status 1).
bool parse_sweep_settings(int argc, char **argv, struct sweep_settings *settings);

#endif
