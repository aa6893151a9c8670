/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/* A program of a library user's: built against the installed header and
 * library only, in C, it sets one waveform on channel 0 of chip 0. */
#include <quorvin.h>

#include <stdio.h>

int main(void)
{
	struct pwm_chip *chip = pwm_chip_open_by_number(0);
	if (chip == NULL) {
		perror("open");
		return 1;
	}
	struct pwm *pwm = pwm_chip_get_pwm(chip, 0);
	if (pwm == NULL) {
		perror("get");
		return 1;
	}
	struct pwm_waveform wf = { .period_length_ns = 1000, .duty_length_ns = 250, .duty_offset_ns = 0 };
	if (pwm_set_waveform(pwm, &wf) < 0) {
		perror("set");
		return 1;
	}
	pwm_chip_close(chip);
	return 0;
}
