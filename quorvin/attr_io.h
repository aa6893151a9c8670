// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Reading and writing the one-line attribute files of the PWM class folder.
#ifndef QUORVIN_ATTR_IO_H
#define QUORVIN_ATTR_IO_H

#include <stddef.h>
#include <stdint.h>

// Writes v as decimal text and a newline at offset 0, as `echo` would, in one
// pwrite. 0, or -1 with errno (the kernel's answer to a refused value).
int attr_write_u64(int fd, uint64_t v);

// Writes text of len bytes at offset 0 in one pwrite. 0, or -1 with errno
// (EIO where the kernel takes fewer bytes than asked: a value cut short is
// not the one asked).
int attr_write_text(int fd, const char *text, size_t len);

// Reads the attribute's first line into buf (NUL-terminated, newline
// dropped). 0, or -1 with errno: EOVERFLOW for a line longer than buf
// holds, EINVAL for one with a NUL in it.
int attr_read_line(int fd, char *buf, size_t size);

// Reads a decimal attribute. 0, or -1 with errno (EINVAL for text that is
// not a decimal number, ERANGE for a number past 64 bits).
int attr_read_u64(int fd, uint64_t *v);

// Opens name below dirfd, reads it as a decimal and closes it again. 0, or
// -1 with errno, also kernel_file_open's for what is not a regular file.
int attr_read_u64_at(int dirfd, const char *name, uint64_t *v);

#endif
