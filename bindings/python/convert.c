/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
#include "convert.h"

#include <errno.h>
#include <limits.h>

PyObject *quorvin_waveform_type;
PyObject *quorvin_info_type;
PyObject *quorvin_holder_type;

/* value as a number in 0..max: an int, or an object with __index__, but not a
 * bool. The error says the range taken. */
static int bounded_arg(PyObject *value, const char *what, unsigned long long max, unsigned long long *out)
{
	unsigned long long n;
	if (PyLong_CheckExact(value)) {
		n = PyLong_AsUnsignedLongLong(value);
	} else if (PyBool_Check(value) || !PyIndex_Check(value)) {
		/* bool is an int to Python, but True as a period of 1 ns is a
		 * mistake, not a request. */
		PyErr_Format(PyExc_TypeError, "%s must be an int, not %.100s", what, Py_TYPE(value)->tp_name);
		return -1;
	} else {
		PyObject *index = PyNumber_Index(value);
		if (index == NULL)
			return -1;
		n = PyLong_AsUnsignedLongLong(index);
		Py_DECREF(index);
	}
	if (n == (unsigned long long)-1 && PyErr_Occurred()) {
		/* Negative or too large: both OverflowError, never wrapped. */
		if (!PyErr_ExceptionMatches(PyExc_OverflowError))
			return -1;
		PyErr_Clear();
	} else if (n <= max) {
		*out = n;
		return 0;
	}
	if (max == UINT64_MAX)
		PyErr_Format(PyExc_OverflowError, "%s must be in 0..2**64-1", what);
	else
		PyErr_Format(PyExc_OverflowError, "%s must be in 0..%llu", what, max);
	return -1;
}

int quorvin_u64_arg_any(PyObject *value, const char *what, uint64_t *out)
{
	unsigned long long n;
	if (bounded_arg(value, what, UINT64_MAX, &n) < 0)
		return -1;
	*out = n;
	return 0;
}

int quorvin_uint_arg(PyObject *value, const char *what, unsigned int *out)
{
	unsigned long long n;
	if (bounded_arg(value, what, UINT_MAX, &n) < 0)
		return -1;
	*out = (unsigned int)n;
	return 0;
}

static const char *const waveform_arg_names[] = { "period", "duty", "offset" };

int quorvin_waveform_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, struct pwm_waveform *wf)
{
	/* A sweep's call, by position: no names to match. */
	if (kwnames == NULL && (nargs == 2 || nargs == 3)) {
		wf->duty_offset_ns = 0;
		return quorvin_u64_arg(args[0], "period", &wf->period_length_ns) < 0 ||
				quorvin_u64_arg(args[1], "duty", &wf->duty_length_ns) < 0 ||
				(nargs == 3 && quorvin_u64_arg(args[2], "offset", &wf->duty_offset_ns) < 0)
			? -1
			: 0;
	}
	PyObject *given[3] = { NULL, NULL, NULL };
	const Py_ssize_t nkw = kwnames == NULL ? 0 : PyTuple_GET_SIZE(kwnames);
	if (nargs > 3) {
		PyErr_Format(PyExc_TypeError, "takes at most 3 arguments (%zd given)", nargs + nkw);
		return -1;
	}
	for (Py_ssize_t i = 0; i < nargs; i++)
		given[i] = args[i];
	for (Py_ssize_t k = 0; k < nkw; k++) {
		PyObject *name = PyTuple_GET_ITEM(kwnames, k);
		int slot = 0;
		while (slot < 3 && PyUnicode_CompareWithASCIIString(name, waveform_arg_names[slot]) != 0)
			slot++;
		if (slot == 3) {
			PyErr_Format(PyExc_TypeError, "unexpected keyword argument '%U'", name);
			return -1;
		}
		if (given[slot] != NULL) {
			PyErr_Format(PyExc_TypeError, "argument '%s' given twice", waveform_arg_names[slot]);
			return -1;
		}
		given[slot] = args[nargs + k];
	}
	uint64_t times[3] = { 0, 0, 0 };
	for (int slot = 0; slot < 3; slot++) {
		if (given[slot] == NULL) {
			if (slot < 2) {
				PyErr_Format(PyExc_TypeError, "missing argument '%s'",
					     waveform_arg_names[slot]);
				return -1;
			}
			continue;
		}
		if (quorvin_u64_arg(given[slot], waveform_arg_names[slot], &times[slot]) < 0)
			return -1;
	}
	wf->period_length_ns = times[0];
	wf->duty_length_ns = times[1];
	wf->duty_offset_ns = times[2];
	return 0;
}

/* A named tuple's own __new__ is Python code; what it ends in, tuple's
 * __new__ for a subclass, is this: the items moved into an instance of the
 * class (whose __slots__ are empty). */
static PyObject *named_tuple_new(PyObject *type, PyObject *items)
{
	if (items == NULL)
		return NULL;
	const Py_ssize_t n = PyTuple_GET_SIZE(items);
	PyObject *tuple = ((PyTypeObject *)type)->tp_alloc((PyTypeObject *)type, n);
	if (tuple != NULL) {
		for (Py_ssize_t i = 0; i < n; i++)
			PyTuple_SET_ITEM(tuple, i, Py_NewRef(PyTuple_GET_ITEM(items, i)));
	}
	Py_DECREF(items);
	return tuple;
}

PyObject *quorvin_waveform_new(const struct pwm_waveform *wf)
{
	return named_tuple_new(quorvin_waveform_type,
			       Py_BuildValue("(KKK)", (unsigned long long)wf->period_length_ns,
					     (unsigned long long)wf->duty_length_ns,
					     (unsigned long long)wf->duty_offset_ns));
}

PyObject *quorvin_text_or_none(const char *text)
{
	return text == NULL ? Py_NewRef(Py_None) : PyUnicode_DecodeFSDefault(text);
}

/* One of enum pwm_holder as a Holder; a value newer than this module as the
 * plain int. */
static PyObject *holder_new(int holder)
{
	PyObject *member = PyObject_CallFunction(quorvin_holder_type, "i", holder);
	if (member == NULL && PyErr_ExceptionMatches(PyExc_ValueError)) {
		PyErr_Clear();
		member = PyLong_FromLong(holder);
	}
	return member;
}

PyObject *quorvin_info_new(const struct pwm_info *info)
{
	PyObject *holder = holder_new(pwm_info_get_holder(info));
	if (holder == NULL)
		return NULL;
	PyObject *label = quorvin_text_or_none(pwm_info_get_label(info));
	if (label == NULL) {
		Py_DECREF(holder);
		return NULL;
	}
	struct pwm_waveform wf;
	PyObject *waveform = pwm_info_get_waveform(info, &wf) == 0 ? quorvin_waveform_new(&wf)
								   : Py_NewRef(Py_None);
	if (waveform == NULL) {
		Py_DECREF(holder);
		Py_DECREF(label);
		return NULL;
	}
	/* N hands the references over, also where the tuple is not made. */
	return named_tuple_new(quorvin_info_type,
			       Py_BuildValue("(INNN)", pwm_info_get_channel(info), holder, label, waveform));
}

PyObject *quorvin_raise_errno(int err)
{
	errno = err;
	return PyErr_SetFromErrno(PyExc_OSError);
}
