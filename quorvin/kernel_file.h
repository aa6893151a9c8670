// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Opening the files the kernel makes for the library to read and write: the
// attributes of the PWM class folder, a device's uevent, the debugfs listing.
// The kernel makes each of them a regular file; whatever stands in one's
// place (a FIFO, a device node, a folder) is refused before it can block a
// read or an open, or act on an open as a device would.
#ifndef QUORVIN_KERNEL_FILE_H
#define QUORVIN_KERNEL_FILE_H

#include <stdio.h>

// Opens path (below dirfd where it is relative; AT_FDCWD for none) with
// flags (O_RDONLY, O_WRONLY or O_RDWR), close-on-exec and never waiting:
// the descriptor, or -1 with errno, the open's own, else EISDIR for a folder
// and EINVAL for anything else that is not a regular file. A file found to
// be something else before the open is not opened at all.
int kernel_file_open(int dirfd, const char *path, int flags);

// The same as a stream to read, for files read line by line. NULL with
// errno as above.
FILE *kernel_file_fopen(const char *path);

#endif
