// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "keep_errno.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

void close_keep_errno(int fd)
{
	const int saved = errno;
	close(fd);
	errno = saved;
}

void free_keep_errno(void *p)
{
	const int saved = errno;
	free(p);
	errno = saved;
}
