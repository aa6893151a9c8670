// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The chips a listing tool covers: those named on its command line, or every
// chip there is, in number order.
#ifndef PWM_LISTING_CHIP_TARGETS_H
#define PWM_LISTING_CHIP_TARGETS_H

#include <string>
#include <vector>

struct pwm_chip;

struct chip_target {
	std::string label; // how messages name it: as given, or pwmchipN
	std::string name; // a decimal chip number, or a name pwm_chip_open_by_name takes
};

// The chips named by names[0..count), or with count 0 every chip the library
// finds, by number. true, or false with errno where the chips cannot be
// listed (a kernel without PWM has none).
bool find_chip_targets(char *const *names, int count, std::vector<chip_target> *targets);

// A decimal number that fits an unsigned int, and nothing else (no blank,
// sign or unit): a chip or channel number on a command line.
bool parse_unsigned(const char *text, unsigned int *number);

// Opens a target by number or by name. NULL with errno, as the library sets it.
struct pwm_chip *open_chip_target(const struct chip_target &target);

// Opens each chip named by names[0..count) (every chip where count is 0),
// hands it to visit and closes it. A chip that cannot be opened, or that
// visit says was not shown in full, is reported under the tool's name and
// the others still go. The tool's exit status: 0, or 1.
int visit_chips(const char *tool, char *const *names, int count,
		bool (*visit)(struct pwm_chip *chip, void *ctx), void *ctx);

#endif
