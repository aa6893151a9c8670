// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-detect, pwm-info and pwm-set run as processes on a made-up PWM class
// folder of two sysfs chips, and with a device node for one of them (the
// model's chip, tests/pwm_model/, through its preloaded shim), as pwm-sweep
// too: what they print, their messages and exit status, what they asked the
// device, what they exported (the test plays the kernel's part of an export)
// and that they leave no channel requested.
#include "run_tool.h"

#include "cdev_model.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lines = std::vector<std::string>;

enum tool { detect, info, sweep, set };

struct tools_case {
	std::string name;
	enum tool tool = detect;
	lines args{};
	// The class folder: "class" (two chips), "empty", "none", "file" (a
	// regular file), or "" for the variable set empty.
	std::string sysfs{};
	bool debugfs = false; // the kernel's listing is readable
	int status = 0;
	std::string out{}; // with a trailing "...", what it starts with; {dev} for the dev folder
	std::string err{};
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
	std::string exported{}; // what was written to chip 3's export
	// Set: chip 3's channel folder after, "pwmN PERIOD/DUTY/ENABLE/POLARITY".
	std::string channel_files{};
	bool channel1_locked = false; // another holder has chip 3's exported channel 1
	int min_ms = 0; // the tool ran at least this long
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

// A driver that puts the chip to sleep once its last channel is let go, as
// a PCA9685 does; channel 1 not exported, so that nothing keeps it awake.
void sleeps_at_release(cdev_model &m)
{
	any_duty(m);
	m.on_release = RELEASE_SLEEPS;
	m.holder[1] = cdev_model::nobody;
}

lines operator+(lines a, const lines &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

// pwm-set refusing its command line, with a message and before any chip
// is opened: there is no class folder to open one from, which would be
// said instead.
tools_case set_refused(const std::string &name, const lines &options, const std::string &message)
{
	return { .name = "SetRefuses" + name,
		 .tool = set,
		 .args = lines{ "-c", "3", "-p", "0" } + options,
		 .sysfs = "none",
		 .status = 1,
		 .err = "pwm-set: " + message + "\n" };
}

// pwm-set -v's word where there is no listing to read the hardware from.
std::string accepted_only(unsigned int channel)
{
	return "pwm-set: pwmchip3: channel " + std::to_string(channel) +
		": the hardware cannot be read back, shown is what the kernel accepted: No such file or "
		"directory\n";
}

const std::string listing3_rounded =
	"3: platform/4ff00000.pwm, npwm: 2\n"
	" pwm-0   (sysfs               ): requested enabled\n"
	"  actual configuration:     enabled, 1498160/19988480 ns, normal polarity\n";
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
	// pwm-set on the sysfs chip (no debugfs: the driver taken on its word):
	// a fresh channel exported and left running, one exported already taken
	// as it is.
	{ .name = "SetServoExportsAndLeavesRunning", .tool = set, .args = { "-c", "3", "-p", "0", "-P", "20ms", "-d", "1.5ms" },
	  .sysfs = "class", .exported = "0\n", .channel_files = "pwm0 20000000/1500000/1/normal" },
	// -v says what the hardware runs, where the listing shows it; else what
	// the kernel accepted, and that it is only that.
	{ .name = "SetFrequencyAndShareVerbose", .tool = set,
	  .args = { "--chip=pwmchip3", "--channel=0", "--frequency=50Hz", "--duty=7.5%", "--verbose" }, .sysfs = "class",
	  .debugfs = true,
	  .out = "period_ns=19988480\nduty_ns=1498160\noffset_ns=0\nfrequency_hz=50.0288165984\nduty_percent=7.4951171875\n",
	  .listing3 = listing3_rounded, .exported = "0\n", .channel_files = "pwm0 20000000/1500000/1/normal" },
	{ .name = "SetTimesVerboseInTheirUnits", .tool = set,
	  .args = { "-c", "4ff00000.pwm", "-p", "0", "-P", "0.02s", "-d", "1500us", "-v" }, .sysfs = "class",
	  .out = "period_ns=20000000\nduty_ns=1500000\noffset_ns=0\nperiod_s=0.02\nduty_us=1500\n",
	  .err = accepted_only(0),
	  .exported = "0\n", .channel_files = "pwm0 20000000/1500000/1/normal" },
	{ .name = "SetInversedOnExportedChannel", .tool = set, .args = { "-c", "3", "-p", "1", "-f", "1kHz", "-d", "25%", "-i", "-v" },
	  .sysfs = "class",
	  .out = "period_ns=1000000\nduty_ns=250000\noffset_ns=750000\nfrequency_hz=1000\nduty_percent=25\n",
	  .err = accepted_only(1),
	  .channel_files = "pwm1 1000000/750000/1/inversed" },
	{ .name = "SetOffsetAsShare", .tool = set, .args = { "-c", "3", "-p", "1", "-P", "1ms", "-d", "75%", "-o", "25%", "-v" },
	  .sysfs = "class",
	  .out = "period_ns=1000000\nduty_ns=750000\noffset_ns=250000\nperiod_ms=1\nduty_percent=75\noffset_percent=25\n",
	  .err = accepted_only(1),
	  .channel_files = "pwm1 1000000/250000/1/inversed" },
	{ .name = "SetOff", .tool = set, .args = { "-c", "3", "-p", "1", "--off", "-v" }, .sysfs = "class",
	  .out = "period_ns=0\nduty_ns=0\noffset_ns=0\n",
	  .err = accepted_only(1), .channel_files = "pwm1 50000/20000/0/normal" },
	{ .name = "SetHoldForADuration", .tool = set, .args = { "-c", "3", "-p", "1", "-P", "40us", "-d", "10us", "--hold=100ms" },
	  .sysfs = "class", .channel_files = "pwm1 40000/10000/1/normal", .min_ms = 100 },
	{ .name = "SetBusyChannelSaidPlainly", .tool = set, .args = { "-c", "3", "-p", "1", "-P", "20ms", "-d", "1ms" }, .sysfs = "class",
	  .status = 1, .err = "pwm-set: pwmchip3: channel 1: Device or resource busy (held by another program or a kernel driver)\n",
	  .channel_files = "pwm1 50000/20000/1/normal", .channel1_locked = true },
	{ .name = "SetRoundOnSysfsChip", .tool = set, .args = { "-c", "3", "-p", "0", "-r", "-P", "20ms", "-d", "1ms" },
	  .sysfs = "class", .status = 1, .err = "pwm-set: pwmchip3: the kernel cannot be asked how it rounds through sysfs\n" },
	{ .name = "SetChannelBeyondCount", .tool = set, .args = { "-c", "3", "-p", "2", "-P", "20ms", "-d", "1ms" },
	  .sysfs = "class", .status = 1, .err = "pwm-set: pwmchip3: channel 2: Invalid argument\n" },
	{ .name = "SetNoSuchChip", .tool = set, .args = { "-c", "nosuch", "-p", "0", "--off" },
	  .sysfs = "class", .status = 1, .err = "pwm-set: nosuch: No such file or directory\n" },
	{ .name = "SetHelp", .tool = set, .args = { "-h" }, .sysfs = "none", .out = "Usage: pwm-set [OPTIONS] -c CHIP -p N\n..." },
	{ .name = "SetVersion", .tool = set, .args = { "--version" }, .sysfs = "none", .out = "pwm-set " PROJECT_VERSION "\n..." },
	set_refused("DutyShareAbove100", { "-P", "20ms", "-d", "150%" }, "invalid duty '150%': more than 100 %"),
	set_refused("DutyAbovePeriod", { "-P", "20ms", "-d", "20.000001ms" }, "invalid duty '20.000001ms': more than the period"),
	set_refused("DutyUnknownUnit", { "-f", "50Hz", "-d", "1.5mS" }, "invalid duty '1.5mS': unknown unit (ns, us, ms or s)"),
	set_refused("DutyMalformed", { "-f", "50Hz", "-d", ".5ms" }, "invalid duty '.5ms': not a number"),
	set_refused("FrequencyZero", { "-f", "0.0kHz", "-d", "0" }, "invalid frequency '0.0kHz': 0 Hz has no period"),
	set_refused("FrequencyUnknownUnit", { "-f", "50hz", "-d", "0" }, "invalid frequency '50hz': unknown unit (Hz, kHz or MHz)"),
	set_refused("PeriodAbove2To63", { "-P", "9223372036854775808", "-d", "0" }, "invalid period '9223372036854775808': above 2^63 - 1 ns"),
	set_refused("PeriodPast64Bits", { "-P", "18446744073709551616", "-d", "0" }, "invalid period '18446744073709551616': past 64 bits"),
	set_refused("PeriodZero", { "-P", "0ms", "-d", "0" }, "invalid period '0ms': 0 is no period (--off switches the output off)"),
	set_refused("OffsetNotBelowPeriod", { "-P", "20ms", "-d", "0", "-o", "100%" }, "invalid offset '100%': not below the period"),
	set_refused("HoldUnknownUnit", { "-P", "20ms", "-d", "0", "--hold=1min" }, "invalid hold duration '1min': unknown unit (ns, us, ms or s)"),
	set_refused("ChannelJunk", { "-p", "1x" }, "invalid channel '1x': not a number"),
	set_refused("ChannelPast32Bits", { "-p", "4294967296" }, "invalid channel '4294967296': past 32 bits"),
	set_refused("PeriodAndFrequency", { "-P", "20ms", "-f", "50Hz", "-d", "0" }, "-P and -f both give the period: one of them"),
	set_refused("OffsetAndInversed", { "-P", "20ms", "-d", "0", "-o", "0", "-i" }, "-o and -i both place the active part: one of them"),
	set_refused("OffWithDuty", { "--off", "-d", "0" }, "--off takes no period, duty or offset"),
	set_refused("DutyWithoutPeriod", { "-d", "50%" }, "a duty needs a period (-P or -f)"),
	set_refused("NoDuty", { "-f", "50Hz" }, "no duty given (-d), nor --off"),
	set_refused("RoundAndHold", { "--off", "-r", "-H" }, "-r changes nothing, so there is nothing to hold (-H)"),
	{ .name = "SetNoChip", .tool = set, .args = { "-p", "0", "--off" }, .sysfs = "none", .status = 1,
	  .err = "pwm-set: which channel: -c CHIP and -p N are both required\nTry 'pwm-set --help' for more information.\n" },
	{ .name = "SetNoChannel", .tool = set, .args = { "-c", "3", "--off" }, .sysfs = "none", .status = 1,
	  .err = "pwm-set: which channel: -c CHIP and -p N are both required\nTry 'pwm-set --help' for more information.\n" },
	{ .name = "SetOperandRefused", .tool = set, .args = { "-c", "3", "-p", "0", "--off", "extra" }, .sysfs = "none", .status = 1,
	  .err = "pwm-set: unexpected argument 'extra'\nTry 'pwm-set --help' for more information.\n" },
	{ .name = "SetShortVIsVerbose", .tool = set, .args = { "-v" }, .sysfs = "none", .status = 1,
	  .err = "pwm-set: no duty given (-d), nor --off\n" },
	// pwm-set on chip 3 with a device node: by default through sysfs, so
	// that no driver's release stops the output; held through the device.
	{ .name = "SetDefaultOnDeviceChipExports", .tool = set, .args = { "-c", "3", "-p", "0", "-P", "20ms", "-d", "1.5ms" },
	  .sysfs = "class", .device = any_duty, .calls = "request=0 setroundedwf=0 setexactwf=0", .exported = "0\n",
	  .channel_files = "pwm0 20000000/1500000/1/normal" },
	// 49.999 Hz is 20000400 ns, 7.5 % of it 1500030 ns: -v shows what the
	// hardware made of them, in its steps of 1000 ns.
	{ .name = "SetHoldThroughDevice", .tool = set, .args = { "-c", "3", "-p", "0", "-f", "49.999Hz", "-d", "7.5%", "-H100ms", "-v" },
	  .sysfs = "class", .out = "period_ns=20000000\nduty_ns=1500000\noffset_ns=0\nfrequency_hz=50\nduty_percent=7.5\n",
	  .device = any_duty, .calls = "request=1 free=1", .channel0 = "20000000/1500000/0" },
	{ .name = "SetHoldEndsWhereReleaseStops", .tool = set, .args = { "-c", "3", "-p", "0", "-P", "20ms", "-d", "2ms", "--hold=0" },
	  .sysfs = "class", .device = sleeps_at_release, .calls = "request=1", .channel0 = "0/0/0" },
	{ .name = "SetRoundThroughDevice", .tool = set, .args = { "-c", "3", "-p", "0", "-P", "50.5us", "-d", "20%", "-r" },
	  .sysfs = "class", .out = "period_ns=50000\nduty_ns=10000\noffset_ns=0\nperiod_us=50\nduty_percent=20\n",
	  .device = as_is, .calls = "request=1 roundwf=1 setroundedwf=0 setexactwf=0" },
	{ .name = "SetRoundOnExportedChannelOfDeviceChip", .tool = set, .args = { "-c", "3", "-p", "1", "-r", "-P", "20ms", "-d", "1ms" },
	  .sysfs = "class", .status = 1,
	  .err = "pwm-set: pwmchip3: channel 1: exported: the kernel cannot be asked how it rounds through sysfs\n",
	  .device = as_is, .calls = "request=1 roundwf=0", .channel_files = "pwm1 50000/20000/1/normal" },
	{ .name = "SetHoldBusyOnDevice", .tool = set, .args = { "-c", "3", "-p", "0", "-P", "20ms", "-d", "1ms", "-H" },
	  .sysfs = "class", .status = 1,
	  .err = "pwm-set: pwmchip3: channel 0: Device or resource busy (held by another program or a kernel driver)\n",
	  .device = held_elsewhere, .calls = "request=1 setroundedwf=0 setexactwf=0" },
	{ .name = "SetRefusedWaveformSaid", .tool = set, .args = { "-c", "3", "-p", "0", "-P", "2ms", "-d", "1ms", "-H0" },
	  .sysfs = "class", .status = 1,
	  .err = "pwm-set: pwmchip3: channel 0: cannot set period_ns=2000000 duty_ns=1000000 offset_ns=0: "
		 "Numerical result out of range\n",
	  .device = refuses_above_1ms, .calls = "request=1" },
	// pwm-info --get: one channel, for scripts; nothing taken.
	{ .name = "InfoGetExported", .tool = info, .args = { "--get=1", "3" }, .sysfs = "class", .debugfs = true,
	  .out = "holder=sysfs\nconsumer=sysfs\nperiod_ns=50000\nduty_ns=20000\noffset_ns=0\nfrequency_hz=20000\nduty_percent=40\n" },
	{ .name = "InfoGetKernelInUs", .tool = info, .args = { "-g", "0", "-u", "us", "4ff01000.pwm" }, .sysfs = "class", .debugfs = true,
	  .out = "holder=kernel\nconsumer=led-1\nperiod_ns=200000\nduty_ns=150000\noffset_ns=50000\nfrequency_hz=5000\n"
		 "duty_percent=75\nperiod_us=200\nduty_us=150\noffset_us=50\n" },
	{ .name = "InfoGetFreeSwitchedOff", .tool = info, .args = { "-g", "0", "3" }, .sysfs = "class", .debugfs = true,
	  .out = "holder=free\nperiod_ns=0\nduty_ns=0\noffset_ns=0\nfrequency_hz=0\nduty_percent=0\n" },
	{ .name = "InfoGetUnreadableHasNoWaveform", .tool = info, .args = { "-g", "0", "-u", "ms", "3" }, .sysfs = "class",
	  .out = "holder=unknown\n" },
	{ .name = "InfoGetDeviceHolderAsksNothing", .tool = info, .args = { "-g", "0", "-u", "ms", "3" }, .sysfs = "class",
	  .debugfs = true,
	  .out = "holder=device\nconsumer=pwm-cdev (pid=7)\nperiod_ns=30000\nduty_ns=10000\noffset_ns=0\n"
		 "frequency_hz=33333.3333333\nduty_percent=33.3333333333\nperiod_ms=0.03\nduty_ms=0.01\noffset_ms=0\n",
	  .device = held_elsewhere, .calls = "request=0 roundwf=0 getwf=0", .listing3 = listing3_held },
	{ .name = "InfoGetBeyondCount", .tool = info, .args = { "-g", "2", "3" }, .sysfs = "class", .debugfs = true, .status = 1,
	  .err = "pwm-info: pwmchip3: channel 2: Invalid argument\n" },
	{ .name = "InfoGetNoSuchChip", .tool = info, .args = { "-g", "0", "7" }, .sysfs = "class", .status = 1,
	  .err = "pwm-info: 7: No such file or directory\n" },
	{ .name = "InfoGetTwoChips", .tool = info, .args = { "-g", "0", "3", "10" }, .sysfs = "class", .status = 1,
	  .err = "pwm-info: -g takes exactly one CHIP, and no -P\n" + try_info },
	{ .name = "InfoGetNoChip", .tool = info, .args = { "-g", "0" }, .sysfs = "class", .status = 1,
	  .err = "pwm-info: -g takes exactly one CHIP, and no -P\n" + try_info },
	{ .name = "InfoGetChannelJunk", .tool = info, .args = { "-g", "-1", "3" }, .sysfs = "class", .status = 1,
	  .err = "pwm-info: invalid channel '-1'\n" },
	{ .name = "InfoUnitUnknown", .tool = info, .args = { "-g", "0", "-u", "min", "3" }, .sysfs = "class", .status = 1,
	  .err = "pwm-info: invalid unit 'min': not ns, us, ms or s\n" },
	{ .name = "InfoUnitWithoutGet", .tool = info, .args = { "-u", "ms", "3" }, .sysfs = "class", .status = 1,
	  .err = "pwm-info: -u goes with -g\n" },
};
// clang-format on

void write_file(const std::string &path, const std::string &text)
{
	std::ofstream(path, std::ios::trunc) << text;
}

std::string first_line(const std::string &path)
{
	const std::string text = read_file(path);
	return text.substr(0, text.find('\n'));
}

// The channel's attributes, as channel_files gives them.
std::string channel_files(const std::string &chip, const std::string &channel)
{
	const std::string dir = chip + "/" + channel;
	return channel + " " + first_line(dir + "/period") + "/" + first_line(dir + "/duty_cycle") + "/" +
		first_line(dir + "/enable") + "/" + first_line(dir + "/polarity");
}

// Plays the kernel's part of an export on chip: once a channel's number is
// written to export, its folder appears, switched off, until stop is set.
void answer_exports(const std::string &chip, const std::atomic<bool> &stop)
{
	while (!stop) {
		const std::string text = read_file(chip + "/export");
		if (!text.empty() && text.back() == '\n') {
			const std::string dir = chip + "/pwm" + text.substr(0, text.size() - 1);
			fs::create_directories(dir);
			for (const char *attr : { "period", "duty_cycle", "enable" })
				write_file(dir + "/" + attr, "0\n");
			write_file(dir + "/polarity", "normal\n");
			return;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
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
	const char *const paths[] = { PWM_DETECT_PATH, PWM_INFO_PATH, PWM_SWEEP_PATH, PWM_SET_PATH };
	const char *const names[] = { "pwm-detect", "pwm-info", "pwm-sweep", "pwm-set" };
	const std::string chip3 = root + "/class/pwmchip3";
	const int locked = c.channel1_locked ? open((chip3 + "/pwm1").c_str(), O_RDONLY | O_DIRECTORY) : -1;
	if (c.channel1_locked) {
		ASSERT_GE(locked, 0);
		ASSERT_EQ(flock(locked, LOCK_EX), 0);
	}
	std::atomic<bool> stop{ false };
	std::thread kernel(answer_exports, chip3, std::cref(stop));
	const auto start = std::chrono::steady_clock::now();
	const tool_run run = run_program(paths[c.tool], names[c.tool], c.args, env);
	const auto ran = std::chrono::steady_clock::now() - start;
	stop = true;
	kernel.join();
	if (locked >= 0)
		close(locked);
	const std::string files = c.channel_files.empty()
		? ""
		: channel_files(chip3, c.channel_files.substr(0, c.channel_files.find(' ')));
	const std::string export3 = read_file(chip3 + "/export");
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
	EXPECT_EQ(export3, c.exported);
	EXPECT_EQ(export10, "") << "a channel was exported";
	EXPECT_EQ(files, c.channel_files);
	EXPECT_GE(ran, std::chrono::milliseconds(c.min_ms));
	if (c.device == nullptr)
		return;
	EXPECT_EQ(counted(c.calls, after), c.calls);
	EXPECT_EQ(after.held_at_exit, 0U) << "a channel was left requested";
	for (unsigned int ch = 0; ch < before.npwm; ++ch)
		EXPECT_EQ(after.holder[ch], before.holder[ch]) << "channel " << ch << "'s holder";
	EXPECT_EQ(waveform_text(after.hw[0]), c.channel0.empty() ? waveform_text(before.hw[0]) : c.channel0);
	EXPECT_EQ(waveform_text(after.hw[1]), waveform_text(before.hw[1]));
}

// pwm-set --hold without a duration holds the channel through the device
// until a signal, then lets it go and exits 0; the waveform stays on a
// driver that keeps it.
TEST(SetHold, EndsOnSignal)
{
	if (!TOOLS_RUN_NATIVELY)
		GTEST_SKIP() << "signals go to the tool itself only in a native build";
	for (const int sig : { SIGTERM, SIGINT, SIGHUP }) {
		SCOPED_TRACE(strsignal(sig));
		const std::string root = make_temp_dir();
		lay_out_chips(root, "2", "");
		const std::string model_file = root + "/cdev-model";
		cdev_model before = device_chip();
		any_duty(before);
		std::ofstream(model_file, std::ios::binary)
			.write(reinterpret_cast<const char *>(&before), sizeof(before));
		fs::create_symlink("/dev/zero", root + "/dev/pwmchip3");
		const int fd = open(model_file.c_str(), O_RDONLY);
		ASSERT_GE(fd, 0);
		void *mapped = mmap(nullptr, sizeof(cdev_model), PROT_READ, MAP_SHARED, fd, 0);
		close(fd);
		ASSERT_NE(mapped, MAP_FAILED);
		const auto *model = static_cast<const volatile cdev_model *>(mapped);

		const std::string env[] = {
			"QUORVIN_SYSFS_DIR=" + root + "/class",  "QUORVIN_DEV_DIR=" + root + "/dev",
			"QUORVIN_DEBUGFS_PWM=" + root + "/none", std::string("LD_PRELOAD=") + CDEV_SHIM_PATH,
			"QUORVIN_CDEV_MODEL=" + model_file,      "ASAN_OPTIONS=verify_asan_link_order=0"
		};
		std::vector<char *> envp;
		for (const std::string &e : env)
			envp.push_back(const_cast<char *>(e.c_str()));
		envp.push_back(nullptr);
		const char *const argv[] = { "pwm-set", "-c", "3",   "-p",     "0",    "-P",
					     "20ms",    "-d", "5ms", "--hold", nullptr };
		const pid_t pid = fork();
		ASSERT_GE(pid, 0);
		if (pid == 0) {
			const int null = open("/dev/null", O_WRONLY);
			dup2(null, STDOUT_FILENO);
			execve(PWM_SET_PATH, const_cast<char *const *>(argv), envp.data());
			_exit(127);
		}
		// Held and running: then the signal.
		for (int i = 0; i < 1000 && (model->holder[0] < 0 || model->hw[0].period_length_ns == 0); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		EXPECT_GE(model->holder[0], 0) << "never held";
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
		int status = -1;
		EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the hold ended by itself";
		kill(pid, sig);
		ASSERT_EQ(waitpid(pid, &status, 0), pid);
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
		EXPECT_EQ(model->holder[0], cdev_model::nobody);
		EXPECT_EQ(model->held_at_exit, 0U) << "the chip was not closed";
		EXPECT_EQ(model->hw[0].period_length_ns, 20000000U);
		EXPECT_EQ(model->hw[0].duty_length_ns, 5000000U);
		munmap(mapped, sizeof(cdev_model));
		remove_tree(root);
	}
}

std::string case_name(const testing::TestParamInfo<tools_case> &info)
{
	return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolsTest, testing::ValuesIn(cases), case_name);

} // namespace
