/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
#include "convert.h"
#include "types.h"

#include <errno.h>

struct pwm_chip *quorvin_open_chip(quorvin_chip *self)
{
	if (self->chip == NULL)
		PyErr_SetString(PyExc_ValueError, "I/O operation on a closed chip");
	return self->chip;
}

/* By number (an int or an object with __index__, as a channel's), or by any
 * name the library takes: str, bytes or a path. The error names what was
 * asked for, as a file's would. */
static struct pwm_chip *open_chip(PyObject *which)
{
	struct pwm_chip *chip;
	PyObject *asked;
	if (PyIndex_Check(which)) {
		/* A bool is refused here, as everywhere a number goes. */
		unsigned int number;
		if (quorvin_uint_arg(which, "chip number", &number) < 0)
			return NULL;
		chip = pwm_chip_open_by_number(number);
		if (chip != NULL)
			return chip;
		const int err = errno;
		asked = PyUnicode_FromFormat("pwmchip%u", number);
		errno = err;
	} else if (PyUnicode_Check(which) || PyBytes_Check(which) ||
		   PyObject_HasAttrString(which, "__fspath__")) {
		PyObject *name;
		if (!PyUnicode_FSConverter(which, &name))
			return NULL;
		chip = pwm_chip_open_by_name(PyBytes_AS_STRING(name));
		const int err = errno;
		Py_DECREF(name);
		if (chip != NULL)
			return chip;
		asked = Py_NewRef(which);
		errno = err;
	} else {
		PyErr_Format(PyExc_TypeError, "chip must be an int or a name, not %.100s",
			     Py_TYPE(which)->tp_name);
		return NULL;
	}
	if (asked != NULL) {
		PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, asked);
		Py_DECREF(asked);
	}
	return NULL;
}

static PyObject *chip_new(PyTypeObject *type, PyObject *args, PyObject *kwargs)
{
	static char *keywords[] = { "chip", NULL };
	PyObject *which;
	if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Chip", keywords, &which))
		return NULL;
	quorvin_chip *self = (quorvin_chip *)type->tp_alloc(type, 0);
	if (self == NULL)
		return NULL;
	self->chip = open_chip(which);
	if (self->chip == NULL) {
		Py_DECREF(self);
		return NULL;
	}
	return (PyObject *)self;
}

static void chip_close_handle(quorvin_chip *self)
{
	if (self->chip != NULL) {
		quorvin_channels_closed(self);
		pwm_chip_close(self->chip);
		self->chip = NULL;
	}
}

static void chip_dealloc(quorvin_chip *self)
{
	chip_close_handle(self);
	Py_TYPE(self)->tp_free((PyObject *)self);
}

static PyObject *chip_close(quorvin_chip *self, PyObject *Py_UNUSED(ignored))
{
	chip_close_handle(self);
	Py_RETURN_NONE;
}

static PyObject *chip_enter(quorvin_chip *self, PyObject *Py_UNUSED(ignored))
{
	if (quorvin_open_chip(self) == NULL)
		return NULL;
	return Py_NewRef(self);
}

static PyObject *chip_exit(quorvin_chip *self, PyObject *const *Py_UNUSED(args), Py_ssize_t Py_UNUSED(nargs))
{
	chip_close_handle(self);
	Py_RETURN_FALSE;
}

static PyObject *chip_channel(quorvin_chip *self, PyObject *arg)
{
	unsigned int number;
	struct pwm_chip *chip = quorvin_open_chip(self);
	if (chip == NULL || quorvin_uint_arg(arg, "channel", &number) < 0)
		return NULL;
	/* One Channel object for one hold: the library gives the same handle
	 * again, and two objects on it would not know of each other's close. */
	for (quorvin_channel *held = self->channels; held != NULL; held = held->next) {
		if (held->number == number)
			return Py_NewRef(held);
	}
	struct pwm *pwm = pwm_chip_get_pwm(chip, number);
	if (pwm == NULL)
		return quorvin_raise_errno(errno);
	return quorvin_channel_new(self, pwm, number);
}

static PyObject *chip_info(quorvin_chip *self, PyObject *arg)
{
	unsigned int number;
	struct pwm_chip *chip = quorvin_open_chip(self);
	if (chip == NULL || quorvin_uint_arg(arg, "channel", &number) < 0)
		return NULL;
	struct pwm_info *info = pwm_chip_get_pwm_info(chip, number);
	if (info == NULL)
		return quorvin_raise_errno(errno);
	PyObject *described = quorvin_info_new(info);
	pwm_info_free(info);
	return described;
}

static PyObject *chip_number(quorvin_chip *self, void *Py_UNUSED(closure))
{
	struct pwm_chip *chip = quorvin_open_chip(self);
	return chip == NULL ? NULL : PyLong_FromUnsignedLong(pwm_chip_get_number(chip));
}

static PyObject *chip_npwm(quorvin_chip *self, void *Py_UNUSED(closure))
{
	struct pwm_chip *chip = quorvin_open_chip(self);
	return chip == NULL ? NULL : PyLong_FromUnsignedLong(pwm_chip_get_npwm(chip));
}

static PyObject *chip_device_name(quorvin_chip *self, void *Py_UNUSED(closure))
{
	struct pwm_chip *chip = quorvin_open_chip(self);
	return chip == NULL ? NULL : quorvin_text_or_none(pwm_chip_get_device_name(chip));
}

static PyObject *chip_driver_name(quorvin_chip *self, void *Py_UNUSED(closure))
{
	struct pwm_chip *chip = quorvin_open_chip(self);
	return chip == NULL ? NULL : quorvin_text_or_none(pwm_chip_get_driver_name(chip));
}

static PyObject *chip_device_node(quorvin_chip *self, void *Py_UNUSED(closure))
{
	struct pwm_chip *chip = quorvin_open_chip(self);
	return chip == NULL ? NULL : PyBool_FromLong(pwm_chip_has_device_node(chip));
}

static PyObject *chip_closed(quorvin_chip *self, void *Py_UNUSED(closure))
{
	return PyBool_FromLong(self->chip == NULL);
}

static PyObject *chip_repr(quorvin_chip *self)
{
	if (self->chip == NULL)
		return PyUnicode_FromString("<quorvin.Chip closed>");
	const char *device = pwm_chip_get_device_name(self->chip);
	return PyUnicode_FromFormat(
		"<quorvin.Chip pwmchip%u (%s), %u channels, %s>", pwm_chip_get_number(self->chip),
		device != NULL ? device : "no parent device", pwm_chip_get_npwm(self->chip),
		pwm_chip_has_device_node(self->chip) ? "device node" : "sysfs");
}

static PyMethodDef chip_methods[] = {
	{ "channel", (PyCFunction)chip_channel, METH_O,
	  "channel($self, n, /)\n--\n\n"
	  "Takes channel n of the chip and returns it, a Channel. The hold lasts until the\n"
	  "Channel is closed (close(), or the end of its with block), the chip is\n"
	  "closed, or the process ends. Asking again for a channel held here gives\n"
	  "the same Channel object; after that one was closed, a new Channel that\n"
	  "holds the channel once more (the closed one stays closed). OSError\n"
	  "with EINVAL for a channel beyond the chip's count, EBUSY where\n"
	  "another holder has it (another process, another Chip, a kernel\n"
	  "driver), EACCES where this user may not drive it." },
	{ "info", (PyCFunction)chip_info, METH_O,
	  "info($self, n, /)\n--\n\n"
	  "A ChannelInfo: what channel n is doing, read without taking it: its holder, the\n"
	  "holder's label and its waveform, each where the kernel shows it.\n"
	  "Nothing changes on the way." },
	{ "close", (PyCFunction)chip_close, METH_NOARGS,
	  "close($self, /)\n--\n\n"
	  "Releases the chip and the channels taken through it, whose Channel\n"
	  "objects are closed then. A channel taken\n"
	  "through sysfs stays exported and its output runs on; one taken through\n"
	  "the device node is freed, and some drivers stop its output then (a\n"
	  "PCA9685 all of its outputs). Closing a closed chip does nothing." },
	{ "__enter__", (PyCFunction)chip_enter, METH_NOARGS, "Returns the chip itself." },
	{ "__exit__", (PyCFunction)(void (*)(void))chip_exit, METH_FASTCALL, "Closes the chip." },
	{ NULL, NULL, 0, NULL },
};

static PyGetSetDef chip_getset[] = {
	{ "number", (getter)chip_number, NULL,
	  "The chip's number, N of pwmchipN (it may move between boots).", NULL },
	{ "npwm", (getter)chip_npwm, NULL, "How many channels the chip has.", NULL },
	{ "device_name", (getter)chip_device_name, NULL,
	  "The name of the chip's parent device, such as '4ff00000.pwm'; None where the kernel shows none.",
	  NULL },
	{ "driver_name", (getter)chip_driver_name, NULL,
	  "The name of the parent device's driver, such as 'pwm-mediatek'; None where the kernel shows none.",
	  NULL },
	{ "device_node", (getter)chip_device_node, NULL,
	  "True where the chip is driven through its device node /dev/pwmchipN, False through sysfs.", NULL },
	{ "closed", (getter)chip_closed, NULL, "True once the chip is closed.", NULL },
	{ NULL, NULL, NULL, NULL, NULL },
};

PyTypeObject quorvin_chip_type = {
	.tp_name = "quorvin.Chip",
	.tp_basicsize = sizeof(quorvin_chip),
	.tp_flags = Py_TPFLAGS_DEFAULT,
	.tp_doc = PyDoc_STR("Chip(chip)\n--\n\n"
			    "A PWM chip, opened for its channels.\n\n"
			    "chip is the chip's number, or a name that does not move between\n"
			    "boots: 'pwmchipN', the path of its sysfs folder or device node, its\n"
			    "parent device's name ('4ff00000.pwm'), the parent's device-tree node\n"
			    "path ('/pwm@4ff00000') or a device-tree alias ('pwm0'). The chip is\n"
			    "driven through its device node where the kernel gives it one, and\n"
			    "through sysfs otherwise. OSError where it cannot be opened\n"
			    "(FileNotFoundError where there is no such chip).\n\n"
			    "A context manager: leaving the with block closes the chip, as close()\n"
			    "does. Using a closed chip, or a channel of one, raises ValueError."),
	.tp_new = chip_new,
	.tp_dealloc = (destructor)chip_dealloc,
	.tp_repr = (reprfunc)chip_repr,
	.tp_methods = chip_methods,
	.tp_getset = chip_getset,
	/* Last: the macro brings its own comma. */
	.ob_base = PyVarObject_HEAD_INIT(NULL, 0)
};
