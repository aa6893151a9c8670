// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A channel driven through the kernel's sysfs PWM attributes.
#ifndef QUORVIN_SYSFS_CHANNEL_H
#define QUORVIN_SYSFS_CHANNEL_H

#include <stddef.h>

struct pwm_waveform;
struct sysfs_channel;

// Room for a channel folder's name.
enum { sysfs_channel_dir_size = 32 };

// The name of the folder of channel of the chip folder chip_dirfd (chip
// number chip) into dir: "pwmM" as the kernel names it, or "pwm-N:M" as
// some vendor kernels do. 0, or -1 with errno (ENOENT where neither is there,
// ENOTDIR where the name is not a folder).
int sysfs_channel_dir(int chip_dirfd, unsigned int chip, unsigned int channel, char *dir, size_t size);

// 0 if the channel is exported (its folder is there), -1 with errno (ENOENT
// where it is not) otherwise.
int sysfs_channel_exported(int chip_dirfd, unsigned int chip, unsigned int channel);

// Exports channel of the chip folder chip_dirfd (chip number chip) if it is
// not yet, waits for its attributes, opens them and reads the channel's
// current state. NULL with errno on failure (EISDIR or EINVAL where export
// or an attribute is not a regular file: see kernel_file_open).
struct sysfs_channel *sysfs_channel_take(int chip_dirfd, unsigned int chip, unsigned int channel);

// Makes the channel emit *wf. 0, or -1 with errno, with what the call had
// written put back as far as the kernel lets.
int sysfs_channel_apply(struct sysfs_channel *ch, const struct pwm_waveform *wf);

// The waveform the channel's attributes say it emits, read afresh, in the
// form pwm_set_waveform takes. 0, or -1 with errno.
int sysfs_channel_get(struct sysfs_channel *ch, struct pwm_waveform *wf);

// What the hardware runs, by the debugfs listing's read-back (see
// debugfs_actual). 0, or -1 with errno.
int sysfs_channel_get_hardware(const struct sysfs_channel *ch, struct pwm_waveform *wf);

// The same for a channel folder dir of the chip folder chip_dirfd that this
// process does not hold: read only, nothing written.
int sysfs_channel_peek(int chip_dirfd, const char *dir, struct pwm_waveform *wf);

// Closes the channel's files and frees it; the output is left as it is.
void sysfs_channel_release(struct sysfs_channel *ch);

#endif
