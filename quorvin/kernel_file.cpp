// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "kernel_file.h"

#include "keep_errno.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static bool refused_type(const struct stat *st)
{
	if (S_ISREG(st->st_mode))
		return false;
	errno = S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
	return true;
}

int kernel_file_open(int dirfd, const char *path, int flags)
{
	// Looked at first, so that a device node is not even opened; where
	// that fails, the open says why. The look after the open is the one
	// that counts, should the file be replaced in between.
	struct stat st;
	if (fstatat(dirfd, path, &st, 0) == 0 && refused_type(&st))
		return -1;
	const int fd = openat(dirfd, path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	if (fstat(fd, &st) < 0 || refused_type(&st)) {
		close_keep_errno(fd);
		return -1;
	}
	return fd;
}

FILE *kernel_file_fopen(const char *path)
{
	const int fd = kernel_file_open(AT_FDCWD, path, O_RDONLY);
	if (fd < 0)
		return nullptr;
	FILE *f = fdopen(fd, "r");
	if (f == nullptr)
		close_keep_errno(fd);
	return f;
}
