/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/* quorvin._quorvin: the classes and functions that the quorvin package
 * gives, built at import. */
#include "convert.h"
#include "types.h"

#include <errno.h>

static PyObject *module_chips(PyObject *Py_UNUSED(module), PyObject *Py_UNUSED(ignored))
{
	PyObject *numbers = PyList_New(0);
	if (numbers == NULL)
		return NULL;
	for (int n = pwm_chip_next_number(-1);; n = pwm_chip_next_number(n)) {
		if (n < 0) {
			if (errno == ENOENT)
				return numbers;
			Py_DECREF(numbers);
			return quorvin_raise_errno(errno);
		}
		PyObject *number = PyLong_FromLong(n);
		if (number == NULL || PyList_Append(numbers, number) < 0) {
			Py_XDECREF(number);
			Py_DECREF(numbers);
			return NULL;
		}
		Py_DECREF(number);
	}
}

/* The package's Waveform, a subclass of the named tuple made here with
 * its builders and read-outs in Python, becomes the class of every
 * waveform handed out. Its instances must be laid out as the named
 * tuple's (__slots__ = ()): they are made as tuples of its size. */
static PyObject *module_use_waveform_class(PyObject *Py_UNUSED(module), PyObject *cls)
{
	if (!PyType_Check(cls) ||
	    !PyType_IsSubtype((PyTypeObject *)cls, (PyTypeObject *)quorvin_waveform_type) ||
	    ((PyTypeObject *)cls)->tp_basicsize != ((PyTypeObject *)quorvin_waveform_type)->tp_basicsize) {
		PyErr_SetString(PyExc_TypeError, "the class must subclass Waveform, with __slots__ = ()");
		return NULL;
	}
	Py_SETREF(quorvin_waveform_type, Py_NewRef(cls));
	Py_RETURN_NONE;
}

static PyMethodDef module_methods[] = {
	{ "chips", module_chips, METH_NOARGS,
	  "chips($module, /)\n--\n\n"
	  "A list of the numbers of the PWM chips there are, lowest first; empty where\n"
	  "there are none (or the kernel has no PWM)." },
	{ "_use_waveform_class", module_use_waveform_class, METH_O,
	  "_use_waveform_class($module, cls, /)\n--\n\n"
	  "Makes cls, a subclass of Waveform with __slots__ = (), the class of the\n"
	  "waveforms handed out; the package calls it once, at import." },
	{ NULL, NULL, 0, NULL },
};

static struct PyModuleDef module_def = {
	PyModuleDef_HEAD_INIT,
	.m_name = "quorvin._quorvin",
	.m_doc = "The classes of the quorvin package, in C.",
	.m_size = -1,
	.m_methods = module_methods,
};

static int set_doc(PyObject *object, const char *doc)
{
	PyObject *text = PyUnicode_FromString(doc);
	if (text == NULL)
		return -1;
	const int result = PyObject_SetAttrString(object, "__doc__", text);
	Py_DECREF(text);
	return result;
}

/* A class made by calling factory(name, members, module="quorvin"):
 * collections.namedtuple or enum.IntEnum. */
static PyObject *python_class(const char *from, const char *factory, PyObject *name_and_members,
			      const char *doc)
{
	PyObject *made = NULL;
	PyObject *kwargs = Py_BuildValue("{ss}", "module", "quorvin");
	PyObject *module = PyImport_ImportModule(from);
	PyObject *make = module == NULL ? NULL : PyObject_GetAttrString(module, factory);
	if (make != NULL && kwargs != NULL && name_and_members != NULL)
		made = PyObject_Call(make, name_and_members, kwargs);
	if (made != NULL && set_doc(made, doc) < 0)
		Py_CLEAR(made);
	Py_XDECREF(name_and_members);
	Py_XDECREF(make);
	Py_XDECREF(module);
	Py_XDECREF(kwargs);
	return made;
}

static int make_classes(void)
{
	quorvin_waveform_type = python_class(
		"collections", "namedtuple",
		Py_BuildValue("(s(sss))", "Waveform", "period", "duty", "offset"),
		"Waveform(period, duty, offset)\n\n"
		"The fields of a waveform, in nanoseconds: the period, the length of\n"
		"its active part (duty) and where in the period that part starts\n"
		"(offset). The package's Waveform adds its builders and read-outs.");
	if (quorvin_waveform_type == NULL)
		return -1;
	quorvin_info_type = python_class(
		"collections", "namedtuple",
		Py_BuildValue("(s(ssss))", "ChannelInfo", "channel", "holder", "label", "waveform"),
		"ChannelInfo(channel, holder, label, waveform)\n\n"
		"What a channel is doing: its number; who holds it (a Holder); the\n"
		"label the kernel shows for its holder (a kernel driver's consumer\n"
		"name, 'sysfs', 'pwm-cdev (pid=N)'), or None; and its waveform where it\n"
		"could be read without changing anything, or None.");
	if (quorvin_info_type == NULL)
		return -1;
	quorvin_holder_type = python_class(
		"enum", "IntEnum",
		Py_BuildValue("(s((si)(si)(si)(si)(si)))", "Holder", "NONE", PWM_HOLDER_NONE, "SYSFS",
			      PWM_HOLDER_SYSFS, "DEVICE", PWM_HOLDER_DEVICE, "KERNEL", PWM_HOLDER_KERNEL,
			      "UNKNOWN", PWM_HOLDER_UNKNOWN),
		"Who holds a channel: NONE (free), SYSFS (exported), DEVICE (requested\n"
		"through the device node, by any process), KERNEL (a kernel driver: an\n"
		"LED, a fan, a backlight) or UNKNOWN (held, or maybe held, by someone\n"
		"the kernel does not name without its debugfs listing).");
	return quorvin_holder_type == NULL ? -1 : 0;
}

PyMODINIT_FUNC PyInit__quorvin(void)
{
	if (PyType_Ready(&quorvin_chip_type) < 0 || PyType_Ready(&quorvin_channel_type) < 0 ||
	    make_classes() < 0)
		return NULL;
	PyObject *module = PyModule_Create(&module_def);
	if (module == NULL)
		return NULL;
	if (PyModule_AddObjectRef(module, "Chip", (PyObject *)&quorvin_chip_type) < 0 ||
	    PyModule_AddObjectRef(module, "Channel", (PyObject *)&quorvin_channel_type) < 0 ||
	    PyModule_AddObjectRef(module, "Waveform", quorvin_waveform_type) < 0 ||
	    PyModule_AddObjectRef(module, "ChannelInfo", quorvin_info_type) < 0 ||
	    PyModule_AddObjectRef(module, "Holder", quorvin_holder_type) < 0 ||
	    PyModule_AddStringConstant(module, "__version__", QUORVIN_VERSION) < 0) {
		Py_DECREF(module);
		return NULL;
	}
	return module;
}
