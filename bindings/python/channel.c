/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
#include "convert.h"
#include "types.h"

#include <errno.h>

PyObject *quorvin_channel_new(quorvin_chip *chip, struct pwm *pwm, unsigned int number)
{
	quorvin_channel *self = PyObject_New(quorvin_channel, &quorvin_channel_type);
	if (self == NULL)
		return NULL;
	self->chip = (quorvin_chip *)Py_NewRef(chip);
	self->pwm = pwm;
	self->number = number;
	self->next = chip->channels;
	chip->channels = self;
	return (PyObject *)self;
}

void quorvin_channels_closed(quorvin_chip *chip)
{
	while (chip->channels != NULL) {
		quorvin_channel *channel = chip->channels;
		chip->channels = channel->next;
		channel->pwm = NULL;
		channel->next = NULL;
	}
}

/* Takes a channel that is still open off its chip's list. */
static void unlist(quorvin_channel *self)
{
	quorvin_channel **link = &self->chip->channels;
	while (*link != NULL && *link != self)
		link = &(*link)->next;
	if (*link != NULL)
		*link = self->next;
	self->next = NULL;
}

/* A Channel dropped without close() leaves the hold to its chip, as before
 * there was close(): Chip.channel(n) gives a new object on it. */
static void channel_dealloc(quorvin_channel *self)
{
	if (self->pwm != NULL)
		unlist(self);
	Py_DECREF(self->chip);
	PyObject_Free(self);
}

/* The handle, or NULL with ValueError once the channel or its chip was
 * closed. */
static struct pwm *open_pwm(quorvin_channel *self)
{
	if (self->pwm == NULL) {
		if (quorvin_open_chip(self->chip) != NULL)
			PyErr_SetString(PyExc_ValueError, "channel is closed");
	}
	return self->pwm;
}

/* The path of every waveform a sweep writes: the arguments straight into
 * the library's record, one call, no Python frame of its own. */
static PyObject *channel_set_waveform(quorvin_channel *self, PyObject *const *args, Py_ssize_t nargs,
				      PyObject *kwnames)
{
	struct pwm_waveform wf;
	struct pwm *pwm = open_pwm(self);
	if (pwm == NULL || quorvin_waveform_args(args, nargs, kwnames, &wf) < 0)
		return NULL;
	if (pwm_set_waveform(pwm, &wf) < 0)
		return quorvin_raise_errno(errno);
	Py_RETURN_NONE;
}

static PyObject *channel_set(quorvin_channel *self, PyObject *waveform)
{
	struct pwm_waveform wf;
	struct pwm *pwm = open_pwm(self);
	if (pwm == NULL)
		return NULL;
	if (!PyTuple_Check(waveform) || PyTuple_GET_SIZE(waveform) != 3) {
		PyErr_Format(PyExc_TypeError,
			     "waveform must be a Waveform (period, duty, offset), not %.100s",
			     Py_TYPE(waveform)->tp_name);
		return NULL;
	}
	if (quorvin_waveform_args(PySequence_Fast_ITEMS(waveform), 3, NULL, &wf) < 0)
		return NULL;
	if (pwm_set_waveform(pwm, &wf) < 0)
		return quorvin_raise_errno(errno);
	Py_RETURN_NONE;
}

static PyObject *channel_round_waveform(quorvin_channel *self, PyObject *const *args, Py_ssize_t nargs,
					PyObject *kwnames)
{
	struct pwm_waveform wf;
	struct pwm *pwm = open_pwm(self);
	if (pwm == NULL || quorvin_waveform_args(args, nargs, kwnames, &wf) < 0)
		return NULL;
	if (pwm_round_waveform(pwm, &wf) < 0)
		return quorvin_raise_errno(errno);
	return quorvin_waveform_new(&wf);
}

static PyObject *channel_get_waveform(quorvin_channel *self, PyObject *Py_UNUSED(ignored))
{
	struct pwm_waveform wf;
	struct pwm *pwm = open_pwm(self);
	if (pwm == NULL)
		return NULL;
	if (pwm_get_waveform(pwm, &wf) < 0)
		return quorvin_raise_errno(errno);
	return quorvin_waveform_new(&wf);
}

static PyObject *channel_hardware_waveform(quorvin_channel *self, PyObject *Py_UNUSED(ignored))
{
	struct pwm_waveform wf;
	struct pwm *pwm = open_pwm(self);
	if (pwm == NULL)
		return NULL;
	if (pwm_get_hardware_waveform(pwm, &wf) < 0)
		return quorvin_raise_errno(errno);
	return quorvin_waveform_new(&wf);
}

static PyObject *channel_info(quorvin_channel *self, PyObject *Py_UNUSED(ignored))
{
	if (open_pwm(self) == NULL)
		return NULL;
	struct pwm_info *info = pwm_chip_get_pwm_info(self->chip->chip, self->number);
	if (info == NULL)
		return quorvin_raise_errno(errno);
	PyObject *described = quorvin_info_new(info);
	pwm_info_free(info);
	return described;
}

static void channel_close_handle(quorvin_channel *self)
{
	if (self->pwm != NULL) {
		unlist(self);
		pwm_release(self->pwm);
		self->pwm = NULL;
	}
}

static PyObject *channel_close(quorvin_channel *self, PyObject *Py_UNUSED(ignored))
{
	channel_close_handle(self);
	Py_RETURN_NONE;
}

static PyObject *channel_enter(quorvin_channel *self, PyObject *Py_UNUSED(ignored))
{
	if (open_pwm(self) == NULL)
		return NULL;
	return Py_NewRef(self);
}

static PyObject *channel_exit(quorvin_channel *self, PyObject *const *Py_UNUSED(args),
			      Py_ssize_t Py_UNUSED(nargs))
{
	channel_close_handle(self);
	Py_RETURN_FALSE;
}

static PyObject *channel_closed(quorvin_channel *self, void *Py_UNUSED(closure))
{
	return PyBool_FromLong(self->pwm == NULL);
}

static PyObject *channel_number(quorvin_channel *self, void *Py_UNUSED(closure))
{
	return PyLong_FromUnsignedLong(self->number);
}

static PyObject *channel_chip(quorvin_channel *self, void *Py_UNUSED(closure))
{
	return Py_NewRef(self->chip);
}

static PyObject *channel_repr(quorvin_channel *self)
{
	if (self->chip->chip == NULL)
		return PyUnicode_FromFormat("<quorvin.Channel %u of a closed chip>", self->number);
	return PyUnicode_FromFormat("<quorvin.Channel %u of pwmchip%u%s>", self->number,
				    pwm_chip_get_number(self->chip->chip),
				    self->pwm == NULL ? ", closed" : "");
}

static PyMethodDef channel_methods[] = {
	{ "set", (PyCFunction)channel_set, METH_O,
	  "set($self, waveform, /)\n--\n\n"
	  "Makes the channel emit waveform, a Waveform (or any (period, duty,\n"
	  "offset) tuple of nanoseconds), such as Waveform.from_frequency(1000,\n"
	  "0.5): as set_waveform(*waveform), with its errors." },
	{ "set_waveform", (PyCFunction)(void (*)(void))channel_set_waveform, METH_FASTCALL | METH_KEYWORDS,
	  "set_waveform($self, /, period, duty, offset=0)\n--\n\n"
	  "Makes the channel emit the waveform: in nanoseconds, a period, the\n"
	  "length of its active part (duty) and where in the period that part\n"
	  "starts (offset). A period of 0 (duty and offset 0) switches the output\n"
	  "off. The hardware makes the nearest waveform at or below the one asked\n"
	  "(get_waveform reads it back).\n\n"
	  "OSError with the library's errno where it is refused, the output left\n"
	  "as it was: EINVAL for a duty above the period, an offset not below\n"
	  "it, or a period the channel can only make longer; EOPNOTSUPP for an\n"
	  "offset it cannot make; EIO where the hardware does not run what it\n"
	  "took; EAGAIN where a channel sharing the period keeps changing it.\n"
	  "OverflowError for a time outside 0..2**64-1, before anything is\n"
	  "written." },
	{ "get_waveform", (PyCFunction)channel_get_waveform, METH_NOARGS,
	  "get_waveform($self, /)\n--\n\n"
	  "The Waveform the channel emits now, in set_waveform's form: an output\n"
	  "switched off is period 0, an inversed polarity comes back as the\n"
	  "offset that makes it. Through the device node it is what the hardware\n"
	  "runs; through sysfs, what the kernel last accepted (hardware_waveform\n"
	  "reads what the hardware makes of it)." },
	{ "hardware_waveform", (PyCFunction)channel_hardware_waveform, METH_NOARGS,
	  "hardware_waveform($self, /)\n--\n\n"
	  "The Waveform the hardware runs now, as its driver reads it back, in\n"
	  "get_waveform's form. Through the device node it is get_waveform's\n"
	  "answer; through sysfs it is read from the kernel's debugfs listing\n"
	  "(/sys/kernel/debug/pwm, readable by root). OSError with ENODATA where\n"
	  "the driver cannot read its hardware back or the kernel does not show\n"
	  "it, and with the listing's errno where it cannot be read (EACCES for\n"
	  "another user, ENOENT without debugfs)." },
	{ "round_waveform", (PyCFunction)(void (*)(void))channel_round_waveform,
	  METH_FASTCALL | METH_KEYWORDS,
	  "round_waveform($self, /, period, duty, offset=0)\n--\n\n"
	  "The Waveform the channel would make of this one; no output changes. Also\n"
	  "where the kernel had to round up, which set_waveform refuses. Only\n"
	  "through the device node: OSError with EOPNOTSUPP through sysfs, where\n"
	  "the kernel cannot be asked; EINVAL for a waveform set_waveform refuses\n"
	  "before writing anything." },
	{ "info", (PyCFunction)channel_info, METH_NOARGS,
	  "info($self, /)\n--\n\n"
	  "A ChannelInfo: what the channel is doing, as Chip.info(number) tells it." },
	{ "close", (PyCFunction)channel_close, METH_NOARGS,
	  "close($self, /)\n--\n\n"
	  "Gives the channel back before its chip is closed, with the same effect\n"
	  "on its output as closing the chip: taken through sysfs, it stays\n"
	  "exported and its output keeps its waveform on every driver; taken\n"
	  "through the device node, it is freed and its driver's release runs,\n"
	  "which keeps the last waveform on most drivers, stops the channel's\n"
	  "output on some, and on a PCA9685 stops all of its outputs once its\n"
	  "last channel is freed. Nothing else holds it then: another Chip, or\n"
	  "another process, may take it. Every call on a closed Channel raises\n"
	  "ValueError; Chip.channel(n) takes the channel again as a new Channel.\n"
	  "Closing a closed channel does nothing." },
	{ "__enter__", (PyCFunction)channel_enter, METH_NOARGS, "Returns the channel itself." },
	{ "__exit__", (PyCFunction)(void (*)(void))channel_exit, METH_FASTCALL, "Closes the channel." },
	{ NULL, NULL, 0, NULL },
};

static PyGetSetDef channel_getset[] = {
	{ "number", (getter)channel_number, NULL, "The channel's number on its chip.", NULL },
	{ "chip", (getter)channel_chip, NULL, "The Chip the channel was taken through.", NULL },
	{ "closed", (getter)channel_closed, NULL,
	  "True once the channel is closed, by its close() or its chip's.", NULL },
	{ NULL, NULL, NULL, NULL, NULL },
};

PyTypeObject quorvin_channel_type = {
	.tp_name = "quorvin.Channel",
	.tp_basicsize = sizeof(quorvin_channel),
	.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
	.tp_doc = PyDoc_STR("A channel of a chip, held through it: Chip.channel(n) gives one.\n\n"
			    "set() takes a Waveform, which its builders make from a frequency in\n"
			    "Hz and a duty ratio, or from a period and a pulse in seconds:\n\n"
			    "    with chip.channel(0) as channel:\n"
			    "        channel.set(Waveform.from_frequency(50, 0.075))\n\n"
			    "The other calls take and give times in nanoseconds, ints in\n"
			    "0..2**64-1. The channel stays held until it is closed: by close(),\n"
			    "at the end of its with block, or when its chip is closed. After that\n"
			    "every call raises ValueError."),
	.tp_dealloc = (destructor)channel_dealloc,
	.tp_repr = (reprfunc)channel_repr,
	.tp_methods = channel_methods,
	.tp_getset = channel_getset,
	/* Last: the macro brings its own comma. */
	.ob_base = PyVarObject_HEAD_INIT(NULL, 0)
};
