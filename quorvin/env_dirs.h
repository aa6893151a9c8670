// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Where the library looks for the kernel's PWM interfaces. Tests and
// demonstrations point it at made-up folders through the environment; a
// privileged program ignores that (secure_getenv), so that its caller cannot
// redirect its writes.
#ifndef QUORVIN_ENV_DIRS_H
#define QUORVIN_ENV_DIRS_H

#include <stddef.h>

// QUORVIN_SYSFS_DIR, else /sys/class/pwm.
const char *quorvin_sysfs_dir();

// QUORVIN_DEV_DIR, else /dev.
const char *quorvin_dev_dir();

// QUORVIN_DEBUGFS_PWM, else /sys/kernel/debug/pwm: the kernel's listing of
// the chips and what their channels run.
const char *quorvin_debugfs_pwm();

// Writes DIR/pwmchipN into buf. 0, or -1 with ENAMETOOLONG.
int chip_path(char *buf, size_t size, const char *dir, unsigned int chip);

#endif
