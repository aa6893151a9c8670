// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-set: sets the waveform of one channel of a PWM chip and leaves it
// running, or holds the channel for a while.
#include "chip_targets.h"
#include "set_options.h"
#include "tool_text.h"
#include "units.h"

#include <quorvin.h>

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

namespace {

const char tool[] = "pwm-set";

// "pwm-set: pwmchipN: channel M: WHAT: description of errno", with a word
// on who may hold a busy channel.
void report_channel(struct pwm_chip *chip, unsigned int channel, const char *what)
{
	const int err = errno;
	std::string text = "pwmchip" + std::to_string(pwm_chip_get_number(chip)) + ": channel " +
		std::to_string(channel);
	if (what != nullptr)
		text += std::string(": ") + what;
	fprintf(stderr, "%s: %s: %s%s\n", tool, text.c_str(), strerror(err),
		err == EBUSY ? " (held by another program or a kernel driver)" : "");
}

void print_key(const char *key, const std::string &value)
{
	printf("%s=%s\n", key, value.c_str());
}

void print_time_key(const char *part, enum written_as as, enum time_unit unit, uint64_t ns, uint64_t period)
{
	if (as == WRITTEN_SHARE)
		print_key((std::string(part) + "_percent").c_str(), format_percent(ns, period));
	else if (as == WRITTEN_TIME && unit != UNIT_NS)
		print_key((std::string(part) + "_" + time_unit_name(unit)).c_str(), format_time(ns, unit));
}

// The waveform in nanoseconds, then in the units it was asked in.
void print_waveform(const struct pwm_waveform &wf, const struct set_options &o)
{
	print_key("period_ns", std::to_string(wf.period_length_ns));
	print_key("duty_ns", std::to_string(wf.duty_length_ns));
	print_key("offset_ns", std::to_string(wf.duty_offset_ns));
	if (o.period_as == WRITTEN_FREQUENCY)
		print_key("frequency_hz", format_frequency_hz(wf.period_length_ns));
	print_time_key("period", o.period_as, o.period_unit, wf.period_length_ns, wf.period_length_ns);
	print_time_key("duty", o.duty_as, o.duty_unit, wf.duty_length_ns, wf.period_length_ns);
	print_time_key("offset", o.offset_as, o.offset_unit, wf.duty_offset_ns, wf.period_length_ns);
}

const char cannot_round[] = "the kernel cannot be asked how it rounds through sysfs";

// -r: the kernel's answer, through the device node, for as long as the
// asking lasts.
int print_rounding(struct pwm_chip *chip, const struct set_options &o)
{
	if (pwm_chip_has_device_node(chip) == 0) {
		fprintf(stderr, "%s: pwmchip%u: %s\n", tool, pwm_chip_get_number(chip), cannot_round);
		return 1;
	}
	struct pwm *pwm = pwm_chip_get_pwm(chip, o.channel);
	if (pwm == nullptr) {
		report_channel(chip, o.channel, nullptr);
		return 1;
	}
	struct pwm_waveform wf = o.wf;
	if (pwm_round_waveform(pwm, &wf) < 0) {
		if (errno == EOPNOTSUPP) {
			// Exported through sysfs, it was taken there.
			fprintf(stderr, "%s: pwmchip%u: channel %u: exported: %s\n", tool,
				pwm_chip_get_number(chip), o.channel, cannot_round);
		} else {
			report_channel(chip, o.channel, "cannot round");
		}
		return 1;
	}
	print_waveform(wf, o);
	return 0;
}

// Holds until one of the signals comes, or for ns where until_signal is
// not set. The signals are blocked before the channel is taken, so that one
// sent meanwhile ends the hold at once rather than the program.
void wait_hold(const sigset_t &signals, bool until_signal, uint64_t ns)
{
	if (until_signal) {
		while (sigwaitinfo(&signals, nullptr) < 0 && errno == EINTR) {
		}
		return;
	}
	struct timespec start;
	clock_gettime(CLOCK_MONOTONIC, &start);
	for (;;) {
		struct timespec now;
		clock_gettime(CLOCK_MONOTONIC, &now);
		const uint64_t elapsed = static_cast<uint64_t>(now.tv_sec - start.tv_sec) * 1000000000U +
			static_cast<uint64_t>(now.tv_nsec) - static_cast<uint64_t>(start.tv_nsec);
		if (elapsed >= ns)
			return;
		// A day at a time: a 32-bit time_t does not reach 2^64 ns.
		const uint64_t left = ns - elapsed < 86400000000000ULL ? ns - elapsed : 86400000000000ULL;
		const struct timespec wait = { static_cast<time_t>(left / 1000000000U),
					       static_cast<long>(left % 1000000000U) };
		// A signal, or the time is up (EAGAIN); EINTR goes on waiting.
		if (sigtimedwait(&signals, nullptr, &wait) >= 0 || errno != EINTR)
			return;
	}
}

// -v: what the hardware runs now, as its driver reads it back. Through
// sysfs that takes the kernel's debugfs listing, root's: where it cannot be
// had, what the kernel accepted is shown, and said to be only that.
int print_running(struct pwm_chip *chip, struct pwm *pwm, const struct set_options &o)
{
	struct pwm_waveform wf;
	if (pwm_get_hardware_waveform(pwm, &wf) < 0) {
		if (errno != ENODATA && errno != EACCES && errno != EPERM && errno != ENOENT) {
			report_channel(chip, o.channel, "set, but cannot be read back");
			return -1;
		}
		report_channel(chip, o.channel,
			       "the hardware cannot be read back, shown is what the kernel accepted");
		if (pwm_get_waveform(pwm, &wf) < 0) {
			report_channel(chip, o.channel, "set, but cannot be read back");
			return -1;
		}
	}
	print_waveform(wf, o);
	return 0;
}

int set_channel(struct pwm_chip *chip, const struct set_options &o)
{
	// By default through sysfs, exported, so that no driver's release
	// stops the output as the tool ends; held, through the device node
	// where the chip has one.
	struct pwm *pwm = o.hold ? pwm_chip_get_pwm(chip, o.channel) : pwm_chip_export_pwm(chip, o.channel);
	if (pwm == nullptr) {
		report_channel(chip, o.channel, nullptr);
		return 1;
	}
	struct pwm_waveform wf = o.wf;
	if (pwm_set_waveform(pwm, &wf) < 0) {
		const std::string what = "cannot set period_ns=" + std::to_string(wf.period_length_ns) +
			" duty_ns=" + std::to_string(wf.duty_length_ns) +
			" offset_ns=" + std::to_string(wf.duty_offset_ns);
		report_channel(chip, o.channel, what.c_str());
		return 1;
	}
	if (o.verbose) {
		if (print_running(chip, pwm, o) < 0)
			return 1;
		fflush(stdout);
	}
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	struct set_options options;
	if (const int status = parse_set_options(argc, argv, &options); status >= 0)
		return status;

	sigset_t signals;
	sigemptyset(&signals);
	sigaddset(&signals, SIGINT);
	sigaddset(&signals, SIGTERM);
	sigaddset(&signals, SIGHUP);
	if (options.hold)
		sigprocmask(SIG_BLOCK, &signals, nullptr);

	const struct chip_target target = { options.chip, options.chip };
	struct pwm_chip *chip = open_chip_target(target);
	if (chip == nullptr) {
		report_errno(tool, options.chip);
		return 1;
	}
	const int status = options.round ? print_rounding(chip, options) : set_channel(chip, options);
	if (status == 0 && options.hold)
		wait_hold(signals, options.hold_until_signal, options.hold_ns);
	pwm_chip_close(chip);
	return status;
}
