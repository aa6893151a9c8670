/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/* The module's two classes: an open chip, and a channel held through it. */
#ifndef QUORVIN_PY_TYPES_H
#define QUORVIN_PY_TYPES_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <quorvin.h>

/* NULL once closed: the library freed it, and every channel handle with
 * it. */
typedef struct {
	PyObject ob_base;
	struct pwm_chip *chip;
} quorvin_chip;

/* A channel keeps its chip object alive, but not the chip open: each call
 * checks that the chip still is. */
typedef struct {
	PyObject ob_base;
	quorvin_chip *chip;
	struct pwm *pwm;
	unsigned int number;
} quorvin_channel;

extern PyTypeObject quorvin_chip_type;
extern PyTypeObject quorvin_channel_type;

/* The library's chip, or NULL with ValueError where it was closed. */
struct pwm_chip *quorvin_open_chip(quorvin_chip *self);

/* A new Channel for a handle the chip gave. */
PyObject *quorvin_channel_new(quorvin_chip *chip, struct pwm *pwm, unsigned int number);

#endif
