// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-detect: one line per PWM chip, in number order.
#include "chip_line.h"
#include "chip_targets.h"
#include "tool_text.h"

#include <quorvin.h>

#include <getopt.h>
#include <stdio.h>

namespace {

const char tool[] = "pwm-detect";

void print_usage()
{
	printf("Usage: %s [OPTIONS] [CHIP]...\n"
	       "List PWM chips: number, parent device, channel count, driver, and whether the\n"
	       "library drives each through its device node or through sysfs. Without CHIP, every chip.\n"
	       "%s\n"
	       "Options:\n"
	       "  -h, --help     print this help and exit\n"
	       "  -v, --version  print the version and exit\n",
	       tool, chip_help);
}

} // namespace

int main(int argc, char **argv)
{
	static const struct option options[] = {
		{ "help", no_argument, nullptr, 'h' },
		{ "version", no_argument, nullptr, 'v' },
		{ nullptr, 0, nullptr, 0 },
	};
	const int opt = getopt_long(argc, argv, "+hv", options, nullptr);
	if (opt != -1)
		return common_option(tool, opt, print_usage);

	return visit_chips(tool, argv + optind, argc - optind, print_chip_line, nullptr);
}
