// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Run as a user whom udev gives the PWM attributes: exports a channel and
// measures how long until its folder appears and until all four attributes
// that the library keeps open can be opened for writing by this user.
//
//   export-timing CHIPDIR CHANNEL
//
// Prints "appeared_us writable_us" since the start of the export's write.
// Exit status 0, or 1 if the export failed or the attributes stayed
// unwritable for 5 s.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static long long now_us()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

int main(int argc, char **argv)
{
	if (argc != 3) {
		fprintf(stderr, "usage: export-timing CHIPDIR CHANNEL\n");
		return 2;
	}
	const char *chip = argv[1];
	const char *channel = argv[2];
	const char *const attrs[] = { "period", "duty_cycle", "enable", "polarity" };

	char path[512];
	snprintf(path, sizeof(path), "%s/export", chip);
	const int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd < 0) {
		fprintf(stderr, "open %s: %s\n", path, strerror(errno));
		return 1;
	}
	char text[32];
	const int len = snprintf(text, sizeof(text), "%s\n", channel);
	const long long start = now_us();
	if (write(fd, text, static_cast<size_t>(len)) != len) {
		fprintf(stderr, "export %s: %s\n", channel, strerror(errno));
		close(fd);
		return 1;
	}
	close(fd);

	long long appeared = -1;
	size_t writable = 0; // attributes opened so far, in order
	const struct timespec pause = { 0, 500L * 1000 };
	while (now_us() - start < 5000000LL) {
		if (appeared < 0) {
			struct stat st;
			snprintf(path, sizeof(path), "%s/pwm%s", chip, channel);
			if (stat(path, &st) == 0)
				appeared = now_us() - start;
		}
		while (appeared >= 0 && writable < sizeof(attrs) / sizeof(attrs[0])) {
			snprintf(path, sizeof(path), "%s/pwm%s/%s", chip, channel, attrs[writable]);
			const int afd = open(path, O_RDWR | O_CLOEXEC);
			if (afd < 0)
				break;
			close(afd);
			++writable;
		}
		if (writable == sizeof(attrs) / sizeof(attrs[0])) {
			printf("%lld %lld\n", appeared, now_us() - start);
			return 0;
		}
		nanosleep(&pause, nullptr);
	}
	fprintf(stderr, "pwm%s: %zu of 4 attributes writable after 5 s: %s\n", channel, writable,
		strerror(errno));
	return 1;
}
