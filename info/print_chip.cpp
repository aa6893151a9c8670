// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "print_chip.h"

#include "channel_text.h"
#include "info_options.h"
#include "period_rounding.h"
#include "tool_text.h"

#include <quorvin.h>

#include <errno.h>
#include <stdio.h>

#include <string>

namespace {

const char tool[] = "pwm-info";

void report_channel(const struct pwm_chip *chip, unsigned int channel)
{
	const std::string what = "pwmchip" + std::to_string(pwm_chip_get_number(chip)) + ": channel " +
		std::to_string(channel);
	report_errno(tool, what.c_str());
}

// The channel is requested through the device node only while the chip is
// open: closing it lets go again.
bool print_rounding(struct pwm_chip *chip, unsigned int channel, uint64_t period)
{
	struct pwm *pwm = pwm_chip_get_pwm(chip, channel);
	struct period_rounding r = {};
	if (pwm == nullptr || !round_period(pwm, period, &r)) {
		printf("\n");
		report_channel(chip, channel);
		return false;
	}
	if (r.duty_step == 0)
		printf("\trounded period=%llu duty-step=none\n", static_cast<unsigned long long>(r.period));
	else
		printf("\trounded period=%llu duty-step=%llu\n", static_cast<unsigned long long>(r.period),
		       static_cast<unsigned long long>(r.duty_step));
	return true;
}

} // namespace

bool print_chip(struct pwm_chip *chip, void *ctx)
{
	const auto *options = static_cast<const struct info_options *>(ctx);
	const unsigned int npwm = pwm_chip_get_npwm(chip);
	if (npwm == 0) {
		// No channels to walk: the library said why.
		const std::string what = "pwmchip" + std::to_string(pwm_chip_get_number(chip)) +
			": channel count";
		report_errno(tool, what.c_str());
		return false;
	}
	const bool device_node = pwm_chip_has_device_node(chip) != 0;
	printf("pwmchip%u - %u %s:\n", pwm_chip_get_number(chip), npwm, npwm == 1 ? "channel" : "channels");
	if (options->period != 0 && !device_node) {
		// Taking a channel to ask would export it.
		errno = EOPNOTSUPP;
		const std::string what = "pwmchip" + std::to_string(pwm_chip_get_number(chip)) +
			": -P cannot be asked through sysfs";
		report_errno(tool, what.c_str());
	}

	bool ok = true;
	for (unsigned int channel = 0; channel < npwm; ++channel) {
		struct pwm_info *info = pwm_chip_get_pwm_info(chip, channel);
		if (info == nullptr) {
			report_channel(chip, channel);
			ok = false;
			continue;
		}
		printf("\tchannel %u:\t%s\t%s", channel, holder_text(info).c_str(),
		       waveform_text(info).c_str());
		const bool free = pwm_info_get_holder(info) == PWM_HOLDER_NONE;
		pwm_info_free(info);
		if (options->period != 0 && device_node && free)
			ok = print_rounding(chip, channel, options->period) && ok;
		else
			printf("\n");
	}
	return ok;
}
