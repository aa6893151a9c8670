// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "period_rounding.h"

#include <quorvin.h>

namespace {

// The duty the hardware makes of duty at period, into *made.
bool made_duty(struct pwm *pwm, uint64_t period, uint64_t duty, uint64_t *made)
{
	struct pwm_waveform wf = { period, duty, 0 };
	if (pwm_round_waveform(pwm, &wf) < 0)
		return false;
	*made = wf.duty_length_ns;
	return true;
}

} // namespace

bool round_period(struct pwm *pwm, uint64_t period, struct period_rounding *out)
{
	// Asked at full duty: some drivers make a duty of 0 as an output
	// switched off, at their shortest period, whatever period was asked.
	struct pwm_waveform wf = { period, period, 0 };
	if (pwm_round_waveform(pwm, &wf) < 0)
		return false;
	*out = { wf.period_length_ns, 0 };

	// The smallest duty asked that comes back nonzero comes back as the
	// smallest the hardware makes: 64 calls at most, about 30 at 1 s.
	uint64_t made = wf.duty_length_ns;
	if (made == 0)
		return true;
	uint64_t lo = 1;
	uint64_t hi = period;
	while (lo < hi) {
		const uint64_t mid = lo + (hi - lo) / 2;
		if (!made_duty(pwm, period, mid, &made))
			return false;
		if (made != 0)
			hi = mid;
		else
			lo = mid + 1;
	}
	return made_duty(pwm, period, lo, &out->duty_step);
}
