// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-info --get: one channel's state as key=value lines, for scripts.
#ifndef PWM_INFO_GET_CHANNEL_H
#define PWM_INFO_GET_CHANNEL_H

struct info_options;
struct pwm_chip;

// Prints "holder=…", "consumer=…" where the kernel names the holder, and
// where the waveform can be read, period_ns, duty_ns, offset_ns,
// frequency_hz and duty_percent, with -u the times also in that unit. Takes
// and changes nothing. ctx points to the tool's struct info_options (the
// form visit_chips takes). true, or false after a message.
bool get_channel(struct pwm_chip *chip, void *ctx);

#endif
