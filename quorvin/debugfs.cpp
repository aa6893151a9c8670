// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "debugfs.h"

#include <quorvin.h>

#include "env_dirs.h"
#include "kernel_file.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// A cursor over one line of the listing: each step either takes what it
// names and moves on, or takes nothing and fails.
void skip_blanks(const char **p)
{
	while (**p == ' ' || **p == '\t')
		++*p;
}

bool take(const char **p, const char *text)
{
	const size_t n = strlen(text);
	if (strncmp(*p, text, n) != 0)
		return false;
	*p += n;
	return true;
}

bool take_u64(const char **p, uint64_t *v)
{
	const char *s = *p;
	if (*s < '0' || *s > '9')
		return false;
	uint64_t x = 0;
	for (; *s >= '0' && *s <= '9'; ++s) {
		const auto digit = static_cast<uint64_t>(*s - '0');
		if (x > (UINT64_MAX - digit) / 10)
			return false;
		x = x * 10 + digit;
	}
	*v = x;
	*p = s;
	return true;
}

// The two forms the kernel prints, one for chips that describe waveforms and
// one for the others:
//   "  actual configuration: 25000/100000 [+75000]"   (duty/period [+offset])
//   "  actual configuration:     enabled, 75000/100000 ns, inverse polarity"
int parse_actual(const char *text, struct pwm_waveform *wf, uint64_t *shown_period)
{
	skip_blanks(&text);
	const char *p = text;
	uint64_t duty = 0;
	uint64_t period = 0;
	uint64_t offset = 0;
	if (take_u64(&p, &duty) && take(&p, "/") && take_u64(&p, &period) && take(&p, " [+") &&
	    take_u64(&p, &offset) && take(&p, "]")) {
		*wf = { period, duty, offset };
		*shown_period = period;
		return 0;
	}

	p = text;
	const bool on = take(&p, "enabled,");
	if (!on && !take(&p, "disabled,"))
		return -1;
	skip_blanks(&p);
	if (!take_u64(&p, &duty) || !take(&p, "/") || !take_u64(&p, &period) || !take(&p, " ns, "))
		return -1;
	const bool inverse = take(&p, "inverse");
	if (!inverse && !take(&p, "normal"))
		return -1;
	// A duty above the period is no waveform; it is passed on as it is read,
	// for the caller to see.
	*shown_period = period;
	if (!on)
		*wf = { 0, 0, 0 };
	else if (inverse && duty <= period)
		*wf = { period, period - duty, duty == period ? 0 : duty };
	else
		*wf = { period, duty, 0 };
	return 0;
}

} // namespace

// " pwm-3   (led-2               ): requested": the label between the
// brackets (which may hold brackets of its own), and whether it is held.
static void parse_holder(const char *p, struct debugfs_channel *out)
{
	skip_blanks(&p);
	if (!take(&p, "("))
		return;
	const char *end = strstr(p, "):");
	if (end == nullptr)
		return;
	size_t n = static_cast<size_t>(end - p);
	while (n > 0 && p[n - 1] == ' ')
		--n;
	if (n >= sizeof(out->label))
		n = sizeof(out->label) - 1;
	if (strncmp(p, "(null)", n) != 0 || n != 6) {
		memcpy(out->label, p, n);
		out->label[n] = '\0';
	}
	out->requested = strstr(end, " requested") != nullptr;
}

int debugfs_read_channel(unsigned int chip, unsigned int channel, struct debugfs_channel *out)
{
	*out = {};
	const char *listing = quorvin_debugfs_pwm();
	FILE *f = listing != nullptr ? kernel_file_fopen(listing) : nullptr;
	if (f == nullptr)
		return -1;
	// A chip's header starts at the line's start ("0: platform/..., npwm: 4"),
	// its channels are indented (" pwm-1   (label): ..."). Lines are read
	// whole, however long: a long label must not push the holder's flags
	// into a line of their own.
	char *line = nullptr;
	size_t room = 0;
	bool in_chip = false;
	bool in_channel = false;
	int ret = -1;
	while (getline(&line, &room, f) >= 0) {
		const char *p = line;
		uint64_t n = 0;
		if (take_u64(&p, &n)) {
			in_chip = take(&p, ":") && n == chip;
			in_channel = false;
			continue;
		}
		skip_blanks(&p);
		if (in_chip && take(&p, "pwm-") && take_u64(&p, &n)) {
			if (in_channel)
				break; // the next channel: no line of its hardware
			in_channel = n == channel;
			if (in_channel) {
				parse_holder(p, out);
				ret = 0;
			}
		} else if (in_channel && take(&p, "actual configuration:")) {
			out->has_actual = parse_actual(p, &out->actual, &out->shown_period) == 0;
			break;
		}
	}
	const int err = ferror(f) != 0 ? EIO : ENODATA;
	free(line);
	fclose(f);
	if (ret < 0)
		errno = err;
	return ret;
}

int debugfs_actual(unsigned int chip, unsigned int channel, struct pwm_waveform *actual,
		   uint64_t *shown_period)
{
	struct debugfs_channel entry;
	if (debugfs_read_channel(chip, channel, &entry) < 0)
		return -1;
	if (!entry.has_actual) {
		errno = ENODATA;
		return -1;
	}
	*actual = entry.actual;
	if (shown_period != nullptr)
		*shown_period = entry.shown_period;
	return 0;
}
