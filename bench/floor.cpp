// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The floor for a duty sweep through sysfs: one pwrite of the new value on a
// duty_cycle file held open, per step, and nothing else. pwm-sweep cannot do
// less work per waveform than this, so its time is measured against it.
#include "sweep_args.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int open_attr(const sweep_args &a, const char *name)
{
	char path[4096];
	int n = snprintf(path, sizeof path, "%s/pwmchip%u/pwm%u/%s", a.root, a.chip, a.channel, name);
	if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
		errno = ENAMETOOLONG;
		return -1;
	}
	return open(path, O_WRONLY | O_CLOEXEC);
}

bool put(int fd, uint64_t v)
{
	char buf[line_max];
	const char *p = format_line(v, buf);
	ssize_t len = buf + line_max - p;
	return pwrite(fd, p, static_cast<size_t>(len), 0) == len;
}

} // namespace

int main(int argc, char **argv)
{
	sweep_args a;
	if (!parse_sweep_args(argc, argv, &a))
		return 2;

	int duty = open_attr(a, "duty_cycle");
	int period = open_attr(a, "period");
	int enable = open_attr(a, "enable");
	if (duty < 0 || period < 0 || enable < 0) {
		fprintf(stderr, "%s: open: %s\n", argv[0], strerror(errno));
		return 1;
	}

	// The set-up any sweep has to make on a freshly exported channel: the
	// first duty before the period (the old duty is above the new period),
	// then the period, then enable. After that only the duty changes.
	if (!put(duty, 0) || !put(period, a.period) || !put(enable, 1))
		goto fail;
	close(period);
	close(enable);

	for (uint64_t d = 0; a.period - d >= a.step;) {
		d += a.step;
		if (!put(duty, d))
			goto fail;
	}
	close(duty);
	return 0;
fail:
	fprintf(stderr, "%s: write: %s\n", argv[0], strerror(errno));
	return 1;
}
