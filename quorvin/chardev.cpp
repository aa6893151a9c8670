#include "chardev.h"

#include <quorvin.h>

#include "env_dirs.h"
#include "keep_errno.h"
#include "pwm_uapi.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

int chardev_open(unsigned int chip)
{
	char path[PATH_MAX];
	if (chip_path(path, sizeof(path), quorvin_dev_dir(), chip) < 0)
		return -1;

	const int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd < 0)
		return -1;

	// Freeing a channel this file never requested changes nothing on a
	// PWM chip and fails (ENOTTY) on any other device, so it tells the two
	// apart without touching the hardware.
	struct stat st;
	if (fstat(fd, &st) < 0 || !S_ISCHR(st.st_mode) || ioctl(fd, PWM_IOCTL_FREE, 0UL) < 0) {
		close_keep_errno(fd);
		return -1;
	}
	return fd;
}

int chardev_request(int fd, unsigned int channel)
{
	return ioctl(fd, PWM_IOCTL_REQUEST, static_cast<unsigned long>(channel));
}

int chardev_apply(int fd, unsigned int channel, const struct pwm_waveform *wf)
{
	const struct pwmchip_waveform kwf = {
		channel, 0, wf->period_length_ns, wf->duty_length_ns, wf->duty_offset_ns,
	};
	return ioctl(fd, PWM_IOCTL_SETROUNDEDWF, &kwf);
}
