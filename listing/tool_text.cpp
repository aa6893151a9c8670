// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "tool_text.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

const char chip_help[] =
	"A CHIP is its number (0), its name (pwmchip0), a path (/dev/pwmchip0), its parent\n"
	"device (4ff00000.pwm), or the parent's device-tree path (/pwm@4ff00000) or alias (pwm0).\n";

void print_version(const char *tool)
{
	printf("%s %s\nCopyright 2026 The pwm-sweep authors\nLicense: MIT\n", tool, PWM_TOOLS_VERSION);
}

void print_help_hint(const char *tool)
{
	fprintf(stderr, "Try '%s --help' for more information.\n", tool);
}

int common_option(const char *tool, int opt, void (*print_usage)())
{
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

void report_errno(const char *tool, const char *what)
{
	fprintf(stderr, "%s: %s: %s\n", tool, what, strerror(errno));
}
