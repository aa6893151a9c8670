// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "pwm_cdev_model.h"

#include <errno.h>
#include <stdint.h>

struct cdev_model model;

namespace {

int fail(int err)
{
	errno = err;
	return -1;
}

// The kernel's checks of any waveform, before the driver sees it.
bool valid(const struct pwmchip_waveform &wf)
{
	return wf.__pad == 0 && wf.period_length_ns <= INT64_MAX &&
		wf.duty_length_ns <= wf.period_length_ns &&
		(wf.duty_offset_ns == 0 || wf.duty_offset_ns < wf.period_length_ns);
}

bool same(const struct pwmchip_waveform &a, const struct pwmchip_waveform &b)
{
	return a.period_length_ns == b.period_length_ns && a.duty_length_ns == b.duty_length_ns &&
		a.duty_offset_ns == b.duty_offset_ns;
}

} // namespace

struct pwmchip_waveform model_round(const struct pwmchip_waveform &wf)
{
	const uint64_t t = model.tick;
	if (wf.period_length_ns == 0)
		return { wf.hwpwm, 0, 0, 0, 0 };
	uint64_t ticks = wf.period_length_ns / t;
	if (ticks < model.min_ticks)
		ticks = model.min_ticks;
	if (ticks > model.max_ticks)
		ticks = model.max_ticks;
	uint64_t period = ticks * t;
	if (model.shared_period && wf.hwpwm == 1 && model.hw[0].period_length_ns != 0)
		period = model.hw[0].period_length_ns;
	uint64_t duty = wf.duty_length_ns / t * t;
	if (duty > period)
		duty = period;
	uint64_t offset = wf.duty_offset_ns / t * t;
	if (model.offsets == OFFSET_NONE || offset >= period ||
	    (model.offsets == OFFSET_AT_END && offset + duty != period))
		offset = 0;
	return { wf.hwpwm, 0, period, duty, offset };
}

static int set(struct pwmchip_waveform *wf, bool exact)
{
	const struct pwmchip_waveform r = model_round(*wf);
	if (exact && wf->period_length_ns != 0 && !same(r, *wf))
		return fail(EDOM);
	struct pwmchip_waveform &hw = model.hw[wf->hwpwm];
	bool &stale = model.stale_inversed[wf->hwpwm];
	if (r.period_length_ns == 0) {
		stale = model.sticky_polarity && hw.duty_offset_ns != 0;
		hw = r;
	} else if (stale && r.duty_offset_ns == 0) {
		hw = { r.hwpwm, 0, r.period_length_ns, r.period_length_ns - r.duty_length_ns, 0 };
		stale = model.polarity_stuck;
	} else {
		bool &latched = model.latched[wf->hwpwm];
		const bool offset_only = hw.period_length_ns == r.period_length_ns &&
			hw.period_length_ns != 0 && hw.duty_offset_ns != r.duty_offset_ns;
		const uint64_t kept = hw.duty_offset_ns;
		hw = r;
		if (model.offset_latched && offset_only && !latched)
			hw.duty_offset_ns = kept;
		latched = model.offset_latched && offset_only && !latched;
		stale = false;
	}
	return 0;
}

int model_ioctl(int fd, unsigned long request, void *arg)
{
	++model.ioctls;
	const auto channel = reinterpret_cast<uintptr_t>(arg);
	auto *wf = static_cast<struct pwmchip_waveform *>(arg);
	const bool held = request != PWM_IOCTL_REQUEST && request != PWM_IOCTL_FREE &&
		wf->hwpwm < cdev_model::npwm && model.holder[wf->hwpwm] == fd;
	switch (request) {
	case PWM_IOCTL_REQUEST:
		if (channel >= cdev_model::npwm)
			return fail(EINVAL);
		if (model.holder[channel] != -1 && model.holder[channel] != fd)
			return fail(EBUSY);
		model.holder[channel] = fd;
		return 0;
	case PWM_IOCTL_FREE:
		if (channel >= cdev_model::npwm)
			return fail(EINVAL);
		if (model.holder[channel] == fd)
			model.holder[channel] = -1;
		return 0;
	case PWM_IOCTL_ROUNDWF:
		if (!valid(*wf) || !held)
			return fail(EINVAL);
		*wf = model_round(*wf);
		if (model.sibling_period_after_round != 0) {
			model_sibling(model.sibling_period_after_round);
			model.sibling_period_after_round = 0;
		}
		return 0;
	case PWM_IOCTL_GETWF:
		if (wf->__pad != 0 || !held)
			return fail(EINVAL);
		*wf = model.hw[wf->hwpwm];
		return 0;
	case PWM_IOCTL_SETROUNDEDWF:
	case PWM_IOCTL_SETEXACTWF:
		if (!valid(*wf) || !held)
			return fail(EINVAL);
		return set(wf, request == PWM_IOCTL_SETEXACTWF);
	default:
		return fail(ENOTTY);
	}
}

void model_sibling(uint64_t period)
{
	if (period != 0 && model.shared_period && model.hw[1].period_length_ns != 0)
		period = model.hw[1].period_length_ns;
	model.hw[0] = { 0, 0, period, period / 2, 0 };
}

void model_close(int fd)
{
	for (int &h : model.holder) {
		if (h == fd)
			h = -1;
	}
}
