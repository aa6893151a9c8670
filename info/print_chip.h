// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-info's listing of one chip.
#ifndef PWM_INFO_PRINT_CHIP_H
#define PWM_INFO_PRINT_CHIP_H

struct info_options;
struct pwm_chip;

// Prints "pwmchipN - C channels:" and a line per channel on standard output:
// "\tchannel M:\tHOLDER\tWAVEFORM", and with -P, for a free channel of a
// chip with a device node, "\trounded period=P duty-step=S". A channel that
// cannot be read is reported on standard error and skipped, and so is a
// chip whose channel count cannot be read. true when every channel was
// shown. ctx points to the tool's struct info_options (the
// form visit_chips takes).
bool print_chip(struct pwm_chip *chip, void *ctx);

#endif
