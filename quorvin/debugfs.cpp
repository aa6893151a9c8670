// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "debugfs.h"

#include <quorvin.h>

#include "env_dirs.h"

#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

// The two forms the kernel prints, one for chips that describe waveforms and
// one for the others:
//   "  actual configuration: 25000/100000 [+75000]"   (duty/period [+offset])
//   "  actual configuration:     enabled, 75000/100000 ns, inverse polarity"
static int parse_actual(const char *text, struct pwm_waveform *wf)
{
	long long duty = 0;
	long long period = 0;
	long long offset = 0;
	if (sscanf(text, "%lld/%lld [+%lld]", &duty, &period, &offset) == 3) {
		if (duty < 0 || period < 0 || offset < 0)
			return -1;
		*wf = { static_cast<uint64_t>(period), static_cast<uint64_t>(duty),
			static_cast<uint64_t>(offset) };
		return 0;
	}
	while (*text == ' ')
		++text;
	static const char enabled[] = "enabled,";
	static const char disabled[] = "disabled,";
	const bool on = strncmp(text, enabled, sizeof(enabled) - 1) == 0;
	if (!on && strncmp(text, disabled, sizeof(disabled) - 1) != 0)
		return -1;
	text += on ? sizeof(enabled) - 1 : sizeof(disabled) - 1;
	char polarity[8];
	uint64_t duty_cycle = 0;
	uint64_t state_period = 0;
	if (sscanf(text, " %" SCNu64 "/%" SCNu64 " ns, %7s polarity", &duty_cycle, &state_period, polarity) !=
		    3 ||
	    duty_cycle > state_period)
		return -1;
	if (!on)
		*wf = { 0, 0, 0 };
	else if (strcmp(polarity, "inverse") == 0)
		*wf = { state_period, state_period - duty_cycle,
			duty_cycle == state_period ? 0 : duty_cycle };
	else
		*wf = { state_period, duty_cycle, 0 };
	return 0;
}

int debugfs_actual(unsigned int chip, unsigned int channel, struct pwm_waveform *actual)
{
	FILE *f = fopen(quorvin_debugfs_pwm(), "re");
	if (f == nullptr)
		return -1;
	// A chip's header starts at the line's start ("0: platform/..., npwm: 4"),
	// its channels are indented (" pwm-1   (label): ...").
	char line[256];
	bool in_chip = false;
	bool in_channel = false;
	int ret = -1;
	static const char actual_key[] = "actual configuration:";
	while (fgets(line, sizeof(line), f) != nullptr) {
		unsigned int n = 0;
		if (line[0] >= '0' && line[0] <= '9') {
			in_chip = sscanf(line, "%u:", &n) == 1 && n == chip;
			in_channel = false;
		} else if (in_chip && sscanf(line, " pwm-%u ", &n) == 1) {
			in_channel = n == channel;
		} else if (in_channel) {
			const char *at = strstr(line, actual_key);
			if (at == nullptr)
				continue;
			if (parse_actual(at + sizeof(actual_key) - 1, actual) == 0)
				ret = 0;
			break;
		}
	}
	const int err = ferror(f) != 0 ? EIO : ENODATA;
	fclose(f);
	if (ret < 0)
		errno = err;
	return ret;
}
