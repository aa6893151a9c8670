// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "cdev_interpose.h"

#include <dlfcn.h>
#include <stdarg.h>
// Its declaration names the symbol defined below: where time_t is 64 bits on a
// 32-bit target, that is __ioctl_time64, which the library calls.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool is_model_chip(int fd)
{
	struct stat st;
	return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 5);
}

} // namespace

// Files of different processes differ: the shim's model is shared by every
// process that runs over it.
int64_t model_file_id(int fd)
{
	return static_cast<int64_t>(getpid()) << 32 | fd;
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	if (is_model_chip(fd)) {
		if (struct cdev_model *m = interposed_model(); m != nullptr)
			return m->ioctl(model_file_id(fd), request, arg);
	}
	static auto *real = reinterpret_cast<int (*)(int, unsigned long, ...)>(dlsym(RTLD_NEXT, "ioctl"));
	return real(fd, request, arg);
}

extern "C" int close(int fd)
{
	if (is_model_chip(fd)) {
		if (struct cdev_model *m = interposed_model(); m != nullptr)
			m->close(model_file_id(fd));
	}
	static auto *real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
	return real(fd);
}
