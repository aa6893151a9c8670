// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-detect and pwm-info run as processes on a made-up PWM class folder of
// two sysfs chips, and with a device node for one of them (the model's chip,
// tests/pwm_model/, through its preloaded shim), as pwm-sweep too: what they
// print, their messages and exit status, what they asked the device, and that
// they leave no channel exported or requested.
#include "run_tool.h"

#include "cdev_model.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lines = std::vector<std::string>;

enum tool { detect, info, sweep };

struct tools_case {
	std::string name;
	enum tool tool;
	lines args;
	// The class folder: "class" (two chips), "empty", "none", "file" (a
	// regular file), or "" for the variable set empty.
	std::string sysfs;
	bool debugfs; // the kernel's listing is readable
	int status;
	std::string out; // with a trailing "...", what it starts with; {dev} for the dev folder
	std::string err;
	std::string npwm3 = "2"; // pwmchip3's channel count; "fifo": a FIFO in its place
	// Set: the tool runs on the stand-in library (one chip of three free
	// channels) with this QUORVIN_STAND_IN_FAIL (a call that comes no
	// such number of times for none).
	std::string stand_in_fail{};
	// Where set, chip 3 has a device node: device_chip as this changes it.
	void (*device)(cdev_model &) = nullptr;
	std::string calls{}; // ioctls of these kinds counted, as "request=1 setexactwf=0"
	std::string channel0{}; // what channel 0 runs after, "period/duty/offset"; "": as before
	std::string listing3{}; // chip 3's part of the debugfs listing, in place of the usual
};

const std::string detect3 = "pwmchip3 [4ff00000.pwm] (2 channels) pwm-mediatek sysfs\n";
const std::string detect10 = "pwmchip10 [4ff01000.pwm] (1 channel) bcm2835-pwm sysfs\n";
const std::string info3 = "pwmchip3 - 2 channels:\n\tchannel 0:\tfree\tdisabled\n"
			  "\tchannel 1:\tsysfs\tenabled period=50000 duty=20000\n";
const std::string info10 =
	"pwmchip10 - 1 channel:\n"
	"\tchannel 0:\tkernel consumer=\"led-1\"\tenabled period=200000 duty=150000 offset=50000\n";
const std::string unknown_info = "pwmchip3 - 2 channels:\n\tchannel 0:\tunknown\tunreadable\n"
				 "\tchannel 1:\tsysfs\tenabled period=50000 duty=20000\n"
				 "pwmchip10 - 1 channel:\n\tchannel 0:\tunknown\tunreadable\n";
const std::string try_detect = "Try 'pwm-detect --help' for more information.\n";
const std::string try_info = "Try 'pwm-info --help' for more information.\n";

// Chip 3's device: its channel 0 free and off, channel 1 exported through
// sysfs, as the class folder shows it; 1000 ns steps, a shortest duty of
// two steps on channel 0.
cdev_model device_chip()
{
	cdev_model m = plain_cdev_model(2, 1000);
	m.min_duty_ticks[0] = 2;
	m.holder[1] = cdev_model::sysfs;
	return m;
}

void as_is(cdev_model & /*unused*/) {}

void any_duty(cdev_model &m)
{
	m.min_duty_ticks[0] = 0;
}

// No period above 1 ms: a longer one is refused, not rounded.
void refuses_above_1ms(cdev_model &m)
{
	m.max_ticks = 1000;
	m.refuses_above_longest = true;
}

// Channel 0 held through the device by another process, which runs it (its
// file's id names no process the tool could be: none has the id 0).
void held_elsewhere(cdev_model &m)
{
	m.holder[0] = 5;
	m.hw[0] = { 0, 0, 30000, 10000, 0 };
}

const std::string listing3_held = "3: platform/4ff00000.pwm, npwm: 2\n"
				  " pwm-0   (pwm-cdev (pid=7)    ): requested enabled\n"
				  "  actual configuration:     enabled, 10000/30000 ns, normal polarity\n"
				  " pwm-1   (sysfs               ): requested\n\n";
const std::string detect3_node = "pwmchip3 [4ff00000.pwm] (2 channels) pwm-mediatek {dev}/pwmchip3\n";
const std::string info3_head = "pwmchip3 - 2 channels:\n";
const std::string info3_sysfs1 = "\tchannel 1:\tsysfs\tenabled period=50000 duty=20000\n";
const std::string info3_held0 =
	"\tchannel 0:\tdevice consumer=\"pwm-cdev (pid=7)\"\tenabled period=30000 duty=10000\n";

// clang-format off
const tools_case cases[] = {
	{ "DetectNoChips", detect, {}, "empty", true, 0, "", "pwm-detect: no PWM chips\n" },
	{ "DetectNoClassFolder", detect, {}, "none", true, 0, "", "pwm-detect: no PWM chips\n" },
	{ "DetectTwoChipsByNumber", detect, {}, "class", true, 0, detect3 + detect10, "" },
	{ "DetectInOrderNamed", detect, { "/pwm@4ff01000", "pwm3" }, "class", true, 0, detect10 + detect3, "" },
	{ "DetectMissingChipOthersListed", detect, { "nosuch", "3" }, "class", true, 1, detect3,
	  "pwm-detect: nosuch: No such file or directory\n" },
	{ "DetectHelp", detect, { "--help" }, "class", true, 0, "Usage: pwm-detect [OPTIONS] [CHIP]...\n...", "" },
	{ "DetectVersion", detect, { "-v" }, "class", true, 0, "pwm-detect " PROJECT_VERSION "\n...", "" },
	{ "DetectUnknownOption", detect, { "--bogus" }, "class", true, 1, "",
	  "pwm-detect: unrecognized option '--bogus'\n" + try_detect },
	{ "DetectClassFolderIsAFile", detect, {}, "file", true, 1, "",
	  "pwm-detect: cannot list the PWM chips: Not a directory\n" },
	{ "DetectClassFolderVariableEmpty", detect, {}, "", true, 1, "",
	  "pwm-detect: cannot list the PWM chips: Invalid argument\n" },
	// A count past 32 bits is no chip's: reported, the others listed.
	{ "DetectCountPast32Bits", detect, {}, "class", true, 1, detect10,
	  "pwm-detect: pwmchip3: Numerical result out of range\n", "4294967296" },
	{ "DetectCountAFifo", detect, {}, "class", true, 1, detect10, "pwm-detect: pwmchip3: Invalid argument\n",
	  "fifo" },
	{ "DetectNumberPast32Bits", detect, { "4294967299" }, "class", true, 1, "",
	  "pwm-detect: 4294967299: No such file or directory\n" }, // not chip 3 by wrapping
	{ "InfoNoChips", info, {}, "empty", true, 0, "", "pwm-info: no PWM chips\n" },
	{ "InfoTwoChips", info, {}, "class", true, 0, info3 + info10, "" },
	{ "InfoWithoutDebugfs", info, {}, "class", false, 0, unknown_info, "" },
	{ "InfoByParent", info, { "4ff01000.pwm" }, "class", true, 0, info10, "" },
	{ "InfoNoSuchChip", info, { "pwmchip7", "10" }, "class", true, 1, info10,
	  "pwm-info: pwmchip7: No such file or directory\n" },
	// Options end at the first chip.
	{ "InfoOptionAfterChipIsAChip", info, { "10", "-h" }, "class", true, 1, info10,
	  "pwm-info: -h: No such file or directory\n" },
	{ "InfoPeriodOnSysfsChip", info, { "--period=1000", "3" }, "class", true, 0, info3,
	  "pwm-info: pwmchip3: -P cannot be asked through sysfs: Operation not supported\n" },
	// A chip whose count cannot be read (a chip with a device node, whose
	// count sysfs gives when asked) is a failure, not one of no channels.
	{ "DetectCountUnreadable", detect, {}, "class", true, 1, "",
	  "pwm-detect: pwmchip0: channel count: Numerical result out of range\n", "2", "npwm:1:34" },
	{ "InfoCountUnreadable", info, {}, "class", true, 1, "",
	  "pwm-info: pwmchip0: channel count: Numerical result out of range\n", "2", "npwm:1:34" },
	{ "DetectOnStandIn", detect, {}, "class", true, 0, "pwmchip0 [-] (3 channels) - sysfs\n", "", "2", "npwm:9:5" },
	// One channel that cannot be described: the others shown, and a failure.
	{ "InfoOneChannelFails", info, {}, "class", true, 1,
	  "pwmchip0 - 3 channels:\n\tchannel 0:\tfree\tdisabled\n\tchannel 2:\tfree\tdisabled\n",
	  "pwm-info: pwmchip0: channel 1: Input/output error\n", "2", "info:2:5" },
	{ "InfoPeriodZero", info, { "-P", "0" }, "class", true, 1, "", "pwm-info: invalid period '0'\n" },
	{ "InfoPeriodJunk", info, { "-P", "5us" }, "class", true, 1, "", "pwm-info: invalid period '5us'\n" },
	{ "InfoCountOf2To64Minus1", info, { "3", "10" }, "class", true, 1, info10,
	  "pwm-info: 3: Numerical result out of range\n", "18446744073709551615" },
	{ "InfoClassFolderIsAFile", info, { "3" }, "file", true, 1, "", "pwm-info: 3: Not a directory\n" },
	{ "InfoPeriodLargest", info, { "-P", "9223372036854775807", "3" }, "class", true, 0, info3,
	  "pwm-info: pwmchip3: -P cannot be asked through sysfs: Operation not supported\n" },
	{ "InfoPeriodAbove2To63", info, { "-P", "9223372036854775808" }, "class", true, 1, "",
	  "pwm-info: invalid period '9223372036854775808'\n" },
	{ "InfoHelp", info, { "-h" }, "class", true, 0, "Usage: pwm-info [OPTIONS] [CHIP]...\n...", "" },
	{ "InfoVersion", info, { "--version" }, "class", true, 0, "pwm-info " PROJECT_VERSION "\n...", "" },
	{ "InfoUnknownOption", info, { "-x" }, "class", true, 1, "", "pwm-info: invalid option -- 'x'\n" + try_info },
	// Chip 3 with a device node.
	{ "DetectDeviceNode", detect, {}, "class", true, 0, detect3_node + detect10, "", "2", "", as_is,
	  "request=0 setroundedwf=0 setexactwf=0" },
	{ "InfoDeviceChipAsksNothing", info, { "3" }, "class", true, 0, info3_head + info3_held0 + info3_sysfs1, "",
	  "2", "", held_elsewhere, "request=0 roundwf=0 getwf=0", "", listing3_held },
	{ "InfoPeriodOnDeviceChip", info, { "-P", "50500", "3" }, "class", true, 0,
	  info3_head + "\tchannel 0:\tfree\tdisabled\trounded period=50000 duty-step=2000\n" + info3_sysfs1, "", "2", "", as_is,
	  "request=1 setroundedwf=0 setexactwf=0" },
	{ "InfoPeriodHolderUnknownAsked", info, { "-P", "30500", "3" }, "class", false, 0,
	  info3_head + "\tchannel 0:\tunknown\tunreadable\trounded period=30000 duty-step=1000\n" + info3_sysfs1, "",
	  "2", "", any_duty, "request=1 setroundedwf=0 setexactwf=0" },
	{ "InfoPeriodBelowAStep", info, { "-P", "500", "3" }, "class", true, 0,
	  info3_head + "\tchannel 0:\tfree\tdisabled\trounded period=1000 duty-step=none\n" + info3_sysfs1, "", "2", "",
	  any_duty, "request=1 setroundedwf=0 setexactwf=0" },
	// A channel of unknown holder that cannot be taken for a reason other
	// than its holder's: said, not passed over.
	{ "InfoPeriodUnknownRefusedOtherwise", info, { "-P", "30500", "3" }, "class", false, 1,
	  "pwmchip3 - 3 channels:\n\tchannel 0:\tunknown\tunreadable\trounded period=30000 duty-step=1000\n" +
	  info3_sysfs1 + "\tchannel 2:\tunknown\tunreadable\n", "pwm-info: pwmchip3: channel 2: Invalid argument\n",
	  "3", "", any_duty, "request=2 setroundedwf=0 setexactwf=0" },
	{ "InfoPeriodRefusedLetGo", info, { "-P", "2000000", "3" }, "class", true, 1,
	  info3_head + "\tchannel 0:\tfree\tdisabled\n" + info3_sysfs1,
	  "pwm-info: pwmchip3: channel 0: Numerical result out of range\n", "2", "", refuses_above_1ms, "request=1 roundwf=1" },
	{ "InfoPeriodListedHolderNotAsked", info, { "-P", "50500", "3" }, "class", true, 0,
	  info3_head + info3_held0 + info3_sysfs1, "", "2", "", held_elsewhere, "request=0 roundwf=0", "", listing3_held },
	{ "InfoPeriodUnlistedHolderLeftAlone", info, { "-P", "50500", "3" }, "class", false, 0,
	  info3_head + "\tchannel 0:\tunknown\tunreadable\n" + info3_sysfs1, "", "2", "", held_elsewhere,
	  "request=1 roundwf=0 setroundedwf=0 setexactwf=0" },
	// One checked waveform, then one SETROUNDEDWF for each duty-only step.
	{ "SweepThroughDeviceNode", sweep, { "-c", "3", "-p", "0", "-P", "50000", "-S", "12700" }, "class", true, 0, "",
	  "", "2", "", any_duty, "request=1 setexactwf=1 setroundedwf=3", "50000/38000/0" },
};
// clang-format on

void write_file(const std::string &path, const std::string &text)
{
	std::ofstream(path, std::ios::trunc) << text;
}

// Chips 3 and 10 (listed by number, not as text sorts; chip 3's count as
// given), each with a parent
// device that has a driver; chip 3's channel 1 is exported. The debugfs
// listing shows chip 3's channel 0 free and chip 10's held by an LED.
void lay_out_chips(const std::string &root, const std::string &npwm3, const std::string &listing3)
{
	const struct {
		const char *chip, *parent, *driver, *npwm;
	} chips[] = { { "pwmchip3", "4ff00000.pwm", "pwm-mediatek", npwm3.c_str() },
		      { "pwmchip10", "4ff01000.pwm", "bcm2835-pwm", "1" } };
	fs::create_directories(root + "/empty");
	write_file(root + "/file", "");
	fs::create_directories(root + "/dev");
	for (const auto &c : chips) {
		const std::string chip = root + "/class/" + c.chip, parent = root + "/devices/" + c.parent;
		fs::create_directories(chip);
		fs::create_directories(parent);
		fs::create_directories(root + "/drivers/" + c.driver);
		if (std::string(c.npwm) == "fifo")
			mkfifo((chip + "/npwm").c_str(), 0644);
		else
			write_file(chip + "/npwm", std::string(c.npwm) + "\n");
		write_file(chip + "/export", "");
		write_file(chip + "/unexport", "");
		fs::create_directory_symlink("../../devices/" + std::string(c.parent), chip + "/device");
		fs::create_directory_symlink("../../drivers/" + std::string(c.driver), parent + "/driver");
		write_file(parent + "/uevent",
			   "DRIVER=" + std::string(c.driver) + "\nOF_FULLNAME=/pwm@" +
				   std::string(c.parent).substr(0, 8) + "\nOF_ALIAS_0=pwm" +
				   std::string(c.chip).substr(7) + "\n");
	}
	const std::string pwm1 = root + "/class/pwmchip3/pwm1";
	fs::create_directory(pwm1);
	write_file(pwm1 + "/period", "50000\n");
	write_file(pwm1 + "/duty_cycle", "20000\n");
	write_file(pwm1 + "/enable", "1\n");
	write_file(pwm1 + "/polarity", "normal\n");
	write_file(root + "/debugfs",
		   (listing3.empty() ? "3: platform/4ff00000.pwm, npwm: 2\n"
				       " pwm-0   ((null)              ):\n"
				       "  actual configuration:     disabled, 0/0 ns, normal polarity\n"
				       " pwm-1   (sysfs               ): requested\n\n"
				     : listing3) +
			   "10: platform/4ff01000.pwm, npwm: 1\n"
			   " pwm-0   (led-1               ): requested\n"
			   "  actual configuration:      enabled, 50000/200000 ns, inverse polarity\n");
}

void PrintTo(const tools_case &c, std::ostream *os)
{
	*os << c.name;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
	for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
		text.replace(at, from.size(), to);
	return text;
}

std::string waveform_text(const pwmchip_waveform &wf)
{
	return std::to_string(wf.period_length_ns) + "/" + std::to_string(wf.duty_length_ns) + "/" +
		std::to_string(wf.duty_offset_ns);
}

// The counts that calls names, in its own form.
std::string counted(const std::string &calls, const cdev_model &m)
{
	const struct {
		const char *name;
		unsigned long request;
	} kinds[] = { { "request", PWM_IOCTL_REQUEST },           { "free", PWM_IOCTL_FREE },
		      { "roundwf", PWM_IOCTL_ROUNDWF },           { "getwf", PWM_IOCTL_GETWF },
		      { "setroundedwf", PWM_IOCTL_SETROUNDEDWF }, { "setexactwf", PWM_IOCTL_SETEXACTWF } };
	std::istringstream in(calls);
	std::string text;
	for (std::string item; in >> item;) {
		const std::string name = item.substr(0, item.find('='));
		for (const auto &k : kinds) {
			if (name == k.name)
				text += (text.empty() ? "" : " ") + name + "=" +
					std::to_string(m.calls[_IOC_NR(k.request)]);
		}
	}
	return text;
}

class ToolsTest : public testing::TestWithParam<tools_case> {};

TEST_P(ToolsTest, OutputMessagesAndStatus)
{
	const tools_case &c = GetParam();
	const std::string root = make_temp_dir();
	lay_out_chips(root, c.npwm3, c.listing3);
	lines env{ "QUORVIN_SYSFS_DIR=" + (c.sysfs.empty() ? "" : root + "/" + c.sysfs),
		   "QUORVIN_DEV_DIR=" + root + "/dev",
		   "QUORVIN_DEBUGFS_PWM=" + root + (c.debugfs ? "/debugfs" : "/none") };
	if (!c.stand_in_fail.empty()) {
		env.emplace_back("LD_LIBRARY_PATH=" STAND_IN_DIR);
		env.emplace_back("QUORVIN_STAND_IN_FAIL=" + c.stand_in_fail);
	}
	cdev_model before = device_chip();
	const std::string model_file = root + "/cdev-model";
	if (c.device != nullptr) {
		c.device(before);
		std::ofstream(model_file, std::ios::binary)
			.write(reinterpret_cast<const char *>(&before), sizeof(before));
		fs::create_symlink("/dev/zero", root + "/dev/pwmchip3");
		// A sanitized tool wants its runtime loaded first; the shim comes
		// before it here, and that is all the check is about.
		env.insert(env.end(),
			   { "LD_PRELOAD=" CDEV_SHIM_PATH, "QUORVIN_CDEV_MODEL=" + model_file,
			     "ASAN_OPTIONS=verify_asan_link_order=0" });
	}
	const char *const paths[] = { PWM_DETECT_PATH, PWM_INFO_PATH, PWM_SWEEP_PATH };
	const char *const names[] = { "pwm-detect", "pwm-info", "pwm-sweep" };
	const tool_run run = run_program(paths[c.tool], names[c.tool], c.args, env);
	const std::string export3 = read_file(root + "/class/pwmchip3/export");
	const std::string export10 = read_file(root + "/class/pwmchip10/export");
	cdev_model after = before;
	std::ifstream(model_file, std::ios::binary).read(reinterpret_cast<char *>(&after), sizeof(after));
	remove_tree(root);

	EXPECT_EQ(run.status, c.status);
	const std::string out = replaced(c.out, "{dev}", root + "/dev");
	if (out.ends_with("..."))
		EXPECT_TRUE(run.out.starts_with(out.substr(0, out.size() - 3))) << run.out;
	else
		EXPECT_EQ(run.out, out);
	EXPECT_EQ(run.err, c.err);
	EXPECT_EQ(export3 + export10, "") << "a channel was exported";
	if (c.device == nullptr)
		return;
	EXPECT_EQ(counted(c.calls, after), c.calls);
	EXPECT_EQ(after.held_at_exit, 0U) << "a channel was left requested";
	for (unsigned int ch = 0; ch < before.npwm; ++ch)
		EXPECT_EQ(after.holder[ch], before.holder[ch]) << "channel " << ch << "'s holder";
	EXPECT_EQ(waveform_text(after.hw[0]), c.channel0.empty() ? waveform_text(before.hw[0]) : c.channel0);
	EXPECT_EQ(waveform_text(after.hw[1]), waveform_text(before.hw[1]));
}

std::string case_name(const testing::TestParamInfo<tools_case> &info)
{
	return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolsTest, testing::ValuesIn(cases), case_name);

} // namespace
