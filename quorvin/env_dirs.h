// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Where the library looks for the kernel's PWM interfaces. Tests and
// demonstrations point it at made-up folders through the environment; a
// privileged program ignores that (secure_getenv), so that its caller cannot
// redirect its writes.
//
// A variable that is set but empty is refused, all three alike: each call
// below then gives NULL with EINVAL, and what needs the place fails with
// that errno (the debugfs listing counts as not there to read). Taken as
// unset, it would send a script whose variable came out empty to the real
// chips it meant to stay away from.
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

// Writes DIR/pwmchipN into buf. 0, or -1 with errno: ENAMETOOLONG where it
// does not fit, and a NULL dir (a refused variable above) keeps the errno
// that came with it.
int chip_path(char *buf, size_t size, const char *dir, unsigned int chip);

#endif
