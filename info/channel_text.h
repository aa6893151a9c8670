// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The fields of pwm-info's line for a channel.
#ifndef PWM_INFO_CHANNEL_TEXT_H
#define PWM_INFO_CHANNEL_TEXT_H

#include <string>

struct pwm_info;
struct pwm_waveform;

// A holder (enum pwm_holder) as the tool names it: "free", "sysfs",
// "device", "kernel" or "unknown".
const char *holder_name(int holder);

// holder_name of the channel's holder, followed by
// consumer="LABEL" where the kernel names the holder.
std::string holder_text(const struct pwm_info *info);

// "disabled", "enabled period=P duty=D" with " offset=O" where it is not 0,
// or "unreadable".
std::string waveform_text(const struct pwm_info *info);

#endif
