// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Cleanup on a failure path must not change the errno the caller reports.
#ifndef QUORVIN_KEEP_ERRNO_H
#define QUORVIN_KEEP_ERRNO_H

void close_keep_errno(int fd);
void free_keep_errno(void *p);

#endif
