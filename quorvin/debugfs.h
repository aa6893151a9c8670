// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What a channel's hardware runs, as the kernel's debugfs listing of the PWM
// chips shows it ("actual configuration"). Not a stable interface, and
// root's: only ever an extra check, where it is there to read.
#ifndef QUORVIN_DEBUGFS_H
#define QUORVIN_DEBUGFS_H

struct pwm_waveform;

// Fills *actual with what channel of chip runs, in the waveform's terms (an
// inversed polarity is the offset that ends the active part at the period's
// end; a disabled output is period 0). 0, or -1 with errno: the file's own
// where it cannot be read, ENODATA where it has no such line for the
// channel or the driver cannot read its hardware back.
int debugfs_actual(unsigned int chip, unsigned int channel, struct pwm_waveform *actual);

#endif
