// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "info_options.h"

#include "chip_targets.h"
#include "tool_text.h"

#include <errno.h>
#include <getopt.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const char tool[] = "pwm-info";

void print_usage()
{
	printf("Usage: %s [OPTIONS] [CHIP]...\n"
	       "       %s -g N [-u UNIT] CHIP\n"
	       "Show each channel of PWM chips: who holds it and the waveform it runs.\n"
	       "Without CHIP, every chip.\n"
	       "%s\n"
	       "Options:\n"
	       "  -P, --period=NS  also show, for each free channel of a chip with a device node,\n"
	       "                   the period the hardware makes of NS and its duty step there\n"
	       "  -g, --get=N      show channel N of the one CHIP as key=value lines, for scripts\n"
	       "  -u, --unit=UNIT  with -g, also give the times in UNIT: ns, us, ms or s\n"
	       "  -h, --help       print this help and exit\n"
	       "  -v, --version    print the version and exit\n",
	       tool, tool, chip_help);
}

// Decimal nanoseconds from 1 to 2^63 - 1, the periods the library takes.
bool parse_period(const char *text, uint64_t *period)
{
	if (*text < '0' || *text > '9')
		return false;
	char *end = nullptr;
	errno = 0;
	const unsigned long long n = strtoull(text, &end, 10);
	if (errno != 0 || *end != '\0' || n == 0 || n > INT64_MAX)
		return false;
	*period = n;
	return true;
}

} // namespace

int parse_info_options(int argc, char **argv, struct info_options *options)
{
	static const struct option long_options[] = {
		{ "period", required_argument, nullptr, 'P' }, { "get", required_argument, nullptr, 'g' },
		{ "unit", required_argument, nullptr, 'u' },   { "help", no_argument, nullptr, 'h' },
		{ "version", no_argument, nullptr, 'v' },      { nullptr, 0, nullptr, 0 },
	};
	*options = { 0, false, 0, UNIT_NS, 0 };
	bool unit_given = false;
	int opt;
	while ((opt = getopt_long(argc, argv, "+P:g:u:hv", long_options, nullptr)) != -1) {
		switch (opt) {
		case 'P':
			if (!parse_period(optarg, &options->period)) {
				fprintf(stderr, "%s: invalid period '%s'\n", tool, optarg);
				return 1;
			}
			break;
		case 'g':
			if (!parse_unsigned(optarg, &options->channel)) {
				fprintf(stderr, "%s: invalid channel '%s'\n", tool, optarg);
				return 1;
			}
			options->get = true;
			break;
		case 'u':
			if (!parse_time_unit(optarg, &options->unit)) {
				fprintf(stderr, "%s: invalid unit '%s': not ns, us, ms or s\n", tool, optarg);
				return 1;
			}
			unit_given = true;
			break;
		default:
			return common_option(tool, opt, print_usage);
		}
	}
	options->first_chip = optind;
	if (unit_given && !options->get) {
		fprintf(stderr, "%s: -u goes with -g\n", tool);
		return 1;
	}
	if (options->get && (argc - optind != 1 || options->period != 0)) {
		fprintf(stderr, "%s: -g takes exactly one CHIP, and no -P\n", tool);
		print_help_hint(tool);
		return 1;
	}
	return -1;
}
