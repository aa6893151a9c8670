// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "channel_text.h"

#include <quorvin.h>

const char *holder_name(int holder)
{
	switch (holder) {
	case PWM_HOLDER_NONE:
		return "free";
	case PWM_HOLDER_SYSFS:
		return "sysfs";
	case PWM_HOLDER_DEVICE:
		return "device";
	case PWM_HOLDER_KERNEL:
		return "kernel";
	default:
		return "unknown";
	}
}

std::string holder_text(const struct pwm_info *info)
{
	const int holder = pwm_info_get_holder(info);
	std::string text = holder_name(holder);
	// A free channel has no holder to name; a sysfs holder's label is
	// always "sysfs": nothing to add.
	if (holder == PWM_HOLDER_NONE || holder == PWM_HOLDER_SYSFS)
		return text;
	if (const char *label = pwm_info_get_label(info); label != nullptr)
		text += std::string(" consumer=\"") + label + "\"";
	return text;
}

std::string waveform_text(const struct pwm_info *info)
{
	struct pwm_waveform wf = {};
	if (pwm_info_get_waveform(info, &wf) < 0)
		return "unreadable";
	if (wf.period_length_ns == 0)
		return "disabled";
	std::string text = "enabled period=" + std::to_string(wf.period_length_ns) +
		" duty=" + std::to_string(wf.duty_length_ns);
	if (wf.duty_offset_ns != 0)
		text += " offset=" + std::to_string(wf.duty_offset_ns);
	return text;
}
