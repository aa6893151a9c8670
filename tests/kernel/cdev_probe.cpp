// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Reaches a PWM chip's character device directly, without libquorvin, for
// the kernel suite: reading back what the hardware holds, and the bare
// baseline the tool is timed against.
//   cdev-probe get CHIP CHANNEL
//       prints the channel's waveform as "period duty offset" (PWM_IOCTL_GETWF)
//   cdev-probe loop CHIP CHANNEL PERIOD STEP
//       one PWM_IOCTL_SETROUNDEDWF per duty 0, STEP, ... up to PERIOD: the
//       waveforms pwm-sweep -P PERIOD -S STEP applies (upward steps only)
// Each run requests the channel on its own open file; closing it releases
// the channel and leaves the output as it is.
#include "pwm_uapi.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int fail(const char *what)
{
	fprintf(stderr, "cdev-probe: %s: %s\n", what, strerror(errno));
	return 1;
}

static int usage()
{
	fprintf(stderr, "usage: cdev-probe get CHIP CHANNEL | loop CHIP CHANNEL PERIOD STEP\n");
	return 2;
}

int main(int argc, char **argv)
{
	const bool get = argc == 4 && strcmp(argv[1], "get") == 0;
	const bool loop = argc == 6 && strcmp(argv[1], "loop") == 0;
	if (!get && !loop)
		return usage();
	char path[64];
	snprintf(path, sizeof path, "/dev/pwmchip%s", argv[2]);
	const unsigned channel = static_cast<unsigned>(strtoul(argv[3], nullptr, 10));

	const int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd < 0)
		return fail(path);
	if (ioctl(fd, PWM_IOCTL_REQUEST, static_cast<unsigned long>(channel)) < 0)
		return fail("PWM_IOCTL_REQUEST");

	pwmchip_waveform wf{};
	wf.hwpwm = channel;
	if (get) {
		if (ioctl(fd, PWM_IOCTL_GETWF, &wf) < 0)
			return fail("PWM_IOCTL_GETWF");
		printf("%llu %llu %llu\n", static_cast<unsigned long long>(wf.period_length_ns),
		       static_cast<unsigned long long>(wf.duty_length_ns),
		       static_cast<unsigned long long>(wf.duty_offset_ns));
		return 0;
	}

	const uint64_t period = strtoull(argv[4], nullptr, 10);
	const uint64_t step = strtoull(argv[5], nullptr, 10);
	if (step == 0)
		return usage();
	wf.period_length_ns = period;
	for (uint64_t duty = 0; duty <= period; duty += step) {
		wf.duty_length_ns = duty;
		if (ioctl(fd, PWM_IOCTL_SETROUNDEDWF, &wf) < 0)
			return fail("PWM_IOCTL_SETROUNDEDWF");
	}
	close(fd);
	return 0;
}
