// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-detect and pwm-info run as processes on a made-up PWM class folder of
// two sysfs chips: what they print, their messages and exit status, and that
// they leave no channel exported.
#include "run_tool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lines = std::vector<std::string>;

struct tools_case {
	std::string name;
	bool info; // pwm-info, else pwm-detect
	lines args;
	// The class folder: "class" (two chips), "empty", "none", "file" (a
	// regular file), or "" for the variable set empty.
	std::string sysfs;
	bool debugfs; // the kernel's listing is readable
	int status;
	std::string out; // with a trailing "...", what it starts with
	std::string err;
	std::string npwm3 = "2"; // pwmchip3's channel count; "fifo": a FIFO in its place
	// Set: the tool runs on the stand-in library (one chip of three free
	// channels) with this QUORVIN_STAND_IN_FAIL (a call that comes no
	// such number of times for none).
	std::string stand_in_fail{};
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

// clang-format off
const tools_case cases[] = {
	{ "DetectNoChips", false, {}, "empty", true, 0, "", "pwm-detect: no PWM chips\n" },
	{ "DetectNoClassFolder", false, {}, "none", true, 0, "", "pwm-detect: no PWM chips\n" },
	{ "DetectTwoChipsByNumber", false, {}, "class", true, 0, detect3 + detect10, "" },
	{ "DetectInOrderNamed", false, { "/pwm@4ff01000", "pwm3" }, "class", true, 0, detect10 + detect3, "" },
	{ "DetectMissingChipOthersListed", false, { "nosuch", "3" }, "class", true, 1, detect3,
	  "pwm-detect: nosuch: No such file or directory\n" },
	{ "DetectHelp", false, { "--help" }, "class", true, 0, "Usage: pwm-detect [OPTIONS] [CHIP]...\n...", "" },
	{ "DetectVersion", false, { "-v" }, "class", true, 0, "pwm-detect " PROJECT_VERSION "\n...", "" },
	{ "DetectUnknownOption", false, { "--bogus" }, "class", true, 1, "",
	  "pwm-detect: unrecognized option '--bogus'\n" + try_detect },
	{ "DetectClassFolderIsAFile", false, {}, "file", true, 1, "",
	  "pwm-detect: cannot list the PWM chips: Not a directory\n" },
	{ "DetectClassFolderVariableEmpty", false, {}, "", true, 1, "",
	  "pwm-detect: cannot list the PWM chips: Invalid argument\n" },
	// A count past 32 bits is no chip's: reported, the others listed.
	{ "DetectCountPast32Bits", false, {}, "class", true, 1, detect10,
	  "pwm-detect: pwmchip3: Numerical result out of range\n", "4294967296" },
	{ "DetectCountAFifo", false, {}, "class", true, 1, detect10, "pwm-detect: pwmchip3: Invalid argument\n",
	  "fifo" },
	{ "InfoNoChips", true, {}, "empty", true, 0, "", "pwm-info: no PWM chips\n" },
	{ "InfoTwoChips", true, {}, "class", true, 0, info3 + info10, "" },
	{ "InfoWithoutDebugfs", true, {}, "class", false, 0, unknown_info, "" },
	{ "InfoByParent", true, { "4ff01000.pwm" }, "class", true, 0, info10, "" },
	{ "InfoNoSuchChip", true, { "pwmchip7", "10" }, "class", true, 1, info10,
	  "pwm-info: pwmchip7: No such file or directory\n" },
	// Options end at the first chip.
	{ "InfoOptionAfterChipIsAChip", true, { "10", "-h" }, "class", true, 1, info10,
	  "pwm-info: -h: No such file or directory\n" },
	{ "InfoPeriodOnSysfsChip", true, { "--period=1000", "3" }, "class", true, 0, info3,
	  "pwm-info: pwmchip3: -P cannot be asked through sysfs: Operation not supported\n" },
	// A chip whose count cannot be read (a chip with a device node, whose
	// count sysfs gives when asked) is a failure, not one of no channels.
	{ "DetectCountUnreadable", false, {}, "class", true, 1, "",
	  "pwm-detect: pwmchip0: channel count: Numerical result out of range\n", "2", "npwm:1:34" },
	{ "InfoCountUnreadable", true, {}, "class", true, 1, "",
	  "pwm-info: pwmchip0: channel count: Numerical result out of range\n", "2", "npwm:1:34" },
	{ "DetectOnStandIn", false, {}, "class", true, 0, "pwmchip0 [-] (3 channels) - sysfs\n", "", "2", "npwm:9:5" },
	// One channel that cannot be described: the others shown, and a failure.
	{ "InfoOneChannelFails", true, {}, "class", true, 1,
	  "pwmchip0 - 3 channels:\n\tchannel 0:\tfree\tdisabled\n\tchannel 2:\tfree\tdisabled\n",
	  "pwm-info: pwmchip0: channel 1: Input/output error\n", "2", "info:2:5" },
	{ "InfoPeriodZero", true, { "-P", "0" }, "class", true, 1, "", "pwm-info: invalid period '0'\n" },
	{ "InfoPeriodJunk", true, { "-P", "5us" }, "class", true, 1, "", "pwm-info: invalid period '5us'\n" },
	{ "InfoCountOf2To64Minus1", true, { "3", "10" }, "class", true, 1, info10,
	  "pwm-info: 3: Numerical result out of range\n", "18446744073709551615" },
	{ "InfoClassFolderIsAFile", true, { "3" }, "file", true, 1, "", "pwm-info: 3: Not a directory\n" },
	{ "InfoPeriodLargest", true, { "-P", "9223372036854775807", "3" }, "class", true, 0, info3,
	  "pwm-info: pwmchip3: -P cannot be asked through sysfs: Operation not supported\n" },
	{ "InfoPeriodAbove2To63", true, { "-P", "9223372036854775808" }, "class", true, 1, "",
	  "pwm-info: invalid period '9223372036854775808'\n" },
	{ "InfoHelp", true, { "-h" }, "class", true, 0, "Usage: pwm-info [OPTIONS] [CHIP]...\n...", "" },
	{ "InfoVersion", true, { "--version" }, "class", true, 0, "pwm-info " PROJECT_VERSION "\n...", "" },
	{ "InfoUnknownOption", true, { "-x" }, "class", true, 1, "", "pwm-info: invalid option -- 'x'\n" + try_info },
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
void lay_out_chips(const std::string &root, const std::string &npwm3)
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
		   "3: platform/4ff00000.pwm, npwm: 2\n"
		   " pwm-0   ((null)              ):\n"
		   "  actual configuration:     disabled, 0/0 ns, normal polarity\n"
		   " pwm-1   (sysfs               ): requested\n\n"
		   "10: platform/4ff01000.pwm, npwm: 1\n"
		   " pwm-0   (led-1               ): requested\n"
		   "  actual configuration:      enabled, 50000/200000 ns, inverse polarity\n");
}

void PrintTo(const tools_case &c, std::ostream *os)
{
	*os << c.name;
}

class ToolsTest : public testing::TestWithParam<tools_case> {};

TEST_P(ToolsTest, OutputMessagesAndStatus)
{
	const tools_case &c = GetParam();
	const std::string root = make_temp_dir();
	lay_out_chips(root, c.npwm3);
	lines env = { "QUORVIN_SYSFS_DIR=" + (c.sysfs.empty() ? "" : root + "/" + c.sysfs),
		      "QUORVIN_DEV_DIR=" + root + "/dev",
		      "QUORVIN_DEBUGFS_PWM=" + root + (c.debugfs ? "/debugfs" : "/none") };
	if (!c.stand_in_fail.empty()) {
		env.emplace_back("LD_LIBRARY_PATH=" STAND_IN_DIR);
		env.emplace_back("QUORVIN_STAND_IN_FAIL=" + c.stand_in_fail);
	}
	const tool_run run = run_program(c.info ? PWM_INFO_PATH : PWM_DETECT_PATH,
					 c.info ? "pwm-info" : "pwm-detect", c.args, env);
	const std::string export3 = read_file(root + "/class/pwmchip3/export");
	const std::string export10 = read_file(root + "/class/pwmchip10/export");
	remove_tree(root);

	EXPECT_EQ(run.status, c.status);
	if (c.out.ends_with("..."))
		EXPECT_TRUE(run.out.starts_with(c.out.substr(0, c.out.size() - 3))) << run.out;
	else
		EXPECT_EQ(run.out, c.out);
	EXPECT_EQ(run.err, c.err);
	EXPECT_EQ(export3 + export10, "") << "a channel was exported";
}

std::string case_name(const testing::TestParamInfo<tools_case> &info)
{
	return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolsTest, testing::ValuesIn(cases), case_name);

} // namespace
