// A chip driven through its character device /dev/pwmchipN: one ioctl
// applies a whole waveform, and the open file holds its channels.
#ifndef QUORVIN_CHARDEV_H
#define QUORVIN_CHARDEV_H

struct pwm_waveform;

// Opens the chip's character device. -1 where there is none, or where the
// file there is not a PWM character device; the caller then uses sysfs.
int chardev_open(unsigned int chip);

// Reserves the channel for this open file. 0, or -1 with errno (EINVAL
// beyond the chip's channels, EBUSY when another user holds it).
int chardev_request(int fd, unsigned int channel);

// Applies the nearest waveform the hardware can make. 0, or 1 when it had to
// round up (both success); -1 with errno.
int chardev_apply(int fd, unsigned int channel, const struct pwm_waveform *wf);

#endif
