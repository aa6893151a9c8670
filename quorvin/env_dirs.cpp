// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "env_dirs.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

static const char *dir_from_env(const char *name, const char *fallback)
{
	const char *dir = secure_getenv(name);
	if (dir == nullptr)
		return fallback;
	if (*dir == '\0') {
		errno = EINVAL;
		return nullptr;
	}
	return dir;
}

const char *quorvin_sysfs_dir()
{
	return dir_from_env("QUORVIN_SYSFS_DIR", "/sys/class/pwm");
}

const char *quorvin_dev_dir()
{
	return dir_from_env("QUORVIN_DEV_DIR", "/dev");
}

const char *quorvin_debugfs_pwm()
{
	return dir_from_env("QUORVIN_DEBUGFS_PWM", "/sys/kernel/debug/pwm");
}

int chip_path(char *buf, size_t size, const char *dir, unsigned int chip)
{
	if (dir == nullptr)
		return -1;
	const int len = snprintf(buf, size, "%s/pwmchip%u", dir, chip);
	if (len < 0 || static_cast<size_t>(len) >= size) {
		errno = ENAMETOOLONG;
		return -1;
	}
	return 0;
}
