// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A model of one PWM channel behind the kernel's sysfs attributes: the PWM
// core's rules for each write (6.1's, or those of 6.12 and later, which take
// any state while the channel is disabled and refuse it at enable), over a
// driver whose quirks the fuzz input picks, and what its hardware then runs.
#ifndef QUORVIN_FUZZ_PWM_SYSFS_MODEL_H
#define QUORVIN_FUZZ_PWM_SYSFS_MODEL_H

#include <quorvin.h>

#include <stddef.h>
#include <stdint.h>

enum sysfs_attr { SYSFS_PERIOD, SYSFS_DUTY, SYSFS_ENABLE, SYSFS_POLARITY, SYSFS_ATTRS };

// How a driver of its own rounding treats an inversed polarity.
enum inversed_support { INVERSED_REFUSED, INVERSED_MADE, INVERSED_DROPPED };

// What sysfs shows and the core last accepted.
struct sysfs_attrs {
	uint64_t period;
	uint64_t duty;
	bool enabled;
	bool inversed;
};

struct sysfs_model {
	// The kernel: 6.12 and later, or 6.1.
	bool lenient_while_disabled;
	// The driver. One that describes waveforms (a chip with a device
	// node) has the core round for it, refusing what it would round up,
	// and drops an offset it cannot make; any other rounds as it likes.
	bool waveform_driver;
	uint64_t tick; // both round period, duty and offset down to it
	uint64_t min_period;
	uint64_t max_period;
	bool long_period_clamped; // else refused with long_period_errno
	int long_period_errno;
	bool short_period_off; // runs a period below its shortest as off
	bool short_period_raised; // runs it at its shortest instead
	bool refuses_duty_zero; // refuses to run a duty of 0 (normal polarity)
	bool rounds_up; // a legacy driver's period goes up to its next tick
	bool polarity_busy; // refuses a polarity change while enabled
	enum inversed_support inversed;
	bool offsets; // a waveform driver makes offsets
	bool off_keeps_running; // accepts enable 0 and keeps running
	bool debugfs_readable;
	// debugfs shows an output without an active part as disabled, with
	// the period it runs.
	bool dark_reads_disabled;
	int fail_write; // the n-th write from now is refused with EIO
	// Where it struck: the refusals and the writes counted at the last
	// debugfs read, each as they were then.
	struct {
		unsigned int refused;
		unsigned int writes_at_check;
	} failed_after;

	struct sysfs_attrs attrs;
	struct pwm_waveform hw; // what the hardware runs; period 0 is off
	unsigned int writes;
	unsigned int refused;
	unsigned int reads; // attribute and debugfs reads
	unsigned int writes_at_check; // writes counted at the last debugfs read
};

extern struct sysfs_model smodel;

// What the driver runs for attrs: 0, or an errno where it refuses them.
int sysfs_model_makes(const struct sysfs_attrs &attrs, struct pwm_waveform *hw);

// The core's and the driver's answer to a write of text to attr: 0, or the
// errno of the refusal (then nothing changed).
int sysfs_model_write(enum sysfs_attr attr, const char *text, size_t len);

// The attribute's text, as the kernel prints it.
void sysfs_model_read(enum sysfs_attr attr, char *buf, size_t size);

#endif
