// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What a channel's hardware makes of a period, asked without changing the
// output.
#ifndef PWM_INFO_PERIOD_ROUNDING_H
#define PWM_INFO_PERIOD_ROUNDING_H

#include <stdint.h>

struct pwm;

struct period_rounding {
	uint64_t period; // the period the hardware makes of the one asked
	uint64_t duty_step; // its smallest nonzero duty there; 0 if it makes none
};

// Asks the library how the channel rounds period, and finds the duty step
// by a binary search over the duty. true, or false with errno.
bool round_period(struct pwm *pwm, uint64_t period, struct period_rounding *out);

#endif
