// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// What the library promises of a waveform, as the fuzz targets check it, and
// the reader that turns a fuzz input into the values they ask for.
#ifndef QUORVIN_FUZZ_INPUT_H
#define QUORVIN_FUZZ_INPUT_H

#include <quorvin.h>

#include <stddef.h>
#include <stdint.h>

// The kernel's own rules for a waveform; the library refuses any other with
// EINVAL before anything is written.
inline bool waveform_valid(const struct pwm_waveform &wf)
{
	return wf.period_length_ns <= INT64_MAX && wf.duty_length_ns <= wf.period_length_ns &&
		(wf.duty_offset_ns == 0 || wf.duty_offset_ns < wf.period_length_ns);
}

// The header's "nearest at or below": whether the hardware running r keeps
// that promise for wf. An offset asked counts as dropped where r has an
// active and an inactive part and no offset.
inline bool at_or_below(const struct pwm_waveform &wf, const struct pwm_waveform &r)
{
	if (wf.period_length_ns == 0)
		return r.duty_length_ns == 0;
	const bool offset_shows = r.duty_length_ns != 0 && r.duty_length_ns < r.period_length_ns;
	return r.period_length_ns <= wf.period_length_ns && r.duty_length_ns <= wf.duty_length_ns &&
		r.duty_offset_ns <= wf.duty_offset_ns &&
		!(wf.duty_offset_ns != 0 && r.duty_offset_ns == 0 && offset_shows);
}

inline bool same_waveform(const struct pwm_waveform &a, const struct pwm_waveform &b)
{
	return a.period_length_ns == b.period_length_ns && a.duty_length_ns == b.duty_length_ns &&
		a.duty_offset_ns == b.duty_offset_ns;
}

// What pwm_get_waveform says of an output: one without an active part is
// switched off, whatever period it runs at.
inline struct pwm_waveform read_back_form(const struct pwm_waveform &wf)
{
	return wf.duty_length_ns == 0 ? pwm_waveform{} : wf;
}

// Whether two waveforms are the same output: an offset shows only where
// there is an active and an inactive part.
inline bool same_output(const struct pwm_waveform &a, const struct pwm_waveform &b)
{
	const bool shows = a.duty_length_ns != 0 && a.duty_length_ns < a.period_length_ns;
	return a.period_length_ns == b.period_length_ns && a.duty_length_ns == b.duty_length_ns &&
		(!shows || a.duty_offset_ns == b.duty_offset_ns);
}

// The fuzz input, read front to back; zeros once it runs out.
struct fuzz_input {
	const uint8_t *data;
	size_t size;
	uint8_t byte()
	{
		if (size == 0)
			return 0;
		--size;
		return *data++;
	}
	uint64_t u64()
	{
		uint64_t v = 0;
		for (int i = 0; i < 8; ++i)
			v = v << 8 | byte();
		return v;
	}
	// A value around the edges of a driver with this clock tick and
	// shortest period, or any.
	uint64_t value(uint64_t tick, uint64_t min_period)
	{
		switch (byte() % 9) {
		case 0:
			return 0;
		case 1:
			return 1;
		case 2:
			return tick * (1 + byte());
		case 3:
			return 100000;
		case 4:
			return (1ULL << 63) - 1;
		case 5:
			return 1ULL << 63;
		case 6:
			return UINT64_MAX;
		case 7:
			return min_period - 1;
		default:
			return u64();
		}
	}
};

#endif
