// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What a channel's hardware runs, as the kernel's debugfs listing of the PWM
// chips shows it ("actual configuration"). Not a stable interface, and
// root's: only ever an extra check, where it is there to read.
#ifndef QUORVIN_DEBUGFS_H
#define QUORVIN_DEBUGFS_H

#include <quorvin.h>

#include <stddef.h>
#include <stdint.h>

// One channel's entry in the listing.
struct debugfs_channel {
	bool requested; // someone holds it
	char label[64]; // the holder's label as shown; empty for none
	bool has_actual; // the driver read its hardware back
	struct pwm_waveform actual; // in the waveform's terms, see below
	// The period as shown, also where the output shows no active part
	// (which the waveform's terms give as period 0).
	uint64_t shown_period;
};

// Reads channel of chip from the listing, line by line, each line whole
// whatever its length (a label longer than the record holds is cut there).
// 0, or -1 with errno: the file's own where it cannot be opened (also
// kernel_file_open's for what is not a regular file, and EINVAL for an empty
// QUORVIN_DEBUGFS_PWM), EIO where it cannot be read, ENODATA where it has no
// entry for the channel.
int debugfs_read_channel(unsigned int chip, unsigned int channel, struct debugfs_channel *out);

// Fills *actual with what channel of chip runs, in the waveform's terms (an
// inversed polarity is the offset that ends the active part at the period's
// end; a disabled output is period 0), and *shown_period, where not NULL,
// with the period shown whether the output runs or not. 0, or -1 with
// errno: the file's own where it cannot be read, ENODATA where it has no
// such line for the channel or the driver cannot read its hardware back.
int debugfs_actual(unsigned int chip, unsigned int channel, struct pwm_waveform *actual,
		   uint64_t *shown_period);

#endif
