// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "pwm_sysfs_model.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

struct sysfs_model smodel;

namespace {

uint64_t down(uint64_t v)
{
	return v / smodel.tick * smodel.tick;
}

// The core hands a waveform driver the state as a waveform, and refuses
// what the driver could make only by rounding up.
int waveform_driver_makes(const struct sysfs_attrs &a, struct pwm_waveform *hw)
{
	const uint64_t p = down(a.period < smodel.max_period ? a.period : smodel.max_period);
	if (p < smodel.min_period)
		return EINVAL;
	const uint64_t duty = a.inversed ? a.period - a.duty : a.duty;
	const uint64_t offset = a.inversed && a.duty < a.period ? a.duty : 0;
	const uint64_t d = down(duty) < p ? down(duty) : p;
	*hw = { p, d, smodel.offsets ? down(offset) : 0 };
	return 0;
}

int legacy_driver_makes(const struct sysfs_attrs &a, struct pwm_waveform *hw)
{
	if (a.inversed && smodel.inversed == INVERSED_REFUSED)
		return EINVAL;
	if (!a.enabled) {
		*hw = {};
		return 0;
	}
	uint64_t p = a.period;
	const bool too_short = p < smodel.min_period && !smodel.short_period_raised;
	if (too_short && !smodel.short_period_off) {
		*hw = {};
		return EINVAL;
	}
	if (p > smodel.max_period && !smodel.long_period_clamped)
		return smodel.long_period_errno;
	// Checked after the period's range, also where the output would be off.
	if (smodel.refuses_duty_zero && a.duty == 0 && !a.inversed)
		return EINVAL;
	if (too_short) {
		*hw = {};
		return 0;
	}
	p = p < smodel.min_period ? smodel.min_period : p > smodel.max_period ? smodel.max_period : p;
	p = smodel.rounds_up && down(p) != p && p <= UINT64_MAX - smodel.tick ? down(p) + smodel.tick
									      : down(p);
	const uint64_t d = down(a.duty) < p ? down(a.duty) : p;
	if (!a.inversed || smodel.inversed == INVERSED_DROPPED)
		*hw = { p, d, 0 };
	else if (d == 0)
		*hw = { p, p, 0 };
	else
		*hw = { p, p - d, d == p ? 0 : d };
	return 0;
}

bool parse_u64(const char *text, size_t len, uint64_t *v)
{
	// As kstrtou64: digits, at most one newline after them.
	if (len > 0 && text[len - 1] == '\n')
		--len;
	if (len == 0)
		return false;
	uint64_t value = 0;
	for (size_t i = 0; i < len; ++i) {
		if (text[i] < '0' || text[i] > '9')
			return false;
		const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
		if (value > (UINT64_MAX - digit) / 10)
			return false;
		value = value * 10 + digit;
	}
	*v = value;
	return true;
}

bool text_is(const char *text, size_t len, const char *word)
{
	const size_t n = strlen(word);
	return (len == n || (len == n + 1 && text[n] == '\n')) && memcmp(text, word, n) == 0;
}

} // namespace

int sysfs_model_makes(const struct sysfs_attrs &a, struct pwm_waveform *hw)
{
	// The core's checks: always on 6.1, only for an enabled state later.
	if ((a.enabled || !smodel.lenient_while_disabled) && (a.period == 0 || a.duty > a.period))
		return EINVAL;
	if (smodel.waveform_driver && a.enabled)
		return waveform_driver_makes(a, hw);
	if (smodel.waveform_driver) {
		*hw = {};
		return 0;
	}
	return legacy_driver_makes(a, hw);
}

int sysfs_model_write(enum sysfs_attr attr, const char *text, size_t len)
{
	++smodel.writes;
	struct sysfs_attrs next = smodel.attrs;
	uint64_t v = 0;
	switch (attr) {
	case SYSFS_PERIOD:
	case SYSFS_DUTY:
		if (!parse_u64(text, len, &v))
			return ++smodel.refused, EINVAL;
		(attr == SYSFS_PERIOD ? next.period : next.duty) = v;
		break;
	case SYSFS_ENABLE:
		if (!parse_u64(text, len, &v) || v > 1)
			return ++smodel.refused, EINVAL;
		next.enabled = v == 1;
		break;
	default:
		if (!text_is(text, len, "normal") && !text_is(text, len, "inversed"))
			return ++smodel.refused, EINVAL;
		next.inversed = text_is(text, len, "inversed");
		if (smodel.polarity_busy && smodel.attrs.enabled && next.inversed != smodel.attrs.inversed)
			return ++smodel.refused, EBUSY;
		break;
	}
	if (smodel.fail_write > 0 && --smodel.fail_write == 0) {
		smodel.failed_after = { smodel.refused, smodel.writes_at_check };
		return ++smodel.refused, EIO;
	}

	struct pwm_waveform hw;
	if (const int err = sysfs_model_makes(next, &hw); err != 0)
		return ++smodel.refused, err;
	const bool running = smodel.hw.period_length_ns != 0;
	if (!(smodel.off_keeps_running && !next.enabled && running))
		smodel.hw = hw;
	smodel.attrs = next;
	return 0;
}

void sysfs_model_read(enum sysfs_attr attr, char *buf, size_t size)
{
	++smodel.reads;
	const struct sysfs_attrs &a = smodel.attrs;
	switch (attr) {
	case SYSFS_PERIOD:
		snprintf(buf, size, "%llu\n", static_cast<unsigned long long>(a.period));
		break;
	case SYSFS_DUTY:
		snprintf(buf, size, "%llu\n", static_cast<unsigned long long>(a.duty));
		break;
	case SYSFS_ENABLE:
		snprintf(buf, size, "%d\n", a.enabled ? 1 : 0);
		break;
	default:
		snprintf(buf, size, "%s\n", a.inversed ? "inversed" : "normal");
		break;
	}
}
