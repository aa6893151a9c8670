// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "pwm_info.h"

#include <quorvin.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#define QUORVIN_API extern "C" __attribute__((visibility("default")))

struct pwm_info {
	unsigned int channel;
	int holder;
	bool has_label;
	char label[64];
	bool has_waveform;
	struct pwm_waveform wf;
};

struct pwm_info *pwm_info_new(unsigned int channel, int holder, const char *label,
			      const struct pwm_waveform *wf)
{
	auto *info = static_cast<struct pwm_info *>(calloc(1, sizeof(struct pwm_info)));
	if (info == nullptr)
		return nullptr;
	info->channel = channel;
	info->holder = holder;
	if (label != nullptr) {
		info->has_label = true;
		strncpy(info->label, label, sizeof(info->label) - 1);
	}
	if (wf != nullptr) {
		info->has_waveform = true;
		info->wf = *wf;
	}
	return info;
}

QUORVIN_API void pwm_info_free(struct pwm_info *info)
{
	free(info);
}

QUORVIN_API unsigned int pwm_info_get_channel(const struct pwm_info *info)
{
	return info->channel;
}

QUORVIN_API int pwm_info_get_holder(const struct pwm_info *info)
{
	return info->holder;
}

QUORVIN_API const char *pwm_info_get_label(const struct pwm_info *info)
{
	return info->has_label ? info->label : nullptr;
}

QUORVIN_API int pwm_info_get_waveform(const struct pwm_info *info, struct pwm_waveform *wf)
{
	if (!info->has_waveform) {
		errno = ENODATA;
		return -1;
	}
	*wf = info->wf;
	return 0;
}
