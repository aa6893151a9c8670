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
	int opt;
	while ((opt = getopt_long(argc, argv, "+hv", options, nullptr)) != -1) {
		switch (opt) {
		case 'h':
			print_usage();
			return 0;
		case 'v':
			print_version(tool);
			return 0;
		default:
			print_help_hint(tool);
			return 1;
		}
	}

	std::vector<chip_target> targets;
	if (!find_chip_targets(argv + optind, argc - optind, &targets)) {
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
		print_chip_line(chip);
		pwm_chip_close(chip);
	}
	return status;
}
