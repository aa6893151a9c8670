// The library's handles: a chip, reached through its character device where
// the kernel offers one and through sysfs otherwise, and the channels taken
// from it. The path is chosen once, when the chip is opened.
#include <quorvin.h>

#include "attr_io.h"
#include "keep_errno.h"
#include "chardev.h"
#include "env_dirs.h"
#include "sysfs_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

struct pwm_chip {
	int chardev_fd; // -1 on the sysfs path
	int sysfs_dirfd; // -1 on the character-device path
	unsigned int npwm; // known on the sysfs path only; the device checks itself
	// Channels taken so far; asking twice for one channel gives one handle.
	struct pwm **pwms;
	size_t npwms;
};

struct pwm {
	struct pwm_chip *chip;
	unsigned int channel;
	struct sysfs_channel *sysfs; // NULL on the character-device path
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

extern "C" struct pwm_chip *pwm_chip_open_by_number(unsigned int chip)
{
	auto *handle = static_cast<struct pwm_chip *>(calloc(1, sizeof(struct pwm_chip)));
	if (handle == nullptr)
		return nullptr;

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

extern "C" struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel)
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
	pwm->chip = chip;
	pwm->channel = channel;

	const bool taken = chip->chardev_fd >= 0
		? chardev_request(chip->chardev_fd, channel) == 0
		: (pwm->sysfs = sysfs_channel_take(chip->sysfs_dirfd, channel)) != nullptr;
	if (!taken) {
		free_keep_errno(pwm);
		return nullptr;
	}

	chip->pwms[chip->npwms++] = pwm;
	return pwm;
}

extern "C" int pwm_set_waveform(struct pwm *pwm, struct pwm_waveform *wf)
{
	if (pwm == nullptr || wf == nullptr) {
		errno = EINVAL;
		return -1;
	}
	if (pwm->sysfs != nullptr)
		return sysfs_channel_apply(pwm->sysfs, wf);
	return chardev_apply(pwm->chip->chardev_fd, pwm->channel, wf);
}

extern "C" void pwm_chip_close(struct pwm_chip *chip)
{
	if (chip == nullptr)
		return;

	const int saved = errno;
	for (size_t i = 0; i < chip->npwms; ++i) {
		if (chip->pwms[i]->sysfs != nullptr)
			sysfs_channel_release(chip->pwms[i]->sysfs);
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
