// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Command line and number formatting shared by the two reference sweeps.
// They take pwm-sweep's options, so the driver hands all programs one argv.
#ifndef PWM_BENCH_SWEEP_ARGS_H
#define PWM_BENCH_SWEEP_ARGS_H

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

struct sweep_args {
	unsigned chip = 0;
	unsigned channel = 0;
	uint64_t period = 50000;
	uint64_t step = 1;
	const char *root = "/sys/class/pwm";
};

inline bool parse_u64(const char *s, uint64_t max, uint64_t *out)
{
	// strtoull takes signs and spaces; a sweep bound should not.
	if (*s < '0' || *s > '9')
		return false;
	errno = 0;
	char *end;
	unsigned long long v = strtoull(s, &end, 10);
	if (errno != 0 || *end != '\0' || v > max)
		return false;
	*out = v;
	return true;
}

// Returns false (after a message on stderr) on a bad command line.
inline bool parse_sweep_args(int argc, char **argv, sweep_args *a)
{
	int opt;
	uint64_t v;
	while ((opt = getopt(argc, argv, "c:p:P:S:")) != -1) {
		switch (opt) {
		case 'c':
			if (!parse_u64(optarg, UINT_MAX, &v))
				goto bad;
			a->chip = static_cast<unsigned>(v);
			break;
		case 'p':
			if (!parse_u64(optarg, UINT_MAX, &v))
				goto bad;
			a->channel = static_cast<unsigned>(v);
			break;
		case 'P':
			if (!parse_u64(optarg, UINT64_MAX, &a->period))
				goto bad;
			break;
		case 'S':
			if (!parse_u64(optarg, UINT64_MAX, &a->step) || a->step == 0)
				goto bad;
			break;
		default:
			goto bad;
		}
	}
	if (optind != argc)
		goto bad;
	if (const char *root = getenv("QUORVIN_SYSFS_DIR"); root && *root)
		a->root = root;
	return true;
bad:
	fprintf(stderr, "usage: %s [-c chip] [-p channel] [-P period_ns] [-S step_ns]\n", argv[0]);
	return false;
}

// Longest line: 20 digits of UINT64_MAX and the newline.
constexpr int line_max = 21;

// Writes v in decimal plus '\n' so that it ends at buf + line_max, and
// returns where it starts. Backwards, so no reversal and no length pass.
inline char *format_line(uint64_t v, char *buf)
{
	char *p = buf + line_max;
	*--p = '\n';
	do {
		*--p = static_cast<char>('0' + v % 10);
		v /= 10;
	} while (v != 0);
	return p;
}

#endif
