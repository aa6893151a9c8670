// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "chip_line.h"

#include "tool_text.h"

#include <quorvin.h>

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace {

const char tool[] = "pwm-detect";

const char *or_dash(const char *name)
{
	return name != nullptr ? name : "-";
}

// Where the library finds device nodes, shown as it finds them (an empty
// QUORVIN_DEV_DIR, which the library refuses, gives no chip a device node).
const char *dev_dir()
{
	const char *dir = secure_getenv("QUORVIN_DEV_DIR");
	return dir != nullptr ? dir : "/dev";
}

} // namespace

bool print_chip_line(struct pwm_chip *chip, void * /*unused*/)
{
	const unsigned int number = pwm_chip_get_number(chip);
	const unsigned int npwm = pwm_chip_get_npwm(chip);
	if (npwm == 0) {
		// No count to show: the library said why.
		report_errno(tool, ("pwmchip" + std::to_string(number) + ": channel count").c_str());
		return false;
	}
	printf("pwmchip%u [%s] (%u %s) %s ", number, or_dash(pwm_chip_get_device_name(chip)), npwm,
	       npwm == 1 ? "channel" : "channels", or_dash(pwm_chip_get_driver_name(chip)));
	char node[PATH_MAX];
	snprintf(node, sizeof(node), "%s/pwmchip%u", dev_dir(), number);
	if (pwm_chip_has_device_node(chip) != 0) {
		printf("%s\n", node);
		return true;
	}
	printf("sysfs\n");
	// A device node this user may not open is not the same as none: the
	// library drives the chip through sysfs then, and the user is told why.
	if (struct pwm_chip *named = pwm_chip_open_by_name(node); named != nullptr) {
		pwm_chip_close(named);
	} else if (errno == EACCES || errno == EPERM) {
		fflush(stdout);
		const std::string what = std::string(node) + " (driven through sysfs)";
		report_errno(tool, what.c_str());
	}
	return true;
}
