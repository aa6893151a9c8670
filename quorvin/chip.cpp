// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The library's handles: a chip, reached through its character device where
// the kernel offers one and through sysfs otherwise, and the channels taken
// from it. The path is chosen when the chip is opened; a channel that was
// exported through sysfs on a chip with a device node is taken through sysfs.
#include <quorvin.h>

#include "attr_io.h"
#include "chardev.h"
#include "chip_name.h"
#include "debugfs.h"
#include "env_dirs.h"
#include "keep_errno.h"
#include "pwm_info.h"
#include "sysfs_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// Only the entry points leave the library.
#define QUORVIN_API extern "C" __attribute__((visibility("default")))

struct pwm_chip {
	unsigned int number;
	int chardev_fd; // -1 on the sysfs path
	// On the sysfs path from the open; on the device path only once a
	// channel has to be taken through sysfs, else -1.
	int sysfs_dirfd;
	// Known from the open on the sysfs path; on the device path read from
	// sysfs when first asked (the device checks channels itself).
	mutable bool npwm_known;
	mutable unsigned int npwm;
	// Channels taken so far; asking twice for one channel gives one handle.
	struct pwm **pwms;
	size_t npwms;
	// The parent device's and its driver's names, read when first asked.
	mutable bool names_read;
	mutable bool has_device_name;
	mutable bool has_driver_name;
	mutable char device_name[NAME_MAX + 1];
	mutable char driver_name[NAME_MAX + 1];
};

// Exactly one of the two paths is set while the channel is held; neither
// once it is released.
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
	// The kernel makes no chip without channels, nor one of more than an
	// unsigned int counts: such a count is refused (ERANGE), not clamped.
	if (count == 0 || count > UINT_MAX) {
		close(dirfd);
		errno = ERANGE;
		return -1;
	}
	*npwm = static_cast<unsigned int>(count);
	return dirfd;
}

// Opens chip through its device node, or through sysfs where the device
// does not serve; with device_named, the caller named the node itself, and
// only the device will do.
static struct pwm_chip *open_chip(unsigned int chip, bool device_named)
{
	auto *handle = static_cast<struct pwm_chip *>(calloc(1, sizeof(struct pwm_chip)));
	if (handle == nullptr)
		return nullptr;

	handle->number = chip;
	handle->sysfs_dirfd = -1;
	handle->chardev_fd = chardev_open(chip);
	if (handle->chardev_fd < 0 && device_named) {
		free_keep_errno(handle);
		return nullptr;
	}
	if (handle->chardev_fd < 0) {
		// Whatever kept the device from serving, sysfs has the last
		// word, and its errno is the one the caller sees.
		handle->sysfs_dirfd = sysfs_open_chip(chip, &handle->npwm);
		if (handle->sysfs_dirfd < 0) {
			free_keep_errno(handle);
			return nullptr;
		}
		handle->npwm_known = true;
	}
	return handle;
}

QUORVIN_API struct pwm_chip *pwm_chip_open_by_number(unsigned int chip)
{
	return open_chip(chip, false);
}

// Whether name is chip number's device node, by its own path or a link.
static bool names_device_node(const char *name, unsigned int number)
{
	char path[PATH_MAX];
	struct stat named;
	struct stat node;
	const int saved = errno;
	const bool same = chip_path(path, sizeof(path), quorvin_dev_dir(), number) == 0 &&
		stat(name, &named) == 0 && stat(path, &node) == 0 && named.st_dev == node.st_dev &&
		named.st_ino == node.st_ino;
	errno = saved;
	return same;
}

QUORVIN_API struct pwm_chip *pwm_chip_open_by_name(const char *name)
{
	if (name == nullptr || *name == '\0') {
		errno = EINVAL;
		return nullptr;
	}
	unsigned int number = 0;
	if (chip_number_by_name(name, &number) < 0)
		return nullptr;
	return open_chip(number, names_device_node(name, number));
}

QUORVIN_API unsigned int pwm_chip_get_number(const struct pwm_chip *chip)
{
	return chip->number;
}

QUORVIN_API unsigned int pwm_chip_get_npwm(const struct pwm_chip *chip)
{
	if (!chip->npwm_known) {
		int dirfd = sysfs_open_chip(chip->number, &chip->npwm);
		if (dirfd < 0)
			return 0; // with sysfs's errno
		close(dirfd);
		chip->npwm_known = true;
	}
	return chip->npwm;
}

static void read_names(const struct pwm_chip *chip)
{
	if (chip->names_read)
		return;
	const int saved = errno;
	chip->has_device_name = chip_link_name(chip->number, "device", chip->device_name,
					       sizeof(chip->device_name)) == 0;
	chip->has_driver_name = chip_link_name(chip->number, "device/driver", chip->driver_name,
					       sizeof(chip->driver_name)) == 0;
	chip->names_read = true;
	errno = saved;
}

QUORVIN_API const char *pwm_chip_get_device_name(const struct pwm_chip *chip)
{
	read_names(chip);
	return chip->has_device_name ? chip->device_name : nullptr;
}

QUORVIN_API const char *pwm_chip_get_driver_name(const struct pwm_chip *chip)
{
	read_names(chip);
	return chip->has_driver_name ? chip->driver_name : nullptr;
}

QUORVIN_API int pwm_chip_has_device_node(const struct pwm_chip *chip)
{
	return chip->chardev_fd >= 0 ? 1 : 0;
}

// The chip's sysfs folder, opened on the device path only once needed.
static int open_sysfs_lazily(struct pwm_chip *chip)
{
	if (chip->sysfs_dirfd >= 0)
		return 0;
	chip->sysfs_dirfd = sysfs_open_chip(chip->number, &chip->npwm);
	if (chip->sysfs_dirfd < 0)
		return -1;
	chip->npwm_known = true;
	return 0;
}

// The chip's sysfs folder for one of its channels. The folder, and its count
// with it, goes with its parent device (an unbound driver), while handles
// opened before stay open: a chip gone is ENODEV, a count refused says why,
// and a channel beyond the count is EINVAL.
static int sysfs_channel_of(struct pwm_chip *chip, unsigned int channel)
{
	if (chip == nullptr) {
		errno = EINVAL;
		return -1;
	}
	if (open_sysfs_lazily(chip) < 0) {
		if (errno == ENOENT)
			errno = ENODEV;
		return -1;
	}
	if (channel >= chip->npwm) {
		errno = EINVAL;
		return -1;
	}
	return 0;
}

// The device refuses a channel that sysfs exported (EBUSY). Such a channel
// is someone's on purpose, a boot script's or a udev rule's, and sysfs can
// still drive it; any other holder keeps the EBUSY.
static bool exported_through_sysfs(struct pwm_chip *chip, unsigned int channel)
{
	return open_sysfs_lazily(chip) == 0 &&
		sysfs_channel_exported(chip->sysfs_dirfd, chip->number, channel) == 0;
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

// The handle this chip already has on channel, if any.
static struct pwm *held_here(const struct pwm_chip *chip, unsigned int channel)
{
	for (size_t i = 0; i < chip->npwms; ++i) {
		if (chip->pwms[i]->channel == channel)
			return chip->pwms[i];
	}
	return nullptr;
}

static bool released(const struct pwm *pwm)
{
	return pwm->sysfs == nullptr && pwm->cdev == nullptr;
}

// Takes channel into pwm, through the device or sysfs as the chip's path
// goes, or through sysfs (exported) whatever the path where exported is set.
static bool take_into(struct pwm_chip *chip, struct pwm *pwm, bool exported)
{
	if (exported) {
		pwm->sysfs = sysfs_channel_take(chip->sysfs_dirfd, chip->number, pwm->channel);
		return pwm->sysfs != nullptr;
	}
	return take_channel(chip, pwm);
}

// A handle on channel: the one released before (again, as held_here found
// it), taken once more, or a new one.
static struct pwm *new_handle(struct pwm_chip *chip, unsigned int channel, struct pwm *again, bool exported)
{
	if (again != nullptr)
		return take_into(chip, again, exported) ? again : nullptr;

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

	if (!take_into(chip, pwm, exported)) {
		free_keep_errno(pwm);
		return nullptr;
	}
	chip->pwms[chip->npwms++] = pwm;
	return pwm;
}

QUORVIN_API struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel)
{
	if (chip == nullptr || (chip->chardev_fd < 0 && channel >= chip->npwm)) {
		errno = EINVAL;
		return nullptr;
	}

	struct pwm *held = held_here(chip, channel);
	if (held != nullptr && !released(held))
		return held;
	return new_handle(chip, channel, held, false);
}

QUORVIN_API struct pwm *pwm_chip_export_pwm(struct pwm_chip *chip, unsigned int channel)
{
	if (sysfs_channel_of(chip, channel) < 0)
		return nullptr;
	// Held here already: through sysfs it is exported; through the device
	// it cannot be, as long as this handle holds it there.
	struct pwm *held = held_here(chip, channel);
	if (held != nullptr && !released(held)) {
		if (held->sysfs != nullptr)
			return held;
		errno = EBUSY;
		return nullptr;
	}
	return new_handle(chip, channel, held, true);
}

// The kernel's own rules for a waveform, checked alike on both paths before
// anything is written or asked.
static bool waveform_valid(const struct pwm_waveform *wf)
{
	const uint64_t period = wf->period_length_ns;
	return period <= INT64_MAX && wf->duty_length_ns <= period &&
		(wf->duty_offset_ns == 0 || wf->duty_offset_ns < period);
}

// A call on a handle: EINVAL for none, EBADF for one released.
static bool usable(const struct pwm *pwm)
{
	if (pwm == nullptr) {
		errno = EINVAL;
		return false;
	}
	if (released(pwm)) {
		errno = EBADF;
		return false;
	}
	return true;
}

QUORVIN_API int pwm_set_waveform(struct pwm *pwm, const struct pwm_waveform *wf)
{
	if (!usable(pwm))
		return -1;
	if (wf == nullptr || !waveform_valid(wf)) {
		errno = EINVAL;
		return -1;
	}
	if (pwm->sysfs != nullptr)
		return sysfs_channel_apply(pwm->sysfs, wf);
	return chardev_channel_apply(pwm->cdev, wf);
}

// An output with no active part is the same signal whatever its period, and
// drivers report it each their own way (some at their shortest period, some
// at the one last set, sysfs as switched off): it reads back as switched off.
static void read_back_form(struct pwm_waveform *wf)
{
	if (wf->duty_length_ns == 0)
		*wf = {};
}

QUORVIN_API int pwm_get_waveform(struct pwm *pwm, struct pwm_waveform *wf)
{
	if (!usable(pwm))
		return -1;
	if (wf == nullptr) {
		errno = EINVAL;
		return -1;
	}
	const int ret = pwm->sysfs != nullptr ? sysfs_channel_get(pwm->sysfs, wf)
					      : chardev_channel_get(pwm->cdev, wf);
	if (ret == 0)
		read_back_form(wf);
	return ret;
}

QUORVIN_API int pwm_get_hardware_waveform(struct pwm *pwm, struct pwm_waveform *wf)
{
	if (pwm == nullptr || pwm->sysfs == nullptr) {
		const int ret = pwm_get_waveform(pwm, wf);
		if (ret < 0 && errno == EOPNOTSUPP)
			errno = ENODATA;
		return ret;
	}
	if (wf == nullptr) {
		errno = EINVAL;
		return -1;
	}
	if (sysfs_channel_get_hardware(pwm->sysfs, wf) < 0)
		return -1;
	read_back_form(wf);
	return 0;
}

QUORVIN_API void pwm_release(struct pwm *pwm)
{
	if (pwm == nullptr)
		return;
	if (pwm->sysfs != nullptr)
		sysfs_channel_release(pwm->sysfs);
	if (pwm->cdev != nullptr)
		chardev_channel_free(pwm->cdev);
	pwm->sysfs = nullptr;
	pwm->cdev = nullptr;
}

QUORVIN_API int pwm_round_waveform(const struct pwm *pwm, struct pwm_waveform *wf)
{
	if (!usable(pwm))
		return -1;
	if (wf == nullptr || !waveform_valid(wf)) {
		errno = EINVAL;
		return -1;
	}
	if (pwm->sysfs != nullptr) {
		errno = EOPNOTSUPP;
		return -1;
	}
	return chardev_channel_round(pwm->cdev, wf);
}

// Who holds a channel, and what it runs, by looking only: this handle's own
// channels, the channel's sysfs folder where it is exported, and the
// kernel's debugfs listing for the rest. Nothing is requested or exported on
// the way, not even for a moment: a kernel driver binding at that moment
// would find its channel busy.
QUORVIN_API struct pwm_info *pwm_chip_get_pwm_info(struct pwm_chip *chip, unsigned int channel)
{
	if (sysfs_channel_of(chip, channel) < 0)
		return nullptr;
	if (faccessat(chip->sysfs_dirfd, "npwm", F_OK, 0) < 0 && errno == ENOENT) {
		errno = ENODEV;
		return nullptr;
	}
	struct debugfs_channel listed;
	const bool in_listing = debugfs_read_channel(chip->number, channel, &listed) == 0;
	const char *label = in_listing && listed.label[0] != '\0' ? listed.label : nullptr;

	struct pwm_waveform wf = {};
	bool has_wf = false;
	int holder = PWM_HOLDER_UNKNOWN;
	char dir[sysfs_channel_dir_size];
	if (struct pwm *own = held_here(chip, channel); own != nullptr && !released(own)) {
		holder = own->sysfs != nullptr ? PWM_HOLDER_SYSFS : PWM_HOLDER_DEVICE;
		has_wf = pwm_get_waveform(own, &wf) == 0;
	} else if (sysfs_channel_dir(chip->sysfs_dirfd, chip->number, channel, dir, sizeof(dir)) == 0) {
		holder = PWM_HOLDER_SYSFS;
		has_wf = sysfs_channel_peek(chip->sysfs_dirfd, dir, &wf) == 0;
	} else if (in_listing && !listed.requested) {
		holder = PWM_HOLDER_NONE;
	} else if (in_listing) {
		// The device's own holders are labelled "pwm-cdev (pid=N)".
		holder = chip->chardev_fd >= 0 && label != nullptr && strncmp(label, "pwm-cdev", 8) == 0
			? PWM_HOLDER_DEVICE
			: PWM_HOLDER_KERNEL;
	}
	if (!has_wf && in_listing && listed.has_actual) {
		wf = listed.actual;
		has_wf = true;
	}
	if (has_wf)
		read_back_form(&wf);
	return pwm_info_new(channel, holder, label, has_wf ? &wf : nullptr);
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
