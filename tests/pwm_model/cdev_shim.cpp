// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The model's chip for a program that runs as a process of its own: loaded
// with LD_PRELOAD, it keeps the chip in the file that QUORVIN_CDEV_MODEL
// names (a struct cdev_model, written by the test before the program starts
// and read back after it ends), mapped shared, so that every process over it
// sees one chip. As the kernel does at a process's end, the channels it
// still holds are freed; they are noted in held_at_exit first.
#include "cdev_interpose.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct cdev_model *mapped;

struct cdev_model *map_model()
{
	const char *path = getenv("QUORVIN_CDEV_MODEL");
	if (path == nullptr)
		return nullptr;
	const int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	struct stat st;
	void *p = MAP_FAILED;
	if (fstat(fd, &st) == 0 && st.st_size == static_cast<off_t>(sizeof(struct cdev_model)))
		p = mmap(nullptr, sizeof(struct cdev_model), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	close(fd);
	return p != MAP_FAILED ? static_cast<struct cdev_model *>(p) : nullptr;
}

__attribute__((destructor)) void free_at_exit()
{
	if (mapped == nullptr)
		return;
	for (uint32_t channel = 0; channel < cdev_model::max_npwm; ++channel) {
		if (mapped->holder[channel] >= 0 && mapped->holder[channel] >> 32 == getpid()) {
			mapped->held_at_exit |= 1U << channel;
			mapped->holder[channel] = cdev_model::nobody;
		}
	}
}

} // namespace

struct cdev_model *interposed_model()
{
	if (mapped == nullptr)
		mapped = map_model();
	return mapped;
}
