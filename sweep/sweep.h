// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The duty sweep of one PWM channel.
#ifndef PWM_SWEEP_SWEEP_H
#define PWM_SWEEP_SWEEP_H

struct sweep_settings;

// Opens the chip, takes the channel and applies one waveform per duty, from
// 0 up to the period (positive step) or from the period down towards 0
// (negative step), then closes the chip. true on success; false once the
// failing library call has been reported on standard error.
bool run_sweep(const struct sweep_settings *settings);

#endif
