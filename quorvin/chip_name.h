// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Finding a chip's number by a name that does not move between boots: its
// parent device's, or the parent's device-tree node path or alias.
#ifndef QUORVIN_CHIP_NAME_H
#define QUORVIN_CHIP_NAME_H

#include <stddef.h>

// The number of the chip that name names (see pwm_chip_open_by_name). 0, or
// -1 with errno (ENOENT where nothing matches).
int chip_number_by_name(const char *name, unsigned int *number);

// The last part of where the chip's "device" link points (which = "device"),
// or of where that device's "driver" link points (which = "device/driver"),
// into buf. 0, or -1 with errno.
int chip_link_name(unsigned int number, const char *which, char *buf, size_t size);

#endif
