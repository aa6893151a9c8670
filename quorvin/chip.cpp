// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The library's handles: a chip, reached through its character device where
// the kernel offers one and through sysfs otherwise, and the channels taken
// from it. The path is chosen when the chip is opened; a channel that was
// exported through sysfs on a chip with a device node is taken through sysfs.
#include <quorvin.h>

#include "attr_io.h"
#include "chardev.h"
#include "env_dirs.h"
#include "keep_errno.h"
#include "sysfs_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

// Only the four entry points leave the library.
#define QUORVIN_API extern "C" __attribute__((visibility("default")))

struct pwm_chip {
	unsigned int number;
	int chardev_fd; // -1 on the sysfs path
	// On the sysfs path from the open; on the device path only once a
	// channel has to be taken through sysfs, else -1.
	int sysfs_dirfd;
	unsigned int npwm; // known on the sysfs path only; the device checks itself
	// Channels taken so far; asking twice for one channel gives one handle.
	struct pwm **pwms;
	size_t npwms;
};

// Exactly one of the two paths is set.
struct pwm {
	unsigned int channel;
	struct sysfs_channel *sysfs;
	struct chardev_channel *cdev;
};

static int sysfs_open_chip(unsigned int number, unsigned int *npwm)
{
	char path[PATH_MAX];
	if (chip_path(path, sizeof(path), quorvin_sysfs_dir(), number) < 0)
		return -1;

	const int dirfd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (dirfd < 0)
		return -1;

	uint64_t count = 0;
	if (attr_read_u64_at(dirfd, "npwm", &count) < 0) {
		close_keep_errno(dirfd);
		return -1;
	}
	*npwm = count > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(count);
	return dirfd;
}

QUORVIN_API struct pwm_chip *pwm_chip_open_by_number(unsigned int chip)
{
	auto *handle = static_cast<struct pwm_chip *>(calloc(1, sizeof(struct pwm_chip)));
	if (handle == nullptr)
		return nullptr;

	handle->number = chip;
	handle->sysfs_dirfd = -1;
	handle->chardev_fd = chardev_open(chip);
	if (handle->chardev_fd < 0) {
		// Whatever kept the device from serving, sysfs has the last
		// word, and its errno is the one the caller sees.
		handle->sysfs_dirfd = sysfs_open_chip(chip, &handle->npwm);
		if (handle->sysfs_dirfd < 0) {
			free_keep_errno(handle);
			return nullptr;
		}
	}
	return handle;
}

// The device refuses a channel that sysfs exported (EBUSY). Such a channel
// is someone's on purpose, a boot script's or a udev rule's, and sysfs can
// still drive it; any other holder keeps the EBUSY.
static bool exported_through_sysfs(struct pwm_chip *chip, unsigned int channel)
{
	if (chip->sysfs_dirfd < 0) {
		unsigned int npwm = 0;
		chip->sysfs_dirfd = sysfs_open_chip(chip->number, &npwm);
		if (chip->sysfs_dirfd < 0)
			return false;
	}
	return sysfs_channel_exported(chip->sysfs_dirfd, channel) == 0;
}

static bool take_channel(struct pwm_chip *chip, struct pwm *pwm)
{
	if (chip->chardev_fd < 0) {
		pwm->sysfs = sysfs_channel_take(chip->sysfs_dirfd, chip->number, pwm->channel);
		return pwm->sysfs != nullptr;
	}
	pwm->cdev = chardev_channel_take(chip->chardev_fd, pwm->channel);
	if (pwm->cdev != nullptr)
		return true;
	if (errno != EBUSY)
		return false;
	if (!exported_through_sysfs(chip, pwm->channel)) {
		errno = EBUSY;
		return false;
	}
	pwm->sysfs = sysfs_channel_take(chip->sysfs_dirfd, chip->number, pwm->channel);
	return pwm->sysfs != nullptr;
}

QUORVIN_API struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel)
{
	if (chip == nullptr || (chip->chardev_fd < 0 && channel >= chip->npwm)) {
		errno = EINVAL;
		return nullptr;
	}

	for (size_t i = 0; i < chip->npwms; ++i) {
		if (chip->pwms[i]->channel == channel)
			return chip->pwms[i];
	}

	// Room is made before the channel is taken, so that no channel is
	// taken without a handle to release it by.
	auto *pwms = static_cast<struct pwm **>(
		realloc(chip->pwms, (chip->npwms + 1) * sizeof(struct pwm *)));
	if (pwms == nullptr)
		return nullptr;
	chip->pwms = pwms;
	auto *pwm = static_cast<struct pwm *>(calloc(1, sizeof(struct pwm)));
	if (pwm == nullptr)
		return nullptr;
	pwm->channel = channel;

	if (!take_channel(chip, pwm)) {
		free_keep_errno(pwm);
		return nullptr;
	}
	chip->pwms[chip->npwms++] = pwm;
	return pwm;
}

QUORVIN_API int pwm_set_waveform(struct pwm *pwm, struct pwm_waveform *wf)
{
	if (pwm == nullptr || wf == nullptr) {
		errno = EINVAL;
		return -1;
	}
	// The kernel's own rules for a waveform, checked alike on both paths
	// before anything is written.
	const uint64_t period = wf->period_length_ns;
	if (period > INT64_MAX || wf->duty_length_ns > period ||
	    (wf->duty_offset_ns != 0 && wf->duty_offset_ns >= period)) {
		errno = EINVAL;
		return -1;
	}
	if (pwm->sysfs != nullptr)
		return sysfs_channel_apply(pwm->sysfs, wf);
	return chardev_channel_apply(pwm->cdev, wf);
}

QUORVIN_API void pwm_chip_close(struct pwm_chip *chip)
{
	if (chip == nullptr)
		return;

	const int saved = errno;
	for (size_t i = 0; i < chip->npwms; ++i) {
		if (chip->pwms[i]->sysfs != nullptr)
			sysfs_channel_release(chip->pwms[i]->sysfs);
		if (chip->pwms[i]->cdev != nullptr)
			chardev_channel_release(chip->pwms[i]->cdev);
		free(chip->pwms[i]);
	}
	free(chip->pwms);
	// Closing the device also frees the channels it held.
	if (chip->chardev_fd >= 0)
		close(chip->chardev_fd);
	if (chip->sysfs_dirfd >= 0)
		close(chip->sysfs_dirfd);
	free(chip);
	errno = saved;
}
