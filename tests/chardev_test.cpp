// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// libquorvin's character-device path against an emulated PWM chip. No
// kernel here has /dev/pwmchipN, so this test program supplies the one
// system call the path talks to the device with, ioctl (and close, which
// frees a file's channels): tests/pwm_model/ takes the library's calls on
// /dev/zero, which the made-up dev folder links to, and passes every other
// call on.
#include "run_tool.h"

#include "cdev_interpose.h"

#include <quorvin.h>

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// The chip: shared_counter_cdev_model's driver (tests/pwm_model/). Channels
// are held by an open file, or by sysfs for a channel exported there.
cdev_model chip_state;

} // namespace

cdev_model *interposed_model()
{
	return &chip_state;
}

namespace {

std::string waveform_text(const pwmchip_waveform &wf)
{
	return std::to_string(wf.period_length_ns) + "/" + std::to_string(wf.duty_length_ns) + "/" +
		std::to_string(wf.duty_offset_ns);
}

class ChardevTest : public testing::Test {
protected:
	void SetUp() override
	{
		chip_state = shared_counter_cdev_model();
		root_ = make_temp_dir();
		fs::create_directory(root_ + "/dev");
		fs::create_directory(root_ + "/sys");
		fs::create_symlink("/dev/zero", root_ + "/dev/pwmchip0");
		setenv("QUORVIN_DEV_DIR", (root_ + "/dev").c_str(), 1);
		setenv("QUORVIN_SYSFS_DIR", (root_ + "/sys").c_str(), 1);
		setenv("QUORVIN_DEBUGFS_PWM", (root_ + "/debugfs-pwm").c_str(), 1);
	}

	void TearDown() override
	{
		unsetenv("QUORVIN_DEV_DIR");
		unsetenv("QUORVIN_SYSFS_DIR");
		unsetenv("QUORVIN_DEBUGFS_PWM");
		remove_tree(root_);
	}

	std::string root_;
};

TEST_F(ChardevTest, ChannelsAreRequestedAndHeldUntilClose)
{
	pwm_chip *a = pwm_chip_open_by_number(0);
	ASSERT_NE(a, nullptr) << "the device is used; sysfs here is empty";
	pwm_chip *b = pwm_chip_open_by_number(0);
	ASSERT_NE(b, nullptr);

	pwm *a1 = pwm_chip_get_pwm(a, 1);
	ASSERT_NE(a1, nullptr);
	EXPECT_EQ(pwm_chip_get_pwm(a, 1), a1) << "one handle per channel";

	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm(b, 1), nullptr);
	EXPECT_EQ(errno, EBUSY) << "held by the other open file";
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm(a, 4), nullptr);
	EXPECT_EQ(errno, EINVAL) << "beyond the chip's channels";

	pwm_chip_close(a);
	for (int64_t h : chip_state.holder)
		EXPECT_EQ(h, -1) << "closing the chip frees its channels";
	EXPECT_NE(pwm_chip_get_pwm(b, 1), nullptr);
	pwm_chip_close(b);
}

TEST_F(ChardevTest, WaveformsAreRoundedDownOrRefusedUntouched)
{
	struct wf_case {
		const char *name;
		unsigned int channel;
		pwm_waveform wf;
		int result;
		int err;
		// Only where the count is the promise: one ioctl for a duty-only
		// step, none for a waveform refused before anything is asked; -1
		// elsewhere, where the promise is the output.
		int ioctls;
		pwmchip_waveform applied; // the channel's hardware afterwards
		uint64_t sibling_moves_to = 0; // channel 2's period, after the call's first ROUNDWF
		uint8_t sets_fail_midway = 0;
	};
	// In order, each from the state the one before left.
	// clang-format off
	const wf_case cases[] = {
		{ "first waveform: checked, read, set, read back", 2, { 50000, 20000, 0 }, 0, 0, -1, { 2, 0, 50000, 20000, 0 } },
		{ "only the duty changes: one ioctl", 2, { 50000, 21000, 0 }, 0, 0, 1, { 2, 0, 50000, 21000, 0 } },
		{ "a duty between steps rounds down", 2, { 50000, 21500, 0 }, 0, 0, 1, { 2, 0, 50000, 21000, 0 } },
		{ "a new period is checked again", 2, { 50500, 1000, 0 }, 0, 0, -1, { 2, 0, 50000, 1000, 0 } },
		{ "period below the shortest", 2, { 500, 0, 0 }, -1, EINVAL, -1, { 2, 0, 50000, 1000, 0 } },
		{ "offset the hardware drops", 2, { 50000, 1000, 20000 }, -1, EOPNOTSUPP, -1, { 2, 0, 50000, 1000, 0 } },
		{ "offset it rounds up", 2, { 50000, 1500, 48500 }, -1, EINVAL, -1, { 2, 0, 50000, 1000, 0 } },
		{ "duty above the period", 2, { 1000, 1001, 0 }, -1, EINVAL, 0, { 2, 0, 50000, 1000, 0 } },
		{ "offset at the period", 2, { 1000, 0, 1000 }, -1, EINVAL, 0, { 2, 0, 50000, 1000, 0 } },
		{ "period above 2^63 - 1", 2, { 1ULL << 63, 0, 0 }, -1, EINVAL, 0, { 2, 0, 50000, 1000, 0 } },
		{ "period 0 with a duty", 2, { 0, 5, 0 }, -1, EINVAL, 0, { 2, 0, 50000, 1000, 0 } },
		{ "period 0 switches off", 2, { 0, 0, 0 }, 0, 0, -1, { 2, 0, 0, 0, 0 } },
		{ "channel 2 runs again", 2, { 40000, 0, 0 }, 0, 0, -1, { 2, 0, 40000, 0, 0 } },
		{ "period held longer by a sibling", 3, { 20000, 10000, 0 }, -1, EINVAL, -1, { 3, 0, 0, 0, 0 } },
		{ "period held shorter by a sibling", 3, { 100000, 10000, 0 }, 0, 0, -1, { 3, 0, 40000, 10000, 0 } },
		{ "duty below the shortest it makes", 3, { 40000, 500, 0 }, -1, EINVAL, -1, { 3, 0, 40000, 10000, 0 } },
		{ "held longer, offset dropped too: the period is the reason", 3, { 20000, 10000, 5000 }, -1, EINVAL, -1,
		  { 3, 0, 40000, 10000, 0 } },
		{ "sibling moves longer between check and set", 3, { 200000, 10000, 0 }, -1, EINVAL, -1,
		  { 3, 0, 40000, 10000, 0 }, 300000 },
		{ "an offset ending the period", 2, { 100000, 50000, 50000 }, 0, 0, -1, { 2, 0, 100000, 50000, 50000 } },
		{ "duty-only step whose offset it cannot make", 2, { 100000, 40000, 50000 }, -1, EOPNOTSUPP, -1,
		  { 2, 0, 100000, 50000, 50000 } },
		{ "off after an offset", 2, { 0, 0, 0 }, 0, 0, -1, { 2, 0, 0, 0, 0 } },
		{ "old polarity kept: written twice", 2, { 100000, 0, 0 }, 0, 0, -1, { 2, 0, 100000, 0, 0 } },
		{ "channel 1: an offset ending the period", 1, { 100000, 20000, 80000 }, 0, 0, -1,
		  { 1, 0, 100000, 20000, 80000 } },
		{ "channel 1: off", 1, { 0, 0, 0 }, 0, 0, -1, { 1, 0, 0, 0, 0 } },
		{ "channel 1 keeps its polarity for good: EIO, off again as before", 1, { 100000, 20000, 0 }, -1, EIO, -1, { 1, 0, 0, 0, 0 } },
		{ "full duty: an offset that cannot show is dropped", 2, { 100000, 100000, 50000 }, 0, 0, -1, { 2, 0, 100000, 100000, 0 } },
		{ "the same offset asked, now made: read back", 2, { 100000, 50000, 50000 }, 0, 0, -1, { 2, 0, 100000, 50000, 50000 } },
		{ "no offset again", 2, { 60000, 30000, 0 }, 0, 0, -1, { 2, 0, 60000, 30000, 0 } },
		{ "a set failing halfway: EIO, what ran put back", 2, { 80000, 10000, 0 }, -1, EIO, -1, { 2, 0, 60000, 30000, 0 }, 0, 1 },
		{ "after a put-back a step in the old frame is checked in full, not a one-ioctl step", 2, { 60000, 31000, 0 }, 0, 0, 4,
		  { 2, 0, 60000, 31000, 0 } },
		{ "a duty step failing halfway: EIO, what ran put back", 2, { 60000, 32000, 0 }, -1, EIO, -1, { 2, 0, 60000, 31000, 0 }, 0, 1 },
	};
	// clang-format on

	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwms[cdev_model::max_npwm] = { nullptr, pwm_chip_get_pwm(chip, 1), pwm_chip_get_pwm(chip, 2),
					    pwm_chip_get_pwm(chip, 3) };
	ASSERT_NE(pwms[1], nullptr);
	ASSERT_NE(pwms[2], nullptr);
	ASSERT_NE(pwms[3], nullptr);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const int before = chip_state.ioctls;
		const int rounded_sets_before = chip_state.calls[_IOC_NR(PWM_IOCTL_SETROUNDEDWF)];
		chip_state.sibling_period_after_round = c.sibling_moves_to;
		chip_state.sets_failing_midway = c.sets_fail_midway;
		pwm_waveform wf = c.wf;
		errno = 0;
		EXPECT_EQ(pwm_set_waveform(pwms[c.channel], &wf), c.result);
		if (c.result < 0) {
			EXPECT_EQ(errno, c.err);
		}
		if (c.ioctls >= 0) {
			EXPECT_EQ(chip_state.ioctls - before, c.ioctls);
		}
		if (c.result < 0 && c.err != EIO) {
			EXPECT_EQ(chip_state.calls[_IOC_NR(PWM_IOCTL_SETROUNDEDWF)] - rounded_sets_before, 0)
				<< "refused, and never set";
		}
		const pwmchip_waveform &got = chip_state.hw[c.channel];
		EXPECT_EQ(got.hwpwm, c.applied.hwpwm);
		EXPECT_EQ(got.period_length_ns, c.applied.period_length_ns);
		EXPECT_EQ(got.duty_length_ns, c.applied.duty_length_ns);
		EXPECT_EQ(got.duty_offset_ns, c.applied.duty_offset_ns);
		EXPECT_EQ(wf.duty_length_ns, c.wf.duty_length_ns) << "the caller's record is left as it was";
	}
	pwm_chip_close(chip);
}

// The hardware read back and asked how it would round, and what a channel
// is doing seen without taking it.
TEST_F(ChardevTest, ChannelsAreReadBackRoundedAndDescribed)
{
	fs::create_directories(root_ + "/sys/pwmchip0");
	std::ofstream(root_ + "/sys/pwmchip0/npwm") << "4\n";
	chip_state.holder[3] = 99; // another open file
	chip_state.hw[0] = { 0, 0, 30000, 10000, 0 };
	std::ofstream(root_ + "/sys/pwmchip0/pwm1") << ""; // a file, not an exported channel

	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	EXPECT_EQ(pwm_chip_has_device_node(chip), 1);
	EXPECT_EQ(pwm_chip_get_npwm(chip), 4U);
	pwm *pwm = pwm_chip_get_pwm(chip, 2);
	ASSERT_NE(pwm, nullptr);
	pwm_waveform wf{ 50000, 21500, 0 };
	ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);
	pwm_waveform got{};
	EXPECT_EQ(pwm_get_waveform(pwm, &got), 0);
	EXPECT_EQ(got.duty_length_ns, 21000U) << "what the hardware runs";
	pwm_waveform dark{ 50000, 0, 0 };
	ASSERT_EQ(pwm_set_waveform(pwm, &dark), 0);
	got = { 1, 1, 1 };
	EXPECT_EQ(pwm_get_waveform(pwm, &got), 0);
	EXPECT_EQ(got.period_length_ns + got.duty_length_ns + got.duty_offset_ns, 0U)
		<< "no active part: off";
	ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);

	struct round_case {
		pwm_waveform asked, answer;
		int result;
	};
	const round_case rounds[] = {
		{ { 50500, 1500, 0 }, { 50000, 1000, 0 }, 0 },
		{ { 500, 0, 0 }, { 1000, 0, 0 }, 0 }, // rounded up, and said so
		{ { 50000, 1000, 20000 }, { 50000, 1000, 0 }, 0 }, // the offset dropped
		{ { 1000, 1001, 0 }, { 1000, 1001, 0 }, -1 },
	};
	for (const auto &c : rounds) {
		pwm_waveform r = c.asked;
		EXPECT_EQ(pwm_round_waveform(pwm, &r), c.result);
		EXPECT_EQ(r.period_length_ns, c.answer.period_length_ns);
		EXPECT_EQ(r.duty_length_ns, c.answer.duty_length_ns);
		EXPECT_EQ(r.duty_offset_ns, c.answer.duty_offset_ns);
	}
	EXPECT_EQ(chip_state.hw[2].duty_length_ns, 21000U) << "rounding changes no output";

	// Looking asks the device nothing: the rest comes from debugfs.
	struct info_case {
		bool listing;
		unsigned int channel;
		int holder;
		const char *label;
		bool has_waveform;
		pwm_waveform wf;
	};
	// clang-format off
	const info_case infos[] = {
		{ false, 0, PWM_HOLDER_UNKNOWN, nullptr, false, {} }, // no debugfs to tell free from held
		{ false, 1, PWM_HOLDER_UNKNOWN, nullptr, false, {} }, // its pwm1 in sysfs is no folder
		{ false, 2, PWM_HOLDER_DEVICE, nullptr, true, { 50000, 21000, 0 } }, // this handle's own
		{ false, 3, PWM_HOLDER_UNKNOWN, nullptr, false, {} },
		{ true, 0, PWM_HOLDER_KERNEL, "pwm-fan", true, { 30000, 10000, 0 } }, // a kernel driver's name alike
		{ true, 1, PWM_HOLDER_NONE, nullptr, true, {} }, // no active part: read back as off
		{ true, 3, PWM_HOLDER_DEVICE, "pwm-cdev (pid=99)", true, { 40000, 40000, 0 } },
		{ true, 2, PWM_HOLDER_DEVICE, "pwm-cdev (pid=1)", true, { 50000, 21000, 0 } },
	};
	// clang-format on
	for (const auto &c : infos) {
		SCOPED_TRACE(std::to_string(c.channel) + (c.listing ? " listed" : ""));
		fs::remove(root_ + "/debugfs-pwm");
		if (c.listing) {
			std::ofstream(root_ + "/debugfs-pwm")
				<< "0: platform/4ff00000.pwm, npwm: 4\n"
				   " pwm-0   (pwm-fan             ): requested enabled\n"
				   "  actual configuration:     enabled, 10000/30000 ns, normal polarity\n"
				   " pwm-1   ((null)              ):\n"
				   "  actual configuration:     enabled, 0/39 ns, normal polarity\n"
				   " pwm-2   (pwm-cdev (pid=1)    ): requested enabled\n"
				   " pwm-3   (pwm-cdev (pid=99)   ): requested enabled\n"
				   "  actual configuration:     enabled, 40000/40000 ns, normal polarity\n";
		}
		const int ioctls_before = chip_state.ioctls;
		pwm_info *info = pwm_chip_get_pwm_info(chip, c.channel);
		ASSERT_NE(info, nullptr) << strerror(errno);
		EXPECT_EQ(chip_state.ioctls - ioctls_before, c.channel == 2 ? 1 : 0)
			<< "only its own is read back";
		EXPECT_EQ(pwm_info_get_holder(info), c.holder);
		EXPECT_STREQ(pwm_info_get_label(info), c.label);
		pwm_waveform seen{ 1, 1, 1 };
		EXPECT_EQ(pwm_info_get_waveform(info, &seen) == 0, c.has_waveform);
		if (c.has_waveform) {
			EXPECT_EQ(seen.period_length_ns, c.wf.period_length_ns);
			EXPECT_EQ(seen.duty_length_ns, c.wf.duty_length_ns);
			EXPECT_EQ(seen.duty_offset_ns, c.wf.duty_offset_ns);
		}
		pwm_info_free(info);
	}
	EXPECT_EQ(chip_state.holder[0], -1) << "looking leaves a free channel free";
	EXPECT_EQ(chip_state.holder[3], 99);
	pwm_chip_close(chip);
}

// A driver that cannot read its hardware back (GETWF is EOPNOTSUPP): what its
// exact set took is made, and what no exact set takes is refused before
// anything is written.
TEST_F(ChardevTest, DriverWithoutReadBackIsTakenAtItsExactSetsWord)
{
	chip_state = plain_cdev_model(2, 1000);
	chip_state.no_read_back = true;
	struct case_row {
		const char *name;
		bool rounds_answer_lower;
		uint8_t fails_midway;
		pwm_waveform wf;
		int result;
		int err;
		pwmchip_waveform hw;
	};
	// In order, each from the state the one before left.
	// clang-format off
	const case_row cases[] = {
		{ "made exactly", false, 0, { 40000, 10000, 0 }, 0, 0, { 1, 0, 40000, 10000, 0 } },
		{ "a duty step", false, 0, { 40000, 12000, 0 }, 0, 0, { 1, 0, 40000, 12000, 0 } },
		{ "no exact set takes its own rounding: refused, untouched", true, 0, { 50000, 20000, 0 }, -1, EOPNOTSUPP,
		  { 1, 0, 40000, 12000, 0 } },
		{ "failing halfway: put back as last asked", false, 1, { 60000, 30000, 0 }, -1, EIO, { 1, 0, 40000, 12000, 0 } },
		{ "off", true, 0, { 0, 0, 0 }, 0, 0, { 1, 0, 0, 0, 0 } },
	};
	// clang-format on
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 1);
	ASSERT_NE(pwm, nullptr);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		chip_state.rounds_answer_lower = c.rounds_answer_lower;
		chip_state.sets_failing_midway = c.fails_midway;
		pwm_waveform wf = c.wf;
		errno = 0;
		EXPECT_EQ(pwm_set_waveform(pwm, &wf), c.result);
		if (c.result < 0) {
			EXPECT_EQ(errno, c.err);
		}
		EXPECT_EQ(waveform_text(chip_state.hw[1]), waveform_text(c.hw));
	}
	pwm_waveform got{};
	errno = 0;
	EXPECT_EQ(pwm_get_waveform(pwm, &got), -1);
	EXPECT_EQ(errno, EOPNOTSUPP) << "the kernel cannot say";
	errno = 0;
	EXPECT_EQ(pwm_get_hardware_waveform(pwm, &got), -1);
	EXPECT_EQ(errno, ENODATA) << "no read-back, as through sysfs";
	pwm_chip_close(chip);
}

// A driver whose rounding of what it reports comes out lower again (no exact
// set takes its own answer): what a failed call put back is what ran, not a
// step below it.
TEST_F(ChardevTest, PutBackOnADriverThatRoundsItsAnswerLowerIsWhatRan)
{
	chip_state = plain_cdev_model(2, 1000);
	chip_state.rounds_answer_lower = true;
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 1);
	ASSERT_NE(pwm, nullptr);
	pwm_waveform wf{ 40000, 10000, 0 };
	ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);
	EXPECT_EQ(waveform_text(chip_state.hw[1]), "40000/9000/0");
	chip_state.sets_failing_midway = 1;
	wf = { 60000, 30000, 0 };
	errno = 0;
	EXPECT_EQ(pwm_set_waveform(pwm, &wf), -1);
	EXPECT_EQ(errno, EIO);
	EXPECT_EQ(waveform_text(chip_state.hw[1]), "40000/9000/0");
	pwm_chip_close(chip);
}

// What runs after the hold ends: the driver's to say through the device;
// kept on every driver for a channel exported through sysfs.
TEST_F(ChardevTest, ReleaseThroughTheDeviceIsTheDriversExportKeepsRunning)
{
	struct case_row {
		const char *name;
		release_effect on_release;
		bool export_channel_1;
		const char *channel1_after, *channel2_after;
	};
	// clang-format off
	const case_row cases[] = {
		{ "a driver that keeps its outputs", RELEASE_KEEPS, false, "40000/10000/0", "50000/20000/0" },
		{ "one that stops a channel let go", RELEASE_STOPS, false, "0/0/0", "0/0/0" },
		{ "one that sleeps once no channel is held", RELEASE_SLEEPS, false, "0/0/0", "0/0/0" },
		{ "the same, channel 1 exported: it stays held, the chip awake", RELEASE_SLEEPS, true, "40000/10000/0",
		  "50000/20000/0" },
	};
	// clang-format on
	const std::string sys = root_ + "/sys";
	ASSERT_EQ(system( // NOLINT(cert-env33-c): runs the project's own script
			  ("'" MAKE_PWM_TREE "' '" + sys + "' 4").c_str()),
		  0);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		chip_state.on_release = c.on_release;
		chip_state.hw[1] = { 1, 0, 40000, 10000, 0 }; // what the kernel ran for sysfs
		chip_state.holder[1] = c.export_channel_1 ? cdev_model::sysfs : cdev_model::nobody;
		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);
		if (c.export_channel_1) {
			const int requests = chip_state.calls[_IOC_NR(PWM_IOCTL_REQUEST)];
			pwm *kept = pwm_chip_export_pwm(chip, 1);
			EXPECT_EQ(chip_state.calls[_IOC_NR(PWM_IOCTL_REQUEST)], requests)
				<< "nothing asked of the device";
			ASSERT_NE(kept, nullptr) << strerror(errno);
			EXPECT_EQ(pwm_chip_export_pwm(chip, 1), kept) << "one handle per channel";
			pwm_waveform r{ 40000, 10000, 0 };
			errno = 0;
			EXPECT_EQ(pwm_round_waveform(kept, &r), -1);
			EXPECT_EQ(errno, EOPNOTSUPP) << "taken through sysfs";
		} else {
			ASSERT_NE(pwm_chip_get_pwm(chip, 1), nullptr);
		}
		pwm *pwm = pwm_chip_get_pwm(chip, 2);
		ASSERT_NE(pwm, nullptr);
		pwm_waveform wf{ 50000, 20000, 0 };
		ASSERT_EQ(pwm_set_waveform(pwm, &wf), 0);
		errno = 0;
		EXPECT_EQ(pwm_chip_export_pwm(chip, 2), nullptr);
		EXPECT_EQ(errno, EBUSY) << "held here through the device";
		errno = 0;
		EXPECT_EQ(pwm_chip_export_pwm(chip, 4), nullptr);
		EXPECT_EQ(errno, EINVAL);
		pwm_chip_close(chip);
		EXPECT_EQ(waveform_text(chip_state.hw[1]), c.channel1_after);
		EXPECT_EQ(waveform_text(chip_state.hw[2]), c.channel2_after);
	}
}

// A channel given back before its chip: freed in the kernel at once, its
// output what the driver makes of that, and its handle refused until the
// channel is taken again.
TEST_F(ChardevTest, ReleasedChannelIsFreedAndItsHandleRefused)
{
	struct case_row {
		const char *name;
		release_effect on_release;
		const char *channel1_after;
	};
	// clang-format off
	const case_row cases[] = {
		{ "a driver that keeps its outputs", RELEASE_KEEPS, "40000/10000/0" },
		{ "one that stops a channel let go", RELEASE_STOPS, "0/0/0" },
		{ "one that sleeps once no channel is held: channel 2 keeps it awake", RELEASE_SLEEPS,
		  "40000/10000/0" },
	};
	// clang-format on
	ASSERT_EQ(system( // NOLINT(cert-env33-c): runs the project's own script
			  ("'" MAKE_PWM_TREE "' '" + root_ + "/sys' 4").c_str()),
		  0);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		chip_state = plain_cdev_model(4, 1000);
		chip_state.on_release = c.on_release;
		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);
		pwm *first = pwm_chip_get_pwm(chip, 1);
		pwm *second = pwm_chip_get_pwm(chip, 2);
		ASSERT_NE(first, nullptr);
		ASSERT_NE(second, nullptr);
		pwm_waveform wf{ 40000, 10000, 0 };
		ASSERT_EQ(pwm_set_waveform(first, &wf), 0);
		ASSERT_EQ(pwm_set_waveform(second, &wf), 0);

		errno = ENOTTY;
		pwm_release(first);
		EXPECT_EQ(errno, ENOTTY) << "errno kept";
		EXPECT_EQ(waveform_text(chip_state.hw[1]), c.channel1_after);
		EXPECT_EQ(waveform_text(chip_state.hw[2]), "40000/10000/0");
		pwm_chip *other = pwm_chip_open_by_number(0);
		ASSERT_NE(other, nullptr);
		EXPECT_NE(pwm_chip_get_pwm(other, 1), nullptr) << "free for another program";
		pwm_chip_close(other);

		const int ioctls = chip_state.calls[_IOC_NR(PWM_IOCTL_SETEXACTWF)] +
			chip_state.calls[_IOC_NR(PWM_IOCTL_GETWF)] +
			chip_state.calls[_IOC_NR(PWM_IOCTL_ROUNDWF)];
		pwm_waveform got{};
		errno = 0;
		EXPECT_EQ(pwm_set_waveform(first, &wf), -1);
		EXPECT_EQ(errno, EBADF);
		errno = 0;
		EXPECT_EQ(pwm_get_waveform(first, &got), -1);
		EXPECT_EQ(errno, EBADF);
		errno = 0;
		EXPECT_EQ(pwm_round_waveform(first, &got), -1);
		EXPECT_EQ(errno, EBADF);
		errno = 0;
		EXPECT_EQ(pwm_get_hardware_waveform(first, &got), -1);
		EXPECT_EQ(errno, EBADF);
		EXPECT_EQ(chip_state.calls[_IOC_NR(PWM_IOCTL_SETEXACTWF)] +
				  chip_state.calls[_IOC_NR(PWM_IOCTL_GETWF)] +
				  chip_state.calls[_IOC_NR(PWM_IOCTL_ROUNDWF)],
			  ioctls)
			<< "nothing asked of the device";
		pwm_release(first); // twice: nothing

		pwm_info *info = pwm_chip_get_pwm_info(chip, 1);
		ASSERT_NE(info, nullptr);
		EXPECT_NE(pwm_info_get_holder(info), PWM_HOLDER_DEVICE) << "no longer held here";
		pwm_info_free(info);

		EXPECT_EQ(pwm_chip_get_pwm(chip, 1), first) << "taken again: the same handle";
		EXPECT_EQ(pwm_set_waveform(first, &wf), 0);
		EXPECT_EQ(pwm_get_hardware_waveform(first, &got), 0);
		EXPECT_EQ(
			waveform_text({ 1, 0, got.period_length_ns, got.duty_length_ns, got.duty_offset_ns }),
			"40000/10000/0");
		pwm_chip_close(chip);
	}
}

// The device refuses a channel that sysfs exported; such a channel is taken
// through sysfs. Any other holder keeps the device's EBUSY.
TEST_F(ChardevTest, BusyChannelIsTakenThroughSysfsOnlyWhereSysfsExportedIt)
{
	const std::string sys = root_ + "/sys";
	ASSERT_EQ(system( // NOLINT(cert-env33-c): runs the project's own script
			  ("'" MAKE_PWM_TREE "' '" + sys + "' 2").c_str()),
		  0);
	chip_state.holder[1] = cdev_model::sysfs; // pwm1/ is there
	chip_state.holder[3] = 99; // another open file; no pwm3/ in sysfs

	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *through_sysfs = pwm_chip_get_pwm(chip, 1);
	ASSERT_NE(through_sysfs, nullptr) << strerror(errno);
	pwm_waveform wf{ 20, 14, 0 };
	EXPECT_EQ(pwm_set_waveform(through_sysfs, &wf), 0);
	EXPECT_EQ(read_file(sys + "/pwmchip0/pwm1/duty_cycle").substr(0, 3), "14\n");
	EXPECT_EQ(read_file(sys + "/pwmchip0/pwm1/enable"), "1\n");
	EXPECT_EQ(chip_state.hw[1].period_length_ns, 0U) << "nothing went through the device";

	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm(chip, 3), nullptr);
	EXPECT_EQ(errno, EBUSY);

	// A second handle on the sysfs-exported channel finds it held.
	pwm_chip *other = pwm_chip_open_by_number(0);
	ASSERT_NE(other, nullptr);
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm(other, 1), nullptr);
	EXPECT_EQ(errno, EBUSY);
	pwm_chip_close(other);
	pwm_chip_close(chip);
}

TEST_F(ChardevTest, FallsBackToSysfsWhereThereIsNoPwmDevice)
{
	struct fallback_case {
		const char *name;
		void (*lay_out)(const std::string &path);
	};
	const fallback_case cases[] = {
		{ "absent", [](const std::string &) {} },
		{ "a folder", [](const std::string &p) { fs::create_directory(p); } },
		{ "a plain file", [](const std::string &p) { std::ofstream(p) << "not a device\n"; } },
		{ "another character device",
		  [](const std::string &p) { fs::create_symlink("/dev/null", p); } },
	};

	const std::string chip_dir = root_ + "/sys/pwmchip0";
	fs::create_directories(chip_dir + "/pwm0");
	std::ofstream(chip_dir + "/npwm") << "1\n";
	for (const char *attr : { "period", "duty_cycle", "enable" })
		std::ofstream(chip_dir + "/pwm0/" + attr) << "0\n";
	std::ofstream(chip_dir + "/pwm0/polarity") << "normal\n";

	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const std::string dev = root_ + "/dev/pwmchip0";
		fs::remove_all(dev);
		c.lay_out(dev);

		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);
		pwm *pwm = pwm_chip_get_pwm(chip, 0);
		ASSERT_NE(pwm, nullptr);
		pwm_waveform wf{ 1000, 250, 0 };
		EXPECT_EQ(pwm_set_waveform(pwm, &wf), 0);
		pwm_chip_close(chip);
		EXPECT_EQ(read_file(chip_dir + "/pwm0/duty_cycle").substr(0, 4), "250\n");
		std::ofstream(chip_dir + "/pwm0/duty_cycle") << "0\n";

		fs::rename(chip_dir, chip_dir + ".away");
		errno = 0;
		EXPECT_EQ(pwm_chip_open_by_number(0), nullptr);
		EXPECT_EQ(errno, ENOENT) << "the sysfs path's answer";
		fs::rename(chip_dir + ".away", chip_dir);
	}
	EXPECT_EQ(chip_state.ioctls, 0);
}

TEST_F(ChardevTest, ToolSweepsThroughSysfsBesideAPlainDeviceFile)
{
	fs::remove(root_ + "/dev/pwmchip0");
	std::ofstream(root_ + "/dev/pwmchip0") << "";
	const std::string sys = root_ + "/sys";
	ASSERT_EQ(system( // NOLINT(cert-env33-c): runs the project's own script
			  ("'" MAKE_PWM_TREE "' '" + sys + "' 1").c_str()),
		  0);

	const tool_run run = run_tool({ "-P", "20", "-S", "7" },
				      { "QUORVIN_SYSFS_DIR=" + sys, "QUORVIN_DEV_DIR=" + root_ + "/dev" });
	EXPECT_EQ(run.status, 0);
	EXPECT_EQ(run.out + run.err, "");
	EXPECT_EQ(read_file(sys + "/pwmchip0/pwm0/duty_cycle").substr(0, 3), "14\n");
	EXPECT_EQ(read_file(sys + "/pwmchip0/pwm0/enable"), "1\n");
}

// The device does not tell the count: it is read from sysfs when first
// asked, held to what the kernel makes, and 0 comes with sysfs's errno.
TEST_F(ChardevTest, ChannelCountIsReadFromSysfs)
{
	struct count_case {
		const char *npwm; // nullptr: no sysfs folder
		unsigned int count;
		int err;
	};
	const count_case cases[] = {
		{ "4\n", 4, 0 },
		{ "4294967296\n", 0, ERANGE },
		{ "0\n", 0, ERANGE },
		{ nullptr, 0, ENOENT },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.npwm != nullptr ? c.npwm : "no sysfs folder");
		fs::remove_all(root_ + "/sys/pwmchip0");
		if (c.npwm != nullptr) {
			fs::create_directories(root_ + "/sys/pwmchip0");
			std::ofstream(root_ + "/sys/pwmchip0/npwm") << c.npwm;
		}
		pwm_chip *chip = pwm_chip_open_by_number(0);
		ASSERT_NE(chip, nullptr);
		EXPECT_EQ(pwm_chip_has_device_node(chip), 1);
		errno = 0;
		EXPECT_EQ(pwm_chip_get_npwm(chip), c.count);
		EXPECT_EQ(errno, c.err) << strerror(errno);
		pwm_chip_close(chip);
	}
}

} // namespace

// A device node named by its path is what the caller asked for: where this
// user may not open it, that is the answer, not a quiet fall back to sysfs.
// Opened by number, the chip is still driven through sysfs.
TEST_F(ChardevTest, NamedDeviceNodeThisUserMayNotOpenIsRefused)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to make a device node another user may not open";
	fs::create_directories(root_ + "/sys/pwmchip0");
	std::ofstream(root_ + "/sys/pwmchip0/npwm") << "4\n";
	fs::remove(root_ + "/dev/pwmchip0");
	ASSERT_EQ(mknod((root_ + "/dev/pwmchip0").c_str(), S_IFCHR | 0600, makedev(1, 5)), 0)
		<< strerror(errno);
	chmod(root_.c_str(), 0755);
	const std::string node = root_ + "/dev/pwmchip0";
	// pwm-detect and its library, where the other user may run them (the
	// build folder may be closed to it).
	fs::create_directory(root_ + "/bin");
	fs::copy_file(PWM_DETECT_PATH, root_ + "/bin/pwm-detect");
	fs::copy_file(QUORVIN_LIB_PATH, root_ + "/bin/" QUORVIN_SONAME);

	int fds[2];
	ASSERT_EQ(pipe(fds), 0);
	const pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		const uid_t nobody = 65534;
		// errno by name, by "pwmchip0", has_device_node by number, and
		// whether pwm-detect said why it drives the chip through sysfs.
		int got[4] = { -1, -1, -1, -1 };
		if (setgid(nobody) == 0 && setuid(nobody) == 0) {
			errno = 0;
			pwm_chip *named = pwm_chip_open_by_name(node.c_str());
			got[0] = named == nullptr ? errno : 0;
			pwm_chip_close(named);
			pwm_chip *by_name = pwm_chip_open_by_name("pwmchip0");
			got[1] = by_name == nullptr ? errno : pwm_chip_has_device_node(by_name);
			pwm_chip_close(by_name);
			pwm_chip *by_number = pwm_chip_open_by_number(0);
			got[2] = by_number == nullptr ? -errno : pwm_chip_has_device_node(by_number);
			pwm_chip_close(by_number);
			const tool_run detect = run_program(root_ + "/bin/pwm-detect", "pwm-detect", {},
							    { "QUORVIN_DEV_DIR=" + root_ + "/dev",
							      "QUORVIN_SYSFS_DIR=" + root_ + "/sys",
							      "LD_LIBRARY_PATH=" + root_ + "/bin" });
			got[3] = detect.status == 0 && detect.out.find(" sysfs\n") != std::string::npos &&
				detect.err ==
					"pwm-detect: " + node +
						" (driven through sysfs): Permission denied\n";
		}
		(void)!write(fds[1], got, sizeof(got));
		_exit(0);
	}
	close(fds[1]);
	int got[4] = { -2, -2, -2, -2 };
	EXPECT_EQ(read(fds[0], got, sizeof(got)), static_cast<ssize_t>(sizeof(got)));
	close(fds[0]);
	int status = 0;
	waitpid(pid, &status, 0);
	EXPECT_EQ(got[0], EACCES) << "the device node named";
	EXPECT_EQ(got[1], 0) << "pwmchip0: through sysfs";
	EXPECT_EQ(got[2], 0) << "by number: through sysfs";
	EXPECT_EQ(got[3], 1) << "pwm-detect: through sysfs, and why";
}

TEST_F(ChardevTest, ChannelOfAChipWhoseParentWentAwayIsNoDevice)
{
	fs::create_directories(root_ + "/sys/pwmchip0");
	std::ofstream(root_ + "/sys/pwmchip0/npwm") << "4\n";
	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	ASSERT_EQ(pwm_chip_get_npwm(chip), 4U);
	fs::remove_all(root_ + "/sys/pwmchip0");
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm_info(chip, 1), nullptr);
	EXPECT_EQ(errno, ENODEV);
	pwm_chip_close(chip);

	// Gone before its count was first asked.
	chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	errno = 0;
	EXPECT_EQ(pwm_chip_get_pwm_info(chip, 1), nullptr);
	EXPECT_EQ(errno, ENODEV);
	pwm_chip_close(chip);
}
