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

// Asking the hardware how it would round takes the channel through the
// device node for as long as the asking lasts, on a handle of its own that
// lets go of it at once. A channel whose holder could not be told (no
// debugfs) is asked too: one that turns out held is left to its holder.
bool print_rounding(unsigned int number, unsigned int channel, uint64_t period, bool known_free)
{
	struct pwm_chip *own = pwm_chip_open_by_number(number);
	struct pwm *pwm = own != nullptr ? pwm_chip_get_pwm(own, channel) : nullptr;
	if (pwm == nullptr && errno == EBUSY && !known_free) {
		pwm_chip_close(own);
		printf("\n");
		return true;
	}
	struct period_rounding r = {};
	if (pwm == nullptr || !round_period(pwm, period, &r)) {
		printf("\n");
		const std::string what = "pwmchip" + std::to_string(number) + ": channel " +
			std::to_string(channel);
		report_errno(tool, what.c_str());
		pwm_chip_close(own);
		return false;
	}
	pwm_chip_close(own);
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
		const int holder = pwm_info_get_holder(info);
		pwm_info_free(info);
		const bool ask = options->period != 0 && device_node &&
			(holder == PWM_HOLDER_NONE || holder == PWM_HOLDER_UNKNOWN);
		if (!ask) {
			printf("\n");
			continue;
		}
		if (!print_rounding(pwm_chip_get_number(chip), channel, options->period,
				    holder == PWM_HOLDER_NONE))
			ok = false;
	}
	return ok;
}
