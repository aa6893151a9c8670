// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-info: who holds each channel of PWM chips, and what it runs.
#include "chip_targets.h"
#include "get_channel.h"
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

	return visit_chips(tool, argv + options.first_chip, argc - options.first_chip,
			   options.get ? get_channel : print_chip, &options);
}
