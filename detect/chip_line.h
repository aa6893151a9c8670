// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-detect's line for one chip.
#ifndef PWM_DETECT_CHIP_LINE_H
#define PWM_DETECT_CHIP_LINE_H

struct pwm_chip;

// Prints "pwmchipN [PARENT] (C channels) DRIVER ACCESS" on standard output:
// ACCESS is the device node the library drives the chip through, or "sysfs";
// a name the kernel does not show is "-". False, with a message on standard
// error and no line, where the chip's channel count cannot be read. (The
// form visit_chips takes; unused is not read.)
bool print_chip_line(struct pwm_chip *chip, void *unused);

#endif
