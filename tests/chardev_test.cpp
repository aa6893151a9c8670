// libquorvin's character-device path against an emulated PWM chip. No
// kernel here has /dev/pwmchipN, so this test program supplies the one
// system call the path talks to the device with, ioctl (and close, which
// frees a file's channels): it takes the library's calls on /dev/zero, which
// the made-up dev folder links to, and passes every other call on.
#include "run_tool.h"

#include "../quorvin/pwm_uapi.h"

#include <quorvin.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A four-channel chip whose hardware counts in steps of 1000 ns.
struct fake_chip {
	static constexpr unsigned int npwm = 4;
	int holder[npwm]; // fd that holds the channel, or -1
	pwmchip_waveform wf[npwm];
	int ioctls;
};

fake_chip chip_state;

void reset_fake_chip()
{
	chip_state = {};
	for (int &h : chip_state.holder)
		h = -1;
}

bool is_fake_chip(int fd)
{
	struct stat st;
	return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 5);
}

int fail(int err)
{
	errno = err;
	return -1;
}

// Takes the channel for fd as the kernel does: on request, and implicitly
// on a first waveform.
int take(int fd, unsigned long channel)
{
	if (channel >= fake_chip::npwm)
		return fail(EINVAL);
	if (chip_state.holder[channel] != -1 && chip_state.holder[channel] != fd)
		return fail(EBUSY);
	chip_state.holder[channel] = fd;
	return 0;
}

int fake_ioctl(int fd, unsigned long request, unsigned long arg)
{
	++chip_state.ioctls;
	switch (request) {
	case PWM_IOCTL_REQUEST:
		return take(fd, arg);
	case PWM_IOCTL_FREE:
		if (arg >= fake_chip::npwm)
			return fail(EINVAL);
		if (chip_state.holder[arg] == fd)
			chip_state.holder[arg] = -1;
		return 0;
	case PWM_IOCTL_SETROUNDEDWF: {
		// The waveform ioctls pass a pointer in the argument.
		// NOLINTNEXTLINE(performance-no-int-to-ptr)
		pwmchip_waveform wf = *reinterpret_cast<const pwmchip_waveform *>(arg);
		if (wf.__pad != 0 || take(fd, wf.hwpwm) < 0)
			return fail(EINVAL);
		if (wf.period_length_ns > 0 &&
		    (wf.duty_length_ns > wf.period_length_ns || wf.duty_offset_ns >= wf.period_length_ns))
			return fail(EINVAL);
		const bool rounded_up = wf.period_length_ns % 1000 != 0;
		wf.period_length_ns += rounded_up ? 1000 - wf.period_length_ns % 1000 : 0;
		chip_state.wf[wf.hwpwm] = wf;
		return rounded_up ? 1 : 0;
	}
	default:
		return fail(ENOTTY);
	}
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
	va_list ap;
	va_start(ap, request);
	const unsigned long arg = va_arg(ap, unsigned long);
	va_end(ap);
	if (is_fake_chip(fd))
		return fake_ioctl(fd, request, arg);
	static auto *real = reinterpret_cast<int (*)(int, unsigned long, ...)>(dlsym(RTLD_NEXT, "ioctl"));
	return real(fd, request, arg);
}

extern "C" int close(int fd)
{
	if (is_fake_chip(fd)) {
		for (int &h : chip_state.holder) {
			if (h == fd)
				h = -1;
		}
	}
	static auto *real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
	return real(fd);
}

namespace {

class ChardevTest : public testing::Test {
protected:
	void SetUp() override
	{
		reset_fake_chip();
		root_ = make_temp_dir();
		fs::create_directory(root_ + "/dev");
		fs::create_directory(root_ + "/sys");
		fs::create_symlink("/dev/zero", root_ + "/dev/pwmchip0");
		setenv("QUORVIN_DEV_DIR", (root_ + "/dev").c_str(), 1);
		setenv("QUORVIN_SYSFS_DIR", (root_ + "/sys").c_str(), 1);
	}

	void TearDown() override
	{
		unsetenv("QUORVIN_DEV_DIR");
		unsetenv("QUORVIN_SYSFS_DIR");
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
	for (int h : chip_state.holder)
		EXPECT_EQ(h, -1) << "closing the chip frees its channels";
	EXPECT_NE(pwm_chip_get_pwm(b, 1), nullptr);
	pwm_chip_close(b);
}

TEST_F(ChardevTest, EachWaveformIsOneIoctl)
{
	struct wf_case {
		const char *name;
		pwm_waveform wf;
		int result;
		int err;
		uint64_t applied_period; // what the hardware made, where accepted
	};
	const wf_case cases[] = {
		{ "exact", { 50000, 20000, 0 }, 0, 0, 50000 },
		{ "rounded up is success too", { 1500, 700, 0 }, 1, 0, 2000 },
		{ "offset passes through", { 3000, 1000, 500 }, 0, 0, 3000 },
		{ "period 0 switches off", { 0, 0, 0 }, 0, 0, 0 },
		{ "duty above the period", { 1000, 1001, 0 }, -1, EINVAL, 0 },
		{ "offset at the period", { 1000, 0, 1000 }, -1, EINVAL, 0 },
	};

	pwm_chip *chip = pwm_chip_open_by_number(0);
	ASSERT_NE(chip, nullptr);
	pwm *pwm = pwm_chip_get_pwm(chip, 2);
	ASSERT_NE(pwm, nullptr);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		chip_state.wf[2] = {};
		const int before = chip_state.ioctls;
		pwm_waveform wf = c.wf;
		errno = 0;
		EXPECT_EQ(pwm_set_waveform(pwm, &wf), c.result);
		EXPECT_EQ(chip_state.ioctls - before, 1);
		if (c.result < 0) {
			EXPECT_EQ(errno, c.err);
			continue;
		}
		EXPECT_EQ(chip_state.wf[2].hwpwm, 2U);
		EXPECT_EQ(chip_state.wf[2].period_length_ns, c.applied_period);
		EXPECT_EQ(chip_state.wf[2].duty_length_ns, c.wf.duty_length_ns);
		EXPECT_EQ(chip_state.wf[2].duty_offset_ns, c.wf.duty_offset_ns);
	}
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

} // namespace
