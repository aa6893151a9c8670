// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The usual way PWM helpers set an attribute: on every call build the path,
// open it, write the value, close it. Same sweep and set-up as the floor, so
// the difference is the per-call path lookup and open/close alone.
#include "sweep_args.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool set_attr(const sweep_args &a, const char *name, uint64_t v)
{
	char path[4096];
	int n = snprintf(path, sizeof path, "%s/pwmchip%u/pwm%u/%s", a.root, a.chip, a.channel, name);
	if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
		errno = ENAMETOOLONG;
		return false;
	}
	int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	char buf[line_max];
	const char *p = format_line(v, buf);
	ssize_t len = buf + line_max - p;
	bool ok = write(fd, p, static_cast<size_t>(len)) == len;
	int saved = errno;
	close(fd);
	errno = saved;
	return ok;
}

} // namespace

int main(int argc, char **argv)
{
	sweep_args a;
	if (!parse_sweep_args(argc, argv, &a))
		return 2;

	if (!set_attr(a, "duty_cycle", 0) || !set_attr(a, "period", a.period) || !set_attr(a, "enable", 1))
		goto fail;
	for (uint64_t d = 0; a.period - d >= a.step;) {
		d += a.step;
		if (!set_attr(a, "duty_cycle", d))
			goto fail;
	}
	return 0;
fail:
	fprintf(stderr, "%s: %s\n", argv[0], strerror(errno));
	return 1;
}
