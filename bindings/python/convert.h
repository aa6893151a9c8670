/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/* What the module's types share: turning Python numbers into the library's
 * and back, and the library's errno into an exception. */
#ifndef QUORVIN_PY_CONVERT_H
#define QUORVIN_PY_CONVERT_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <quorvin.h>

#include <stdint.h>

/* The named tuples the module hands out (Waveform, ChannelInfo) and the
 * Holder enum, made once at import. */
extern PyObject *quorvin_waveform_type;
extern PyObject *quorvin_info_type;
extern PyObject *quorvin_holder_type;

/* A nanosecond count: an int (or an object with __index__) in
 * 0..2**64-1. TypeError for bool, float and other types, OverflowError
 * outside the range. 0, or -1 with the exception set. */
int quorvin_u64_arg_any(PyObject *value, const char *what, uint64_t *out);

/* The same, with a plain int in range taken on the spot: every waveform of
 * a sweep passes here. */
static inline int quorvin_u64_arg(PyObject *value, const char *what, uint64_t *out)
{
	if (PyLong_CheckExact(value)) {
		const unsigned long long n = PyLong_AsUnsignedLongLong(value);
		if (n != (unsigned long long)-1 || !PyErr_Occurred()) {
			*out = n;
			return 0;
		}
		PyErr_Clear(); /* raised again, in this module's words */
	}
	return quorvin_u64_arg_any(value, what, out);
}

/* A chip or channel number: the same for 0..UINT_MAX. */
int quorvin_uint_arg(PyObject *value, const char *what, unsigned int *out);

/* The three times of a waveform from (period, duty, offset=0), taken by
 * position or by name, for a METH_FASTCALL | METH_KEYWORDS method. */
int quorvin_waveform_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
			  struct pwm_waveform *wf);

/* A new Waveform named tuple holding *wf. */
PyObject *quorvin_waveform_new(const struct pwm_waveform *wf);

/* A kernel name or label as str (undecodable bytes kept as the file system
 * encoding keeps them), None for NULL. */
PyObject *quorvin_text_or_none(const char *text);

/* A new ChannelInfo for the channel's snapshot; frees nothing. */
PyObject *quorvin_info_new(const struct pwm_info *info);

/* Raises OSError (the subclass the errno maps to) for err, and returns
 * NULL. */
PyObject *quorvin_raise_errno(int err);

#endif
