// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The model's chip in place of a device: ioctl and close on a file of
// /dev/zero (which a made-up dev folder links pwmchipN to) go to the model
// that the program linking this in names, every other call to the C
// library.
#ifndef QUORVIN_TESTS_CDEV_INTERPOSE_H
#define QUORVIN_TESTS_CDEV_INTERPOSE_H

#include "cdev_model.h"

// The model that stands for /dev/zero, or nullptr to let the device be.
struct cdev_model *interposed_model();

// The model's id of this process's open file fd.
int64_t model_file_id(int fd);

#endif
