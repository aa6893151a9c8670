// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "cdev_model.h"

#include <errno.h>
#include <stdint.h>

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

struct pwmchip_waveform cdev_model::round(const struct pwmchip_waveform &wf) const
{
	const uint64_t t = tick;
	if (wf.period_length_ns == 0)
		return { wf.hwpwm, 0, 0, 0, 0 };
	uint64_t ticks = wf.period_length_ns / t;
	if (ticks < min_ticks)
		ticks = min_ticks;
	if (ticks > max_ticks)
		ticks = max_ticks;
	uint64_t period = ticks * t;
	const auto channel = static_cast<int32_t>(wf.hwpwm);
	if (channel == period_follower && hw[period_leader].period_length_ns != 0)
		period = hw[period_leader].period_length_ns;
	if (leader_yields && channel == period_leader && hw[period_follower].period_length_ns != 0)
		period = hw[period_follower].period_length_ns;
	uint64_t duty = rounds_answer_lower && wf.duty_length_ns != 0 ? (wf.duty_length_ns - 1) / t * t
								      : wf.duty_length_ns / t * t;
	if (duty < min_duty_ticks[wf.hwpwm] * t)
		duty = min_duty_ticks[wf.hwpwm] * t;
	if (duty > period)
		duty = period;
	uint64_t offset = offset_rounds_up ? (wf.duty_offset_ns + t - 1) / t * t : wf.duty_offset_ns / t * t;
	if (offsets == OFFSET_NONE || offset >= period ||
	    (offsets == OFFSET_AT_END && offset + duty != period))
		offset = 0;
	return { wf.hwpwm, 0, period, duty, offset };
}

int cdev_model::set(const struct pwmchip_waveform &wf, bool exact)
{
	const struct pwmchip_waveform r = round(wf);
	if (exact && wf.period_length_ns != 0 && !same(r, wf))
		return fail(EDOM);
	struct pwmchip_waveform &out = hw[wf.hwpwm];
	if (sets_failing_midway != 0 && r.period_length_ns != 0) {
		--sets_failing_midway;
		out = { wf.hwpwm, 0, r.period_length_ns, 0, 0 };
		return fail(EIO);
	}
	bool &stale = stale_inversed[wf.hwpwm];
	if (r.period_length_ns == 0) {
		stale = polarity[wf.hwpwm] != POLARITY_DROPPED && out.duty_offset_ns != 0;
		out = r;
		if (dark_reads_shortest)
			out.period_length_ns = min_ticks * tick;
	} else if (dark_reads_shortest && r.duty_length_ns == 0) {
		out = { wf.hwpwm, 0, min_ticks * tick, 0, 0 };
		stale = false;
	} else if (stale && r.duty_offset_ns == 0) {
		out = { r.hwpwm, 0, r.period_length_ns, r.period_length_ns - r.duty_length_ns, 0 };
		stale = polarity[wf.hwpwm] == POLARITY_KEPT;
	} else {
		bool &kept_offset = latched[wf.hwpwm];
		const bool offset_only = out.period_length_ns == r.period_length_ns &&
			out.period_length_ns != 0 && out.duty_offset_ns != r.duty_offset_ns;
		const uint64_t kept = out.duty_offset_ns;
		out = r;
		if (offset_latched && offset_only && !kept_offset)
			out.duty_offset_ns = kept;
		kept_offset = offset_latched && offset_only && !kept_offset;
		stale = false;
	}
	return 0;
}

int cdev_model::ioctl(int64_t file, unsigned long request, void *arg)
{
	++ioctls;
	++calls[_IOC_NR(request) % 8];
	const auto channel = reinterpret_cast<uintptr_t>(arg);
	auto *wf = static_cast<struct pwmchip_waveform *>(arg);
	const bool held = request != PWM_IOCTL_REQUEST && request != PWM_IOCTL_FREE && wf->hwpwm < npwm &&
		holder[wf->hwpwm] == file;
	const bool beyond = held && refuses_above_longest && wf->period_length_ns / tick > max_ticks;
	switch (request) {
	case PWM_IOCTL_REQUEST:
		if (channel >= npwm)
			return fail(EINVAL);
		if (holder[channel] != nobody && holder[channel] != file)
			return fail(EBUSY);
		holder[channel] = file;
		return 0;
	case PWM_IOCTL_FREE:
		if (channel >= npwm)
			return fail(EINVAL);
		if (holder[channel] == file)
			release(static_cast<uint32_t>(channel));
		return 0;
	case PWM_IOCTL_ROUNDWF:
		if (!valid(*wf) || !held)
			return fail(EINVAL);
		if (beyond)
			return fail(ERANGE);
		*wf = round(*wf);
		if (sibling_period_after_round != 0) {
			leader_runs(sibling_period_after_round);
			sibling_period_after_round = 0;
		}
		return 0;
	case PWM_IOCTL_GETWF:
		if (wf->__pad != 0 || !held)
			return fail(EINVAL);
		if (no_read_back)
			return fail(EOPNOTSUPP);
		// The kernel answers in the caller's record: its channel stays.
		*wf = { wf->hwpwm, 0, hw[wf->hwpwm].period_length_ns, hw[wf->hwpwm].duty_length_ns,
			hw[wf->hwpwm].duty_offset_ns };
		return 0;
	case PWM_IOCTL_SETROUNDEDWF:
	case PWM_IOCTL_SETEXACTWF:
		if (!valid(*wf) || !held)
			return fail(EINVAL);
		if (beyond)
			return fail(ERANGE);
		// SETROUNDEDWF answers 0 even where it had to round up, as the
		// kernel does.
		return set(*wf, request == PWM_IOCTL_SETEXACTWF);
	default:
		return fail(ENOTTY);
	}
}

void cdev_model::close(int64_t file)
{
	for (uint32_t c = 0; c < max_npwm; ++c) {
		if (holder[c] == file)
			release(c);
	}
}

void cdev_model::release(uint32_t c)
{
	holder[c] = nobody;
	if (on_release == RELEASE_STOPS)
		hw[c] = { c, 0, 0, 0, 0 };
	if (on_release != RELEASE_SLEEPS)
		return;
	for (int64_t h : holder) {
		if (h != nobody)
			return;
	}
	for (uint32_t o = 0; o < max_npwm; ++o)
		hw[o] = { o, 0, 0, 0, 0 };
}

void cdev_model::leader_runs(uint64_t period)
{
	if (period != 0 && leader_yields && hw[period_follower].period_length_ns != 0)
		period = hw[period_follower].period_length_ns;
	const auto leader = static_cast<uint32_t>(period_leader);
	hw[leader] = { leader, 0, period, period / 2, 0 };
}

struct cdev_model plain_cdev_model(uint32_t npwm, uint64_t tick)
{
	struct cdev_model m = {};
	m.npwm = npwm;
	m.tick = tick;
	m.min_ticks = 1;
	m.max_ticks = INT64_MAX / tick;
	m.period_leader = -1;
	m.period_follower = -1;
	for (uint32_t c = 0; c < cdev_model::max_npwm; ++c) {
		m.holder[c] = cdev_model::nobody;
		m.hw[c].hwpwm = c;
	}
	return m;
}

struct cdev_model shared_counter_cdev_model()
{
	struct cdev_model m = plain_cdev_model(4, 1000);
	m.offsets = OFFSET_AT_END;
	m.offset_rounds_up = true;
	m.min_duty_ticks[3] = 1;
	m.polarity[0] = m.polarity[2] = m.polarity[3] = POLARITY_KEPT_ONCE;
	m.polarity[1] = POLARITY_KEPT;
	m.period_leader = 2;
	m.period_follower = 3;
	return m;
}
