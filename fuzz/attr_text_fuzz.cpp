// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The readers of what the kernel writes, over any bytes a driver or a vendor
// kernel might put there: a sysfs attribute (a number, a polarity) and the
// debugfs listing. Each gives a value or an error, never reads or writes
// past a buffer, and a number is read only where the whole first line is
// one.
#include "attr_io.h"
#include "debugfs.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int attr_fd = -1;
int listing_fd = -1;

int memfd_holding(const uint8_t *data, size_t size, int fd)
{
	if (ftruncate(fd, 0) < 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
		abort();
	return fd;
}

// What the number reader must answer: the first line, whole in the reader's
// 32-byte buffer, of decimal digits only, fitting 64 bits.
bool expected_number(const uint8_t *data, size_t size, uint64_t *value)
{
	const auto *nl = static_cast<const uint8_t *>(memchr(data, '\n', size));
	const size_t len = nl != nullptr ? static_cast<size_t>(nl - data) : size;
	if (len == 0 || len > 31)
		return false;
	uint64_t v = 0;
	for (size_t i = 0; i < len; ++i) {
		if (data[i] < '0' || data[i] > '9')
			return false;
		const uint64_t digit = data[i] - '0';
		if (v > (UINT64_MAX - digit) / 10)
			return false;
		v = v * 10 + digit;
	}
	*value = v;
	return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	attr_fd = memfd_create("attr", 0);
	listing_fd = memfd_create("listing", 0);
	if (attr_fd < 0 || listing_fd < 0)
		abort();
	char path[64];
	snprintf(path, sizeof(path), "/proc/self/fd/%d", listing_fd);
	setenv("QUORVIN_DEBUGFS_PWM", path, 1);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const int fd = memfd_holding(data, size, attr_fd);

	uint64_t want = 0;
	const bool ok = expected_number(data, size, &want);
	uint64_t got = 0;
	errno = 0;
	const int ret = attr_read_u64(fd, &got);
	if ((ret == 0) != ok || (ok && got != want))
		abort();
	if (ret < 0 && errno != EINVAL && errno != ERANGE && errno != EOVERFLOW)
		abort();

	// The polarity's small buffer: a string that ends inside it, or an error.
	char polarity[16];
	memset(polarity, 'x', sizeof(polarity));
	if (attr_read_line(fd, polarity, sizeof(polarity)) == 0 &&
	    memchr(polarity, '\0', sizeof(polarity)) == nullptr)
		abort();

	// The same bytes as the debugfs listing: any answer, a label that ends
	// inside its buffer, and the documented errno on failure.
	memfd_holding(data, size, listing_fd);
	for (unsigned int chip = 0; chip < 3; ++chip) {
		struct debugfs_channel entry;
		errno = 0;
		if (debugfs_read_channel(chip, chip % 2, &entry) == 0) {
			if (memchr(entry.label, '\0', sizeof(entry.label)) == nullptr)
				abort();
		} else if (errno != ENODATA && errno != EIO) {
			abort();
		}
	}
	return 0;
}
