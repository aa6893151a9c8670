// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "get_channel.h"

#include "channel_text.h"
#include "info_options.h"
#include "tool_text.h"
#include "units.h"

#include <quorvin.h>

#include <stdio.h>

#include <string>

bool get_channel(struct pwm_chip *chip, void *ctx)
{
	const auto *options = static_cast<const struct info_options *>(ctx);
	struct pwm_info *info = pwm_chip_get_pwm_info(chip, options->channel);
	if (info == nullptr) {
		const std::string what = "pwmchip" + std::to_string(pwm_chip_get_number(chip)) +
			": channel " + std::to_string(options->channel);
		report_errno("pwm-info", what.c_str());
		return false;
	}
	printf("holder=%s\n", holder_name(pwm_info_get_holder(info)));
	if (const char *label = pwm_info_get_label(info); label != nullptr)
		printf("consumer=%s\n", label);
	// An unreadable waveform leaves its keys out: the holder says why.
	struct pwm_waveform wf = {};
	if (pwm_info_get_waveform(info, &wf) == 0) {
		const uint64_t ns[] = { wf.period_length_ns, wf.duty_length_ns, wf.duty_offset_ns };
		const char *const names[] = { "period", "duty", "offset" };
		for (int i = 0; i < 3; ++i)
			printf("%s_ns=%llu\n", names[i], static_cast<unsigned long long>(ns[i]));
		printf("frequency_hz=%s\n", format_frequency_hz(wf.period_length_ns).c_str());
		printf("duty_percent=%s\n", format_percent(wf.duty_length_ns, wf.period_length_ns).c_str());
		if (options->unit != UNIT_NS) {
			for (int i = 0; i < 3; ++i)
				printf("%s_%s=%s\n", names[i], time_unit_name(options->unit),
				       format_time(ns[i], options->unit).c_str());
		}
	}
	pwm_info_free(info);
	return true;
}
