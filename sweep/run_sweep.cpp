// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "sweep.h"

#include "sweep_settings.h"

#include <quorvin.h>

#include <stdio.h>

bool run_sweep(const struct sweep_settings *settings)
{
	// The messages name chip 0 and channel 0 whatever was asked for:
	// scripts match on these exact texts.
	struct pwm_chip *chip = pwm_chip_open_by_number(settings->chip);
	if (chip == nullptr) {
		perror("Failed to open pwmchip0");
		return false;
	}

	struct pwm *pwm = pwm_chip_get_pwm(chip, settings->channel);
	if (pwm == nullptr) {
		perror("Failed to get pwm0");
		return false;
	}

	struct pwm_waveform wf = {
		settings->period,
		settings->step > 0 ? 0 : settings->period,
		0,
	};

	// The library may adjust the record, so each step goes on from the
	// duty and period that it left there. The duty wraps below zero on a
	// downward sweep, which the unsigned test then reads as past the end.
	do {
		if (pwm_set_waveform(pwm, &wf) < 0) {
			perror("Failed to configure PWM");
			return false;
		}
		wf.duty_length_ns += static_cast<uint64_t>(settings->step);
	} while (wf.duty_length_ns <= wf.period_length_ns);

	pwm_chip_close(chip);
	return true;
}
