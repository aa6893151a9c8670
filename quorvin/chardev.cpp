// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// One channel through the character device. The kernel rounds every
// waveform down to what the hardware makes and never says when it had to
// round up instead, so a new period or offset is first rounded with
// PWM_IOCTL_ROUNDWF and checked. A step that changes only the duty keeps the
// period and offset just checked and costs its one SETROUNDEDWF alone.
#include "chardev.h"

#include <quorvin.h>

#include "env_dirs.h"
#include "keep_errno.h"
#include "pwm_uapi.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

struct chardev_channel {
	int fd;
	unsigned int hwpwm;
	// The period and offset of the last waveform the kernel took after a
	// check; valid only while checked is set.
	bool checked;
	uint64_t period;
	uint64_t offset;
};

int chardev_open(unsigned int chip)
{
	char path[PATH_MAX];
	if (chip_path(path, sizeof(path), quorvin_dev_dir(), chip) < 0)
		return -1;

	const int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd < 0)
		return -1;

	// Freeing a channel this file never requested changes nothing on a
	// PWM chip and fails (ENOTTY) on any other device, so it tells the two
	// apart without touching the hardware.
	struct stat st;
	if (fstat(fd, &st) < 0 || !S_ISCHR(st.st_mode) || ioctl(fd, PWM_IOCTL_FREE, 0UL) < 0) {
		close_keep_errno(fd);
		return -1;
	}
	return fd;
}

struct chardev_channel *chardev_channel_take(int fd, unsigned int channel)
{
	auto *ch = static_cast<struct chardev_channel *>(calloc(1, sizeof(struct chardev_channel)));
	if (ch == nullptr)
		return nullptr;
	if (ioctl(fd, PWM_IOCTL_REQUEST, static_cast<unsigned long>(channel)) < 0) {
		free_keep_errno(ch);
		return nullptr;
	}
	ch->fd = fd;
	ch->hwpwm = channel;
	return ch;
}

// What the hardware would make of *wf, compared with what was asked: the
// kernel picks the nearest waveform at or below each value and falls back to
// a larger one only where nothing smaller exists (a period below the
// shortest, or one that a sibling channel holds at another value).
static int check_rounding(int fd, const struct pwmchip_waveform *wf)
{
	if (wf->period_length_ns == 0)
		return 0;
	struct pwmchip_waveform r = *wf;
	if (ioctl(fd, PWM_IOCTL_ROUNDWF, &r) < 0)
		return -1;
	if (wf->duty_offset_ns != 0 && r.duty_offset_ns == 0) {
		errno = EOPNOTSUPP;
		return -1;
	}
	if (r.period_length_ns > wf->period_length_ns || r.duty_length_ns > wf->duty_length_ns ||
	    r.duty_offset_ns > wf->duty_offset_ns) {
		errno = EINVAL;
		return -1;
	}
	return 0;
}

// Out of line: beside an ioctl of microseconds the call costs nothing, and
// inlined into the library's entry it would weigh on the sysfs path's step.
__attribute__((noinline)) int chardev_channel_apply(struct chardev_channel *ch, const struct pwm_waveform *wf)
{
	const struct pwmchip_waveform kwf = {
		ch->hwpwm, 0, wf->period_length_ns, wf->duty_length_ns, wf->duty_offset_ns,
	};
	const bool same_frame = ch->checked && wf->period_length_ns == ch->period &&
		wf->duty_offset_ns == ch->offset;
	if (!same_frame) {
		ch->checked = false;
		if (check_rounding(ch->fd, &kwf) < 0)
			return -1;
	}

	// SETROUNDEDWF answers 0 whether it rounded up or down; the check
	// above is what tells them apart.
	if (ioctl(ch->fd, PWM_IOCTL_SETROUNDEDWF, &kwf) < 0) {
		ch->checked = false;
		return -1;
	}
	ch->checked = true;
	ch->period = wf->period_length_ns;
	ch->offset = wf->duty_offset_ns;
	return 0;
}

void chardev_channel_release(struct chardev_channel *ch)
{
	free_keep_errno(ch);
}
