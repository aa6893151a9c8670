// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A chip driven through its character device /dev/pwmchipN: one ioctl
// applies a whole waveform, and the open file holds its channels.
#ifndef QUORVIN_CHARDEV_H
#define QUORVIN_CHARDEV_H

struct pwm_waveform;
struct chardev_channel;

// Opens the chip's character device. -1 where there is none, or where the
// file there is not a PWM character device; the caller then uses sysfs.
int chardev_open(unsigned int chip);

// Reserves the channel for the open file fd. NULL with errno on failure
// (EINVAL beyond the chip's channels, EBUSY when another user holds it).
struct chardev_channel *chardev_channel_take(int fd, unsigned int channel);

// Applies *wf, which the caller has checked for consistency, as the
// hardware rounds it down. A waveform the hardware could only make by
// rounding up is refused with EINVAL and an offset it would drop with
// EOPNOTSUPP, both before the output is touched. A new period or offset is
// read back; hardware that does not run it after a second write gives EIO,
// with the waveform from before the call put back. 0, or -1 with errno.
int chardev_channel_apply(struct chardev_channel *ch, const struct pwm_waveform *wf);

// What the hardware runs now (PWM_IOCTL_GETWF). 0, or -1 with errno.
int chardev_channel_get(struct chardev_channel *ch, struct pwm_waveform *wf);

// What the hardware would make of *wf (PWM_IOCTL_ROUNDWF), into *wf. 0, or
// -1 with errno.
int chardev_channel_round(struct chardev_channel *ch, struct pwm_waveform *wf);

// Frees the channel in the kernel (its driver's release runs), then its
// record; errno is kept.
void chardev_channel_free(struct chardev_channel *ch);

// Frees the channel's record. The channel itself is released when the
// device file is closed.
void chardev_channel_release(struct chardev_channel *ch);

#endif
