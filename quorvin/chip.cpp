// The chip handle: the chip's sysfs folder and the channels taken from it.
#include <quorvin.h>

#include "attr_io.h"
#include "sysfs_dir.h"
#include "sysfs_pwm.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

struct channel_slot {
	unsigned int channel;
	struct pwm *pwm;
};

} // namespace

struct pwm_chip {
	int dirfd;
	unsigned int npwm;
	// Channels taken so far; asking twice for one channel gives one handle.
	struct channel_slot *slots;
	size_t nslots;
};

extern "C" struct pwm_chip *pwm_chip_open_by_number(unsigned int number)
{
	char path[PATH_MAX];
	const int len = snprintf(path, sizeof(path), "%s/pwmchip%u", quorvin_sysfs_dir(), number);
	if (len < 0 || static_cast<size_t>(len) >= sizeof(path)) {
		errno = ENAMETOOLONG;
		return nullptr;
	}

	const int dirfd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (dirfd < 0)
		return nullptr;

	uint64_t npwm = 0;
	if (attr_read_u64_at(dirfd, "npwm", &npwm) < 0) {
		close_keep_errno(dirfd);
		return nullptr;
	}

	auto *chip = static_cast<struct pwm_chip *>(calloc(1, sizeof(struct pwm_chip)));
	if (chip == nullptr) {
		close_keep_errno(dirfd);
		return nullptr;
	}
	chip->dirfd = dirfd;
	chip->npwm = npwm > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(npwm);
	return chip;
}

extern "C" struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel)
{
	if (chip == nullptr || channel >= chip->npwm) {
		errno = EINVAL;
		return nullptr;
	}

	for (size_t i = 0; i < chip->nslots; ++i) {
		if (chip->slots[i].channel == channel)
			return chip->slots[i].pwm;
	}

	// Grown before the channel is taken, so that a failed allocation does
	// not leave an exported channel without a handle to release it by.
	auto *slots = static_cast<struct channel_slot *>(
		realloc(chip->slots, (chip->nslots + 1) * sizeof(struct channel_slot)));
	if (slots == nullptr)
		return nullptr;
	chip->slots = slots;

	struct pwm *pwm = sysfs_pwm_take(chip->dirfd, channel);
	if (pwm == nullptr)
		return nullptr;

	chip->slots[chip->nslots++] = { channel, pwm };
	return pwm;
}

extern "C" void pwm_chip_close(struct pwm_chip *chip)
{
	if (chip == nullptr)
		return;

	const int saved = errno;
	for (size_t i = 0; i < chip->nslots; ++i)
		sysfs_pwm_release(chip->slots[i].pwm);
	free(chip->slots);
	close(chip->dirfd);
	free(chip);
	errno = saved;
}
