// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-sweep run as a process against the recording stand-in library: the
// command line, the calls it makes in order, its messages and exit status.
#include "run_tool.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using lines = std::vector<std::string>;

struct tool_case {
	std::string name;
	lines args;
	lines env; // extra settings for the stand-in
	int status;
	std::string err;
	lines calls;
};

std::string set_line(uint64_t period, uint64_t duty)
{
	return "set " + std::to_string(period) + " " + std::to_string(duty) + " 0";
}

// open, get, one set per duty, close: a completed sweep.
lines sweep(uint32_t chip, uint32_t channel, uint64_t period, const std::vector<uint64_t> &duties,
	    bool closed = true)
{
	lines calls{ "open " + std::to_string(chip), "get " + std::to_string(channel) };
	for (uint64_t d : duties)
		calls.push_back(set_line(period, d));
	if (closed)
		calls.push_back("close");
	return calls;
}

std::vector<uint64_t> duties_upto(uint64_t last)
{
	std::vector<uint64_t> d;
	for (uint64_t i = 0; i <= last; ++i)
		d.push_back(i);
	return d;
}

const std::string step_refused = "Invalid step value: Invalid argument\n";
const std::string period_refused = "Invalid period value: Invalid argument\n";
const std::string chip_refused = "Invalid chip number: Invalid argument\n";

// clang-format off
std::vector<tool_case> command_line_cases()
{
	const uint64_t big = UINT64_C(1) << 62;
	return {
		{ "NoOptionsSweepsChip0Channel0Period50000Step1", {}, {}, 0, "", sweep(0, 0, 50000, duties_upto(50000)) },
		{ "ChipChannelPeriodStep", { "-c", "1", "-p", "2", "-P", "100", "-S", "10" }, {}, 0, "",
		  sweep(1, 2, 100, { 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100 }) },
		{ "Up7", { "-P", "20", "-S", "7" }, {}, 0, "", sweep(0, 0, 20, { 0, 7, 14 }) },
		{ "Down7", { "-P", "20", "-S", "-7" }, {}, 0, "", sweep(0, 0, 20, { 20, 13, 6 }) },
		{ "UpWholePeriod", { "-P", "20", "-S", "20" }, {}, 0, "", sweep(0, 0, 20, { 0, 20 }) },
		{ "DownWholePeriod", { "-P", "20", "-S", "-20" }, {}, 0, "", sweep(0, 0, 20, { 20, 0 }) },
		{ "UpPastPeriod", { "-P", "20", "-S", "21" }, {}, 0, "", sweep(0, 0, 20, { 0 }) },
		{ "DownPastPeriod", { "-P", "20", "-S", "-21" }, {}, 0, "", sweep(0, 0, 20, { 20 }) },
		{ "PeriodZeroUp", { "-P", "0", "-S", "5" }, {}, 0, "", sweep(0, 0, 0, { 0 }) },
		{ "PeriodZeroDown", { "-P", "0", "-S", "-5" }, {}, 0, "", sweep(0, 0, 0, { 0 }) },
		{ "LaterOptionWins", { "-P", "5", "-S", "3", "-P", "20", "-S", "7" }, {}, 0, "", sweep(0, 0, 20, { 0, 7, 14 }) },
		// The whole 32 bits, also where long has 32 bits (armhf).
		{ "ChipChannelAbove2To31", { "-c", "3000000000", "-p", "3000000001", "-P", "0" }, {}, 0, "",
		  sweep(3000000000U, 3000000001U, 0, { 0 }) },
		{ "ChipChannelBlanksAndSign", { "-c", " \t+4294967295 ", "-p", "  -0\n", "-P", "0" }, {}, 0, "",
		  sweep(UINT32_MAX, 0, 0, { 0 }) },
		{ "PeriodInt64MaxDownByHalf", { "-P", std::to_string(INT64_MAX), "-S", std::to_string(-(int64_t)big) }, {}, 0, "",
		  sweep(0, 0, INT64_MAX, { (uint64_t)INT64_MAX, (uint64_t)INT64_MAX - big }) },

		{ "StepZero", { "-S", "0" }, {}, 1, step_refused, {} },
		{ "StepText", { "-S", "abc" }, {}, 1, step_refused, {} },
		{ "StepHexIsZero", { "-S", "0x10" }, {}, 1, step_refused, {} },
		{ "StepMinusZero", { "-S", "-0" }, {}, 1, step_refused, {} },
		{ "StepZeroAfterGoodStep", { "-S", "5", "-S", "0" }, {}, 1, step_refused, {} },
		// The refusal comes at once: the bad option after it is never read.
		{ "StepZeroStopsReading", { "-S", "0", "-S", "5", "-x" }, {}, 1, step_refused, {} },
		{ "UnknownOptionBeforeZeroStep", { "-x", "-S", "0" }, {}, 1, "pwm-sweep: invalid option -- 'x'\n", {} },
		{ "MissingArgument", { "-P", "20", "-c" }, {}, 1, "pwm-sweep: option requires an argument -- 'c'\n", {} },

		// A typo never drives another chip, channel or period: text that is
		// no number, or one out of range, is refused before any chip opens.
		{ "ChipText", { "-c", "pwmchip3", "-P", "0" }, {}, 1, chip_refused, {} },
		{ "ChipEmpty", { "-c", "", "-P", "0" }, {}, 1, chip_refused, {} },
		{ "ChipMinusOne", { "-c", "-1", "-P", "0" }, {}, 1, chip_refused, {} },
		{ "Chip2To32", { "-c", "4294967296", "-P", "0" }, {}, 1, chip_refused, {} },
		{ "ChipPast64Bits", { "-c", "99999999999999999999", "-P", "0" }, {}, 1, chip_refused, {} },
		{ "ChannelJunk", { "-p", "1x", "-P", "0" }, {}, 1, "Invalid channel number: Invalid argument\n", {} },
		{ "ChannelBlank", { "-p", " ", "-P", "0" }, {}, 1, "Invalid channel number: Invalid argument\n", {} },
		{ "PeriodWithUnit", { "-P", "1ms" }, {}, 1, period_refused, {} },
		{ "PeriodText", { "-P", "abc" }, {}, 1, period_refused, {} },
		{ "PeriodPast64Bits", { "-P", "99999999999999999999" }, {}, 1, period_refused, {} },
		{ "Period2To63", { "-P", "9223372036854775808" }, {}, 1, period_refused, {} },
		{ "StepTrailingJunk", { "-P", "20", "-S", "7junk" }, {}, 1, step_refused, {} },
		{ "StepBelowInt64Min", { "-P", "20", "-S", "-9223372036854775809" }, {}, 1, step_refused, {} },
		{ "StepAboveInt64Max", { "-P", "20", "-S", "9223372036854775808" }, {}, 1, step_refused, {} },
		{ "Operand", { "-P", "20", "-S", "7", "3" }, {}, 1, "Unexpected argument '3': Invalid argument\n", {} },
		{ "OperandFirst", { "3", "-P", "20" }, {}, 1, "Unexpected argument '3': Invalid argument\n", {} },
		{ "OptionsEndAtDoubleDash", { "-P", "20", "--", "-c" }, {}, 1, "Unexpected argument '-c': Invalid argument\n", {} },
		{ "NegativePeriodRefused", { "-P", "-1" }, {}, 1, period_refused, {} },
		{ "MostNegativePeriodRefused", { "-P", "-9223372036854775808", "-S", "-1" }, {}, 1, period_refused, {} },
		{ "NegativePeriodOverriddenLater", { "-P", "-1", "-P", "20", "-S", "7" }, {}, 0, "", sweep(0, 0, 20, { 0, 7, 14 }) },
		{ "ZeroStepRefusedBeforePeriod", { "-P", "-1", "-S", "0" }, {}, 1, step_refused, {} },
	};
}

std::vector<tool_case> library_cases()
{
	return {
		{ "OpenFailsMessageSaysChip0", { "-c", "3" }, { "QUORVIN_STAND_IN_FAIL=open:1:2" }, 1,
		  "Failed to open pwmchip0: No such file or directory\n", { "open 3" } },
		{ "OpenFailsPermission", {}, { "QUORVIN_STAND_IN_FAIL=open:1:13" }, 1,
		  "Failed to open pwmchip0: Permission denied\n", { "open 0" } },
		{ "GetFailsMessageSaysPwm0", { "-p", "5" }, { "QUORVIN_STAND_IN_FAIL=get:1:22" }, 1,
		  "Failed to get pwm0: Invalid argument\n", { "open 0", "get 5" } },
		{ "GetTimesOut", {}, { "QUORVIN_STAND_IN_FAIL=get:1:110" }, 1,
		  "Failed to get pwm0: Connection timed out\n", { "open 0", "get 0" } },
		{ "ThirdSetFails", { "-P", "20", "-S", "5" }, { "QUORVIN_STAND_IN_FAIL=set:3:5" }, 1,
		  "Failed to configure PWM: Input/output error\n", sweep(0, 0, 20, { 0, 5, 10 }, false) },
		{ "FirstSetFails", { "-P", "20", "-S", "-5" }, { "QUORVIN_STAND_IN_FAIL=set:1:16" }, 1,
		  "Failed to configure PWM: Device or resource busy\n", sweep(0, 0, 20, { 20 }, false) },
		{ "PositiveResultIsSuccess", { "-P", "20", "-S", "7" }, { "QUORVIN_STAND_IN_RESULT=1" }, 0, "",
		  sweep(0, 0, 20, { 0, 7, 14 }) },
		{ "NegativeResultOtherThanMinusOne", { "-P", "20", "-S", "7" },
		  { "QUORVIN_STAND_IN_FAIL=set:2:5", "QUORVIN_STAND_IN_RESULT=-7" }, 1,
		  "Failed to configure PWM: Input/output error\n", sweep(0, 0, 20, { 0, 7 }, false) },
		// The next duty follows from what the library left in the record.
		{ "DutyReadBackUp", { "-P", "20", "-S", "7" }, { "QUORVIN_STAND_IN_DUTY=2:1" }, 0, "",
		  sweep(0, 0, 20, { 0, 7, 8, 15 }) },
		{ "DutyReadBackEnds", { "-P", "20", "-S", "7" }, { "QUORVIN_STAND_IN_DUTY=1:14" }, 0, "",
		  sweep(0, 0, 20, { 0 }) },
		{ "DutyReadBackDown", { "-P", "20", "-S", "-7" }, { "QUORVIN_STAND_IN_DUTY=1:2" }, 0, "",
		  sweep(0, 0, 20, { 20 }) },
	};
}
// clang-format on

lines split_lines(const std::string &text)
{
	lines out;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		out.push_back(line);
	return out;
}

void PrintTo(const tool_case &c, std::ostream *os)
{
	*os << c.name;
}

class ToolTest : public testing::TestWithParam<tool_case> {};

TEST_P(ToolTest, CallsMessagesAndStatus)
{
	const tool_case &c = GetParam();
	const std::string dir = make_temp_dir();
	const std::string log = dir + "/calls";

	lines env{ "LD_LIBRARY_PATH=" STAND_IN_DIR, "QUORVIN_STAND_IN_LOG=" + log };
	env.insert(env.end(), c.env.begin(), c.env.end());
	const tool_run run = run_tool(c.args, env);
	const lines calls = split_lines(read_file(log));
	remove_tree(dir);

	EXPECT_EQ(run.status, c.status);
	EXPECT_EQ(run.out, "") << "nothing ever goes to standard output";
	EXPECT_EQ(run.err, c.err);
	ASSERT_EQ(calls.size(), c.calls.size());
	// Compared line by line so that a long sweep names its first wrong call.
	for (size_t i = 0; i < calls.size(); ++i)
		ASSERT_EQ(calls[i], c.calls[i]) << "call " << i;
}

std::string case_name(const testing::TestParamInfo<tool_case> &info)
{
	return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(CommandLine, ToolTest, testing::ValuesIn(command_line_cases()), case_name);
INSTANTIATE_TEST_SUITE_P(LibraryAnswers, ToolTest, testing::ValuesIn(library_cases()), case_name);

} // namespace
