// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A snapshot of what one channel is doing: made by the chip, which knows
// how to look without taking the channel.
#ifndef QUORVIN_PWM_INFO_H
#define QUORVIN_PWM_INFO_H

struct pwm_info;
struct pwm_waveform;

// A snapshot of channel, held by holder (enum pwm_holder), with the label
// the kernel shows (NULL for none) and its waveform (NULL where it could not
// be read). NULL with errno on failure.
struct pwm_info *pwm_info_new(unsigned int channel, int holder, const char *label,
			      const struct pwm_waveform *wf);

#endif
