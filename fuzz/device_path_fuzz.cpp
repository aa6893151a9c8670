// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The library's device path against a model of the kernel's ioctls
// (tests/pwm_model/), on a driver and a sequence of calls the input picks:
// waveforms of every kind, duty-only steps, a sibling channel switching on,
// off, and between the library's check and its set, a driver failing halfway
// through a write. Held to the header's
// words: a success means the model runs the waveform's rounding, at or below
// what was asked; a refusal leaves the output as it was, with a documented
// errno, and comes only where the waveform cannot be made; a duty-only step
// costs one ioctl; pwm_get_waveform and pwm_round_waveform say what the
// model runs and would run.
#include "fuzz_input.h"
#include "cdev_interpose.h"

#include <quorvin.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

cdev_model model;

pwm_waveform ours(const pwmchip_waveform &k)
{
	return { k.period_length_ns, k.duty_length_ns, k.duty_offset_ns };
}

bool same(const pwm_waveform &a, const pwmchip_waveform &b)
{
	return same_waveform(a, ours(b));
}

pwmchip_waveform kernel_form(const pwm_waveform &wf)
{
	return { 1, 0, wf.period_length_ns, wf.duty_length_ns, wf.duty_offset_ns };
}

} // namespace

// The model's chip is /dev/zero, which the made-up dev folder links to.
cdev_model *interposed_model()
{
	return &model;
}

namespace {

std::string listing_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	char root[] = "/tmp/quorvin-fuzz-XXXXXX";
	if (mkdtemp(root) == nullptr)
		abort();
	const std::string dev = std::string(root) + "/dev";
	mkdir(dev.c_str(), 0755);
	if (symlink("/dev/zero", (dev + "/pwmchip0").c_str()) < 0)
		abort();
	setenv("QUORVIN_DEV_DIR", dev.c_str(), 1);
	setenv("QUORVIN_SYSFS_DIR", (std::string(root) + "/sys").c_str(), 1);
	setenv("QUORVIN_DEBUGFS_PWM", (std::string(root) + "/debugfs-pwm").c_str(), 1);
	// The chip's count, where describing a channel reads it.
	const std::string chip = std::string(root) + "/sys/pwmchip0";
	if (mkdir((std::string(root) + "/sys").c_str(), 0755) < 0 || mkdir(chip.c_str(), 0755) < 0)
		abort();
	FILE *npwm = fopen((chip + "/npwm").c_str(), "w");
	if (npwm == nullptr)
		abort();
	fputs("2\n", npwm);
	fclose(npwm);
	listing_path = std::string(root) + "/debugfs-pwm";
	return 0;
}

namespace {

// Channel 0 is another process's while it runs.
bool sibling_held()
{
	return model.holder[0] != -1 || model.hw[0].period_length_ns != 0;
}

// The kernel's listing of the model's chip: channel 0 held by another
// process or free, channel 1 by the library, each with what it runs.
void write_listing()
{
	FILE *f = fopen(listing_path.c_str(), "w");
	if (f == nullptr)
		abort();
	fputs("0: platform/4ff00000.pwm, npwm: 2\n", f);
	for (unsigned int c = 0; c < 2; ++c) {
		const pwmchip_waveform &hw = model.hw[c];
		const bool held = c == 1 || sibling_held();
		fprintf(f, " pwm-%u   (%-20.20s):%s\n  actual configuration: %llu/%llu [+%llu]\n", c,
			held ? "pwm-cdev (pid=1)" : "(null)", held ? " requested" : "",
			static_cast<unsigned long long>(hw.duty_length_ns),
			static_cast<unsigned long long>(hw.period_length_ns),
			static_cast<unsigned long long>(hw.duty_offset_ns));
	}
	fclose(f);
}

// Describing both channels asks the device nothing but the read-back of the
// library's own, and says who holds each and what it runs.
void check_descriptions(pwm_chip *chip)
{
	write_listing();
	const auto requests = model.calls[_IOC_NR(PWM_IOCTL_REQUEST)];
	const int64_t holder0 = model.holder[0];
	for (unsigned int c = 0; c < 2; ++c) {
		pwm_info *info = pwm_chip_get_pwm_info(chip, c);
		pwm_waveform wf = {};
		const int want = c == 1 || sibling_held() ? PWM_HOLDER_DEVICE : PWM_HOLDER_NONE;
		if (info == nullptr || pwm_info_get_holder(info) != want ||
		    pwm_info_get_waveform(info, &wf) != 0 ||
		    !same_waveform(wf, read_back_form(ours(model.hw[c]))))
			abort();
		pwm_info_free(info);
	}
	if (model.calls[_IOC_NR(PWM_IOCTL_REQUEST)] != requests || model.holder[0] != holder0)
		abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_input in{ data, size };
	static const uint64_t ticks[] = { 1, 5, 38, 1000, 30517 };
	// Two channels: the library drives channel 1, another process channel 0.
	const uint8_t tick_byte = in.byte();
	model = plain_cdev_model(2, ticks[tick_byte % 5]);
	model.no_read_back = (tick_byte & 128) != 0;
	static const release_effect releases[] = { RELEASE_KEEPS, RELEASE_STOPS, RELEASE_SLEEPS,
						   RELEASE_KEEPS };
	model.on_release = releases[(tick_byte >> 5) & 3];
	const uint8_t shortest = in.byte();
	model.min_ticks = 1 + shortest % 8;
	model.rounds_answer_lower = (shortest & 64) != 0;
	const uint8_t longest = in.byte() % 3;
	model.max_ticks = longest == 0 ? 1000 : longest == 1 ? UINT32_MAX : INT64_MAX / model.tick;
	const uint8_t quirks = in.byte();
	model.offsets = static_cast<offset_support>(quirks % 3);
	model.period_leader = 0;
	if ((quirks & 4) != 0) {
		model.period_follower = 1;
		model.leader_yields = true;
	}
	if ((quirks & 8) != 0)
		model.polarity[1] = (quirks & 16) != 0 ? POLARITY_KEPT : POLARITY_KEPT_ONCE;
	model.offset_latched = (quirks & 32) != 0;
	model.offset_rounds_up = (quirks & 64) != 0;
	model.dark_reads_shortest = (quirks & 128) != 0;
	// Whether the old polarity may flip a waveform that is not read back.
	const bool keeps_polarity = model.polarity[1] != POLARITY_DROPPED;
	const bool polarity_stuck = model.polarity[1] == POLARITY_KEPT;

	pwm_chip *chip = pwm_chip_open_by_number(0);
	pwm *ch = chip != nullptr ? pwm_chip_get_pwm(chip, 1) : nullptr;
	if (ch == nullptr)
		abort();

	auto value = [&in] { return in.value(model.tick, model.tick * model.min_ticks); };
	pwm_waveform last = {};
	bool last_made = false;
	// The last waveform made: what the library compares a step with.
	pwm_waveform last_ok = {};
	bool any_ok = false;
	for (int op = 0; op < 16 && in.size > 0; ++op) {
		const uint8_t kind = in.byte() % 8;
		if (kind == 2 || kind == 3) {
			// The sibling, as another process drives it.
			model.leader_runs(kind == 2 ? model.tick * (model.min_ticks + in.byte()) : 0);
			continue;
		}
		if (kind == 4) {
			model.sibling_period_after_round = model.tick * (model.min_ticks + in.byte());
			continue;
		}
		if (kind == 6) {
			// The next write fails halfway, and maybe the put-back too.
			model.sets_failing_midway = static_cast<uint8_t>(1 + in.byte() % 2);
			continue;
		}
		if (kind == 7) {
			// The program ends and another takes the channel, or
			// (every other op) the channel alone is given back and
			// taken again: the driver does what it does on release,
			// and the handle starts from whatever that left.
			const bool release_only = op % 2 == 1;
			const pwmchip_waveform held = model.hw[1];
			pwm *was = ch;
			if (release_only)
				pwm_release(ch);
			else
				pwm_chip_close(chip);
			const bool stops = model.on_release == RELEASE_STOPS ||
				(model.on_release == RELEASE_SLEEPS && model.holder[0] == cdev_model::nobody);
			if (model.holder[1] != cdev_model::nobody ||
			    !same_waveform(ours(model.hw[1]), stops ? pwm_waveform{} : ours(held)))
				abort();
			if (release_only) {
				// A released handle drives nothing; taken again,
				// it is the same one.
				pwm_waveform any = { model.tick * model.min_ticks, 0, 0 };
				const int ioctls = model.ioctls;
				if (pwm_set_waveform(was, &any) != -1 || errno != EBADF ||
				    model.ioctls != ioctls)
					abort();
				ch = pwm_chip_get_pwm(chip, 1);
				if (ch != was)
					abort();
			} else {
				chip = pwm_chip_open_by_number(0);
				ch = chip != nullptr ? pwm_chip_get_pwm(chip, 1) : nullptr;
				if (ch == nullptr)
					abort();
			}
			last_made = any_ok = false;
			continue;
		}
		pwm_waveform wf = { value(), value(), value() % 4 == 0 ? 0 : value() };
		if (kind == 1 && last_made)
			wf = { last.period_length_ns, value(), last.duty_offset_ns };
		if (kind == 5) {
			// Asked with no sibling moving: the answer is the model's now.
			model.sibling_period_after_round = 0;
			pwm_waveform r = wf;
			const pwmchip_waveform before = model.hw[1];
			const int ret = pwm_round_waveform(ch, &r);
			if (waveform_valid(wf) ? (ret != 0 || !same(r, model.round(kernel_form(wf))))
					       : (ret == 0 || errno != EINVAL))
				abort();
			pwm_waveform got = {};
			const int read = pwm_get_waveform(ch, &got);
			if (model.no_read_back
				    ? (read == 0 || errno != EOPNOTSUPP)
				    : (read != 0 || !same_waveform(got, read_back_form(ours(before))) ||
				       !same_waveform(got, read_back_form(ours(model.hw[1])))))
				abort();
			check_descriptions(chip);
			continue;
		}

		const pwmchip_waveform before = model.hw[1];
		const int ioctls_before = model.ioctls;
		const bool duty_step = last_made && wf.period_length_ns == last.period_length_ns &&
			wf.period_length_ns != 0 && wf.duty_offset_ns == 0 && last.duty_offset_ns == 0;
		// A sibling moving after the check may make a refused waveform
		// makeable by the time the call returns, but not before.
		const bool raced = model.sibling_period_after_round != 0;
		const uint8_t midway_before = model.sets_failing_midway;
		pwm_waveform asked = wf;
		errno = 0;
		const int ret = pwm_set_waveform(ch, &asked);
		const int err = errno;
		model.sibling_period_after_round = 0;
		const int failed_midway = midway_before - model.sets_failing_midway;
		if (memcmp(&asked, &wf, sizeof(wf)) != 0)
			abort(); // the caller's record is left as it was
		const pwmchip_waveform makes = model.round(kernel_form(wf));
		if (ret == 0) {
			// Read back off, an output may show the driver's shortest
			// period: no active part either way.
			const bool off = (wf.period_length_ns == 0 ||
					  (model.dark_reads_shortest && makes.duty_length_ns == 0)) &&
				model.hw[1].duty_length_ns == 0;
			// A duty-only step is not read back (the header says so): a
			// driver that flips its polarity unasked is not seen there.
			const bool maybe_step = any_ok && wf.period_length_ns == last_ok.period_length_ns &&
				wf.duty_offset_ns == 0 && last_ok.duty_offset_ns == 0;
			// Nor is anything on a driver that cannot read back: its
			// exact set is its word.
			const bool unseen = (maybe_step || model.no_read_back) && keeps_polarity;
			const bool unread = model.no_read_back && model.offset_latched;
			if (!waveform_valid(wf) || !at_or_below(wf, ours(makes)) ||
			    (!off && !unseen && !unread && !same_output(ours(model.hw[1]), ours(makes))))
				abort();
			if (duty_step && model.ioctls - ioctls_before != 1)
				abort();
		} else {
			// A refusal leaves the output as it was; only a driver that
			// flips every waveform without an offset flips the old one
			// too as it is put back.
			const bool restore_flipped = err == EIO && polarity_stuck &&
				before.period_length_ns != 0 && before.duty_offset_ns == 0;
			// A put-back that failed halfway itself is all the library
			// could do. An output without an active part is put back
			// as one, at whatever period the driver now rounds to: the
			// next waveform is checked in full.
			// What ran before a duty-only step is not read: it is put
			// back as the last waveform made was asked, which the driver may now
			// round to another period where a sibling moved meanwhile.
			const bool dark = model.hw[1].duty_length_ns == 0 && before.duty_length_ns == 0;
			const bool maybe_step = any_ok && wf.period_length_ns == last_ok.period_length_ns &&
				wf.duty_offset_ns == 0 && last_ok.duty_offset_ns == 0;
			const bool step_put_back = maybe_step && failed_midway == 1 &&
				same_output(ours(model.hw[1]), ours(model.round(kernel_form(last_ok))));
			// Without a read-back, what ran before a handle's first
			// waveform is not known: a write failing halfway then stays.
			const bool unknown_before = model.no_read_back && failed_midway != 0;
			// A driver whose rounding of what it reports comes out lower
			// cannot be given back exactly what it ran before, unless
			// this handle made it.
			const pwmchip_waveform low = model.round(before);
			const bool lowered = model.rounds_answer_lower &&
				(same_output(ours(model.hw[1]), ours(low)) ||
				 (model.hw[1].duty_length_ns == 0 && low.duty_length_ns == 0));
			if (!same_output(ours(model.hw[1]), ours(before)) && !dark && !step_put_back &&
			    !restore_flipped && !unknown_before && !lowered && failed_midway < 2)
				abort();
			if (failed_midway != 0 && err != EIO)
				abort(); // the driver's own error, as it gave it
			if (err != EINVAL && err != EOPNOTSUPP && err != EIO && err != EAGAIN)
				abort();
			if (waveform_valid(wf) && at_or_below(wf, ours(makes)) && err != EAGAIN && !raced &&
			    !polarity_stuck && failed_midway == 0 &&
			    !(model.no_read_back && model.rounds_answer_lower && err == EOPNOTSUPP))
				abort(); // refused what the hardware makes
			if (!waveform_valid(wf) && (err != EINVAL || model.ioctls != ioctls_before))
				abort();
		}
		last = wf;
		last_made = ret == 0;
		if (ret == 0) {
			last_ok = wf;
			any_ok = true;
		}
	}
	pwm_chip_close(chip);
	return 0;
}
