/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/* The module's two classes: an open chip, and a channel held through it. */
#ifndef QUORVIN_PY_TYPES_H
#define QUORVIN_PY_TYPES_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <quorvin.h>

struct quorvin_channel;

/* chip is NULL once closed: the library freed it, and every channel handle
 * with it. channels lists the Channel objects that hold a channel through
 * it (not counted references: each takes itself off the list when it is
 * closed or freed), so that a channel asked for again is the same object
 * and closing the chip closes them. */
typedef struct {
	PyObject ob_base;
	struct pwm_chip *chip;
	struct quorvin_channel *channels;
} quorvin_chip;

/* A channel keeps its chip object alive, but not the chip open. pwm is NULL
 * once the channel is closed, by its own close() or its chip's: a closed
 * Channel never holds again, taking the channel anew makes a new one. */
typedef struct quorvin_channel {
	PyObject ob_base;
	quorvin_chip *chip;
	struct pwm *pwm;
	unsigned int number;
	struct quorvin_channel *next; /* on the chip's list, while pwm is not NULL */
} quorvin_channel;

extern PyTypeObject quorvin_chip_type;
extern PyTypeObject quorvin_channel_type;

/* The library's chip, or NULL with ValueError where it was closed. */
struct pwm_chip *quorvin_open_chip(quorvin_chip *self);

/* A new Channel for a handle the chip gave, put on the chip's list. */
PyObject *quorvin_channel_new(quorvin_chip *chip, struct pwm *pwm, unsigned int number);

/* Marks every Channel of the chip closed and empties its list; before the
 * library's chip is closed. */
void quorvin_channels_closed(quorvin_chip *chip);

#endif
