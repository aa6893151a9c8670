// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The bare baseline for the timing row: the cheapest way to walk a duty
// sweep through sysfs. duty_cycle is opened once and each value goes out as
// one pwrite of "N\n", exactly the duties pwm-sweep -P PERIOD -S STEP sends
// (upward steps only). The channel's period must already allow them.
//   pwrite-loop CHANNEL_DIR PERIOD STEP
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static size_t format_u64(uint64_t v, char *end)
{
	char *p = end;
	*--p = '\n';
	do {
		*--p = static_cast<char>('0' + v % 10);
		v /= 10;
	} while (v);
	return static_cast<size_t>(end - p);
}

int main(int argc, char **argv)
{
	if (argc != 4) {
		fprintf(stderr, "usage: pwrite-loop CHANNEL_DIR PERIOD STEP\n");
		return 2;
	}
	uint64_t period = strtoull(argv[2], nullptr, 10);
	uint64_t step = strtoull(argv[3], nullptr, 10);
	if (step == 0) {
		fprintf(stderr, "pwrite-loop: step must be positive\n");
		return 2;
	}
	char path[512];
	snprintf(path, sizeof path, "%s/duty_cycle", argv[1]);
	int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd < 0) {
		perror(path);
		return 1;
	}
	char buf[24];
	char *end = buf + sizeof buf;
	for (uint64_t duty = 0; duty <= period; duty += step) {
		size_t len = format_u64(duty, end);
		if (pwrite(fd, end - len, len, 0) != static_cast<ssize_t>(len)) {
			fprintf(stderr, "pwrite-loop: duty %llu: %s\n", static_cast<unsigned long long>(duty),
				strerror(errno));
			return 1;
		}
	}
	close(fd);
	return 0;
}
