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
	return (PyObject *)self;
}

static void channel_dealloc(quorvin_channel *self)
{
	Py_DECREF(self->chip);
	PyObject_Free(self);
}

/* The handle, or NULL with ValueError once the chip was closed (which freed
 * it). */
static struct pwm *open_pwm(quorvin_channel *self)
{
	return quorvin_open_chip(self->chip) == NULL ? NULL : self->pwm;
}

/* The path of every waveform a sweep writes: the arguments straight into
 * the library's record, one call, no Python frame of its own. */
static PyObject *channel_set_waveform(quorvin_channel *self, PyObject *const *args, Py_ssize_t nargs,
				      PyObject *kwnames)
{
	struct pwm_waveform wf;
	struct pwm *pwm = self->chip->chip != NULL ? self->pwm : open_pwm(self);
	if (pwm == NULL || quorvin_waveform_args(args, nargs, kwnames, &wf) < 0)
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

static PyObject *channel_info(quorvin_channel *self, PyObject *Py_UNUSED(ignored))
{
	struct pwm_chip *chip = quorvin_open_chip(self->chip);
	if (chip == NULL)
		return NULL;
	struct pwm_info *info = pwm_chip_get_pwm_info(chip, self->number);
	if (info == NULL)
		return quorvin_raise_errno(errno);
	PyObject *described = quorvin_info_new(info);
	pwm_info_free(info);
	return described;
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
	return PyUnicode_FromFormat("<quorvin.Channel %u of pwmchip%u>", self->number,
				    pwm_chip_get_number(self->chip->chip));
}

static PyMethodDef channel_methods[] = {
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
	  "runs; through sysfs, what the kernel last accepted." },
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
	{ NULL, NULL, 0, NULL },
};

static PyGetSetDef channel_getset[] = {
	{ "number", (getter)channel_number, NULL, "The channel's number on its chip.", NULL },
	{ "chip", (getter)channel_chip, NULL, "The Chip the channel was taken through.", NULL },
	{ NULL, NULL, NULL, NULL, NULL },
};

PyTypeObject quorvin_channel_type = {
	.tp_name = "quorvin.Channel",
	.tp_basicsize = sizeof(quorvin_channel),
	.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
	.tp_doc = PyDoc_STR("A channel of a chip, held through it: Chip.channel(n) gives one.\n\n"
			    "All times are nanoseconds, ints in 0..2**64-1. The channel stays held\n"
			    "until its chip is closed; after that its calls raise ValueError."),
	.tp_dealloc = (destructor)channel_dealloc,
	.tp_repr = (reprfunc)channel_repr,
	.tp_methods = channel_methods,
	.tp_getset = channel_getset,
	/* Last: the macro brings its own comma. */
	.ob_base = PyVarObject_HEAD_INIT(NULL, 0)
};
