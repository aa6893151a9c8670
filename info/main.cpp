// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-info: who holds each channel of PWM chips, and what it runs.
#include "chip_targets.h"
#include "info_options.h"
#include "print_chip.h"
#include "tool_text.h"

#include <quorvin.h>

#include <stdio.h>

int main(int argc, char **argv)
{
	static const char tool[] = "pwm-info";
	struct info_options options;
	if (const int status = parse_info_options(argc, argv, &options); status >= 0)
		return status;

	std::vector<chip_target> targets;
	if (!find_chip_targets(argv + options.first_chip, argc - options.first_chip, &targets)) {
		report_errno(tool, "cannot list the PWM chips");
		return 1;
	}
	if (targets.empty())
		fprintf(stderr, "%s: no PWM chips\n", tool);

	int status = 0;
	for (const chip_target &target : targets) {
		struct pwm_chip *chip = open_chip_target(target);
		if (chip == nullptr) {
			report_errno(tool, target.label.c_str());
			status = 1;
			continue;
		}
		if (!print_chip(chip, &options))
			status = 1;
		pwm_chip_close(chip);
	}
	return status;
}
