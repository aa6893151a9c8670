// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A channel whose period is shared with a sibling that another process keeps
// switching on at a longer period and off again, through raw ioctls of its
// own: the library must never report a waveform made that the hardware does
// not run.
//   race-check CHIP CHANNEL SIBLING ROUNDS PERIOD DUTY
// Each round switches CHANNEL off, then asks PERIOD/DUTY through libquorvin;
// after each success debugfs ("actual configuration") must show PERIOD.
// Prints the counts; exit status 0 when no success was wrong, 1 otherwise,
// 2 when the round could not be run at all.
#include "pwm_uapi.h"

#include <quorvin.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

// The sibling: on at ten times the period, off, on, ... until killed.
static void race(unsigned chip, unsigned sibling, uint64_t period)
{
	char path[64];
	snprintf(path, sizeof path, "/dev/pwmchip%u", chip);
	const int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd < 0 || ioctl(fd, PWM_IOCTL_REQUEST, static_cast<unsigned long>(sibling)) < 0) {
		perror("race-check: sibling");
		_exit(2);
	}
	pwmchip_waveform on{ sibling, 0, period * 10, period, 0 };
	pwmchip_waveform off{ sibling, 0, 0, 0, 0 };
	for (;;) {
		ioctl(fd, PWM_IOCTL_SETROUNDEDWF, &on);
		ioctl(fd, PWM_IOCTL_SETROUNDEDWF, &off);
	}
}

// The channel's period as debugfs shows the hardware's; 0 where unreadable.
static uint64_t actual_period(unsigned chip, unsigned channel)
{
	FILE *f = fopen("/sys/kernel/debug/pwm", "re");
	if (f == nullptr)
		return 0;
	char line[256];
	bool in_chip = false, in_channel = false;
	uint64_t period = 0;
	while (fgets(line, sizeof line, f) != nullptr) {
		char *end = nullptr;
		if (line[0] >= '0' && line[0] <= '9') {
			in_chip = strtoul(line, &end, 10) == chip && *end == ':';
		} else if (const char *p = strstr(line, " pwm-"); in_chip && p == line) {
			in_channel = strtoul(p + 5, &end, 10) == channel && end != p + 5;
		} else if (const char *a = strstr(line, "actual configuration:");
			   in_channel && a != nullptr) {
			// "duty/period [+offset]"
			const char *slash = strchr(a, '/');
			period = slash != nullptr ? strtoull(slash + 1, &end, 10) : 0;
			break;
		}
	}
	fclose(f);
	return period;
}

int main(int argc, char **argv)
{
	if (argc != 7) {
		fprintf(stderr, "usage: race-check CHIP CHANNEL SIBLING ROUNDS PERIOD DUTY\n");
		return 2;
	}
	const unsigned chip = static_cast<unsigned>(strtoul(argv[1], nullptr, 10));
	const unsigned channel = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
	const unsigned sibling = static_cast<unsigned>(strtoul(argv[3], nullptr, 10));
	const long rounds = strtol(argv[4], nullptr, 10);
	const uint64_t period = strtoull(argv[5], nullptr, 10);
	const uint64_t duty = strtoull(argv[6], nullptr, 10);

	pwm_chip *c = pwm_chip_open_by_number(chip);
	pwm *ch = c != nullptr ? pwm_chip_get_pwm(c, channel) : nullptr;
	if (ch == nullptr) {
		perror("race-check: library");
		return 2;
	}
	const pid_t pid = fork();
	if (pid == 0)
		race(chip, sibling, period);

	long made = 0, refused = 0, wrong = 0, unreadable = 0;
	long by_errno[4] = {}; // EINVAL, EAGAIN, EIO, other
	for (long i = 0; i < rounds; ++i) {
		pwm_waveform off{ 0, 0, 0 };
		pwm_waveform wf{ period, duty, 0 };
		if (pwm_set_waveform(ch, &off) < 0 || pwm_set_waveform(ch, &wf) < 0) {
			++refused;
			++by_errno[errno == EINVAL ? 0 : errno == EAGAIN ? 1 : errno == EIO ? 2 : 3];
			continue;
		}
		++made;
		const uint64_t actual = actual_period(chip, channel);
		if (actual == 0)
			++unreadable;
		else if (actual != period)
			++wrong;
	}
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
	pwm_waveform off{ 0, 0, 0 };
	pwm_set_waveform(ch, &off);
	pwm_chip_close(c);
	printf("rounds %ld made %ld refused %ld (EINVAL %ld, EAGAIN %ld, EIO %ld, other %ld) wrong %ld "
	       "unreadable %ld\n",
	       rounds, made, refused, by_errno[0], by_errno[1], by_errno[2], by_errno[3], wrong, unreadable);
	return wrong == 0 && unreadable == 0 ? 0 : 1;
}
