// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "attr_io.h"

#include "keep_errno.h"
#include "kernel_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

int attr_write_u64(int fd, uint64_t v)
{
	// Built backwards from the end: no formatting library in the hot path.
	char buf[24];
	char *end = buf + sizeof(buf);
	char *p = end;
	*--p = '\n';
	do {
		*--p = static_cast<char>('0' + v % 10);
		v /= 10;
	} while (v != 0);

	return attr_write_text(fd, p, static_cast<size_t>(end - p));
}

int attr_write_text(int fd, const char *text, size_t len)
{
	const ssize_t n = pwrite(fd, text, len, 0);
	if (n < 0)
		return -1;
	if (static_cast<size_t>(n) != len) {
		errno = EIO;
		return -1;
	}
	return 0;
}

int attr_read_line(int fd, char *buf, size_t size)
{
	const ssize_t n = pread(fd, buf, size - 1, 0);
	if (n < 0)
		return -1;
	buf[n] = '\0';
	char *nl = static_cast<char *>(memchr(buf, '\n', static_cast<size_t>(n)));
	if (nl == nullptr && static_cast<size_t>(n) == size - 1) {
		// A full buffer without the line's end: the line is whole only if
		// the file ends or the line does right after it.
		char next = '\0';
		const ssize_t more = pread(fd, &next, 1, n);
		if (more < 0)
			return -1;
		if (more == 1 && next != '\n') {
			errno = EOVERFLOW;
			return -1;
		}
	}
	const size_t len = nl != nullptr ? static_cast<size_t>(nl - buf) : static_cast<size_t>(n);
	// No attribute holds a NUL; a line that does is not one to read.
	if (memchr(buf, '\0', len) != nullptr) {
		errno = EINVAL;
		return -1;
	}
	buf[len] = '\0';
	return 0;
}

int attr_read_u64(int fd, uint64_t *v)
{
	char buf[32];
	if (attr_read_line(fd, buf, sizeof(buf)) < 0)
		return -1;

	uint64_t value = 0;
	const char *p = buf;
	for (; *p >= '0' && *p <= '9'; ++p) {
		const uint64_t digit = static_cast<uint64_t>(*p - '0');
		if (value > (UINT64_MAX - digit) / 10) {
			errno = ERANGE;
			return -1;
		}
		value = value * 10 + digit;
	}
	if (p == buf || *p != '\0') {
		errno = EINVAL;
		return -1;
	}
	*v = value;
	return 0;
}

int attr_read_u64_at(int dirfd, const char *name, uint64_t *v)
{
	const int fd = kernel_file_open(dirfd, name, O_RDONLY);
	if (fd < 0)
		return -1;
	const int ret = attr_read_u64(fd, v);
	close_keep_errno(fd);
	return ret;
}
