// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "sweep_settings.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

bool is_blank(char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

// A decimal number as scripts write one: leading blanks and one sign, at
// least one digit, then nothing but blanks. Its magnitude must fit 64 bits.
bool parse_decimal(const char *text, bool *negative, uint64_t *magnitude)
{
	const char *p = text;
	while (is_blank(*p))
		++p;
	*negative = *p == '-';
	if (*p == '+' || *p == '-')
		++p;
	if (*p < '0' || *p > '9')
		return false;
	uint64_t v = 0;
	for (; *p >= '0' && *p <= '9'; ++p) {
		const auto digit = static_cast<uint64_t>(*p - '0');
		if (v > (UINT64_MAX - digit) / 10)
			return false;
		v = v * 10 + digit;
	}
	while (is_blank(*p))
		++p;
	*magnitude = v;
	return *p == '\0';
}

// A chip or channel number: 0 to 2^32 - 1, nothing cut to fit.
bool parse_index(const char *text, uint32_t *out)
{
	bool negative = false;
	uint64_t v = 0;
	if (!parse_decimal(text, &negative, &v) || (negative && v != 0) || v > UINT32_MAX)
		return false;
	*out = static_cast<uint32_t>(v);
	return true;
}

bool refuse(const char *what)
{
	errno = EINVAL;
	perror(what);
	return false;
}

} // namespace

bool parse_sweep_settings(int argc, char **argv, struct sweep_settings *settings)
{
	*settings = { 0, 0, 50000, 1 };

	// A typo must not drive another chip or period than the one meant: text
	// that is no number, or one out of its range, is refused, never cut or
	// saturated into another value. Of well-formed options the last wins.
	int opt;
	bool negative = false;
	uint64_t v = 0;
	while ((opt = getopt(argc, argv, "c:p:P:S:")) != -1) {
		switch (opt) {
		case 'c':
			if (!parse_index(optarg, &settings->chip))
				return refuse("Invalid chip number");
			break;
		case 'p':
			if (!parse_index(optarg, &settings->channel))
				return refuse("Invalid channel number");
			break;
		case 'P':
			// A negative period is a number, refused below unless a
			// later -P replaces it.
			if (!parse_decimal(optarg, &negative, &v) ||
			    (negative && v > static_cast<uint64_t>(INT64_MAX) + 1))
				return refuse("Invalid period value");
			settings->period = negative ? 0 - v : v;
			break;
		case 'S':
			if (!parse_decimal(optarg, &negative, &v) || v == 0 ||
			    v > static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0))
				return refuse("Invalid step value");
			settings->step = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
			break;
		default:
			// getopt has already said what was wrong.
			return false;
		}
	}
	// An operand is no option of this tool: "pwm-sweep 3" meant a chip.
	if (optind < argc) {
		fprintf(stderr, "Unexpected argument '%s': %s\n", argv[optind], strerror(EINVAL));
		return false;
	}

	// A negative -P reads as a period of 2^63 or more, where the duty
	// would wrap past the top of its range and the sweep never end.
	if (settings->period > static_cast<uint64_t>(INT64_MAX))
		return refuse("Invalid period value");
	return true;
}
