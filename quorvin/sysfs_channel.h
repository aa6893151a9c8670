// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A channel driven through the kernel's sysfs PWM attributes.
#ifndef QUORVIN_SYSFS_CHANNEL_H
#define QUORVIN_SYSFS_CHANNEL_H

struct pwm_waveform;
struct sysfs_channel;

// 0 if channel of the chip folder chip_dirfd is exported (its folder is
// there), -1 with errno (ENOENT where it is not) otherwise.
int sysfs_channel_exported(int chip_dirfd, unsigned int channel);

// Exports channel of the chip folder chip_dirfd (chip number chip) if it is
// not yet, waits for its attributes, opens them and reads the channel's
// current state. NULL with errno on failure.
struct sysfs_channel *sysfs_channel_take(int chip_dirfd, unsigned int chip, unsigned int channel);

// Makes the channel emit *wf. 0, or -1 with errno, with what the call had
// written put back as far as the kernel lets.
int sysfs_channel_apply(struct sysfs_channel *ch, const struct pwm_waveform *wf);

// Closes the channel's files and frees it; the output is left as it is.
void sysfs_channel_release(struct sysfs_channel *ch);

#endif
