// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Times, frequencies and shares as the tools read and write them: every
// form, the rounding of halves, the 64-bit edges and what is refused.
#include "units.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

namespace {

// What a parser gave: the nanoseconds, or "refused: WHY".
std::string outcome(const char *why, uint64_t ns)
{
	return why != nullptr ? std::string("refused: ") + why : std::to_string(ns);
}

TEST(Units, Times)
{
	struct row {
		const char *text;
		enum time_unit bare;
		std::string ns; // or "refused: ..."
		enum time_unit unit;
	};
	// clang-format off
	const row rows[] = {
		{ "20000", UNIT_NS, "20000", UNIT_NS },
		{ "20000ns", UNIT_NS, "20000", UNIT_NS },
		{ "20us", UNIT_NS, "20000", UNIT_US },
		{ "20\xc2\xb5s", UNIT_NS, "20000", UNIT_US },
		{ "20\xce\xbcs", UNIT_NS, "20000", UNIT_US },
		{ "20ms", UNIT_NS, "20000000", UNIT_MS },
		{ "1.5ms", UNIT_NS, "1500000", UNIT_MS },
		{ "2s", UNIT_NS, "2000000000", UNIT_S },
		{ "1.5", UNIT_S, "1500000000", UNIT_S }, // --hold's bare unit
		{ "0", UNIT_NS, "0", UNIT_NS },
		{ "007ms", UNIT_NS, "7000000", UNIT_MS },
		// A fraction of a nanosecond: to the nearest, a half up, whatever
		// follows the deciding digit.
		{ "1.5", UNIT_NS, "2", UNIT_NS },
		{ "1.4999999", UNIT_NS, "1", UNIT_NS },
		{ "2.5", UNIT_NS, "3", UNIT_NS },
		{ "1.0000005ms", UNIT_NS, "1000001", UNIT_MS },
		{ "1.00000049999ms", UNIT_NS, "1000000", UNIT_MS },
		{ "0.0000000005s", UNIT_NS, "1", UNIT_S },
		{ "0.1234567894s", UNIT_NS, "123456789", UNIT_S },
		{ "1.00000000000000000000000000000000000000001s", UNIT_NS, "1000000000", UNIT_S },
		// The 64-bit edges.
		{ "18446744073709551615", UNIT_NS, "18446744073709551615", UNIT_NS },
		{ "18446744073709551616", UNIT_NS, "refused: past 64 bits", UNIT_NS },
		{ "18446744073709551614.5", UNIT_NS, "18446744073709551615", UNIT_NS },
		{ "18446744073709551615.5", UNIT_NS, "refused: past 64 bits", UNIT_NS },
		{ "18446744073.709551615s", UNIT_NS, "18446744073709551615", UNIT_S },
		{ "18446744073.7095516155s", UNIT_NS, "refused: past 64 bits", UNIT_S },
		{ "18446744074s", UNIT_NS, "refused: past 64 bits", UNIT_S },
		{ "18446744073709551ms", UNIT_NS, "refused: past 64 bits", UNIT_MS },
		// Malformed.
		{ "", UNIT_NS, "refused: not a number", UNIT_NS },
		{ "ms", UNIT_NS, "refused: not a number", UNIT_NS },
		{ ".5ms", UNIT_NS, "refused: not a number", UNIT_NS },
		{ "1.ms", UNIT_NS, "refused: not a number", UNIT_NS },
		{ "-1ms", UNIT_NS, "refused: not a number", UNIT_NS },
		{ "+1ms", UNIT_NS, "refused: not a number", UNIT_NS },
		{ " 1ms", UNIT_NS, "refused: not a number", UNIT_NS },
		{ "1 ms", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1ms ", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1,5ms", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1.5.5ms", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1MS", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1min", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1Hz", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "1e3", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
		{ "0x10", UNIT_NS, "refused: unknown unit (ns, us, ms or s)", UNIT_NS },
	};
	// clang-format on
	for (const row &r : rows) {
		SCOPED_TRACE(r.text);
		uint64_t ns = 0;
		enum time_unit unit = UNIT_NS;
		const char *why = parse_time(r.text, r.bare, &ns, &unit);
		EXPECT_EQ(outcome(why, ns), r.ns);
		if (why == nullptr) {
			EXPECT_EQ(unit, r.unit);
		}
	}
}

TEST(Units, FrequenciesAsPeriods)
{
	struct row {
		const char *text;
		std::string period; // or "refused: ..."
	};
	// clang-format off
	const row rows[] = {
		{ "50Hz", "20000000" },
		{ "50", "20000000" },
		{ "25kHz", "40000" },
		{ "1kHz", "1000000" },
		{ "1.5MHz", "667" }, // 666.67
		{ "3kHz", "333333" }, // 333333.3
		{ "50.000000Hz", "20000000" },
		{ "0.5Hz", "2000000000" },
		{ "1000MHz", "1" },
		// Halves go up: 10^9 / 400000000 = 2.5, / 2000000000 = 0.5.
		{ "400MHz", "3" },
		{ "2000MHz", "1" },
		{ "2000000001Hz", "refused: a period below 1 ns" },
		{ "3000MHz", "refused: a period below 1 ns" },
		// Either side of 2^63 - 1 ns.
		{ "0.0000000001084202172485505Hz", "9223372036854770993" },
		{ "0.0000000001084202172485504Hz", "refused: above 2^63 - 1 ns" },
		{ "0.0000000000000000000000000000000000000001Hz", "refused: above 2^63 - 1 ns" },
		// The digits, point aside and trailing zeros dropped, fit 64 bits.
		{ "18446744073709551615Hz", "0" }, // refused below, as a period below 1 ns
		{ "1844674407.3709551616Hz", "refused: past 64 bits" },
		{ "1844674407.37095516150000Hz", "1" },
		{ "0Hz", "refused: 0 Hz has no period" },
		{ "0.000kHz", "refused: 0 Hz has no period" },
		{ "50hz", "refused: unknown unit (Hz, kHz or MHz)" },
		{ "50KHz", "refused: unknown unit (Hz, kHz or MHz)" },
		{ "50 Hz", "refused: unknown unit (Hz, kHz or MHz)" },
		{ "20ms", "refused: unknown unit (Hz, kHz or MHz)" },
		{ "Hz", "refused: not a number" },
		{ "5.Hz", "refused: not a number" },
		{ "-50Hz", "refused: not a number" },
	};
	// clang-format on
	for (const row &r : rows) {
		SCOPED_TRACE(r.text);
		uint64_t period = 0;
		const char *why = parse_frequency(r.text, &period);
		if (r.period == "0") {
			EXPECT_STREQ(why, "a period below 1 ns");
		} else {
			EXPECT_EQ(outcome(why, period), r.period);
		}
	}
}

TEST(Units, SharesOfAPeriod)
{
	struct row {
		const char *text;
		uint64_t period;
		std::string ns; // or "refused: ..."
	};
	// clang-format off
	const row rows[] = {
		{ "7.5%", 20000000, "1500000" },
		{ "25%", 1000000, "250000" },
		{ "40%", 40000, "16000" },
		{ "0%", 40000, "0" },
		{ "100%", 40000, "40000" },
		{ "100.000%", 40000, "40000" },
		{ "50%", 3, "2" }, // 1.5: a half up
		{ "49.9999%", 3, "1" },
		{ "33.3333333333333333%", 3, "1" },
		{ "0.0000000000000001%", 9223372036854775807, "9" }, // 9.22
		{ "0.000000000000000001%", 9223372036854775807, "0" }, // 0.09
		{ "0.00000000000000000000000000000000000001%", 9223372036854775807, "0" },
		{ "50%", 9223372036854775807, "4611686018427387904" }, // a half up
		{ "100%", 18446744073709551615U, "18446744073709551615" },
		{ "99.99999999999999999%", 18446744073709551615U, "18446744073709551613" },
		{ "100.0000000000000001%", 40000, "refused: more than 100 %" },
		{ "101%", 40000, "refused: more than 100 %" },
		{ "18446744073709551616%", 40000, "refused: past 64 bits" },
		{ "%", 40000, "refused: not a number" },
		{ "25", 40000, "refused: unknown unit (a share is written 25%)" },
		{ "25 %", 40000, "refused: unknown unit (a share is written 25%)" },
		{ "25%%", 40000, "refused: unknown unit (a share is written 25%)" },
		{ "-5%", 40000, "refused: not a number" },
	};
	// clang-format on
	for (const row &r : rows) {
		SCOPED_TRACE(r.text);
		struct period_share share = {};
		const char *why = parse_share(r.text, &share);
		EXPECT_EQ(outcome(why, why == nullptr ? share_of(r.period, share) : 0), r.ns);
	}
}

TEST(Units, WrittenBack)
{
	struct row {
		std::string got, want;
	};
	// clang-format off
	const row rows[] = {
		{ format_time(20000000, UNIT_MS), "20" },
		{ format_time(1500000, UNIT_MS), "1.5" },
		{ format_time(1498160, UNIT_MS), "1.49816" },
		{ format_time(1, UNIT_S), "0.000000001" },
		{ format_time(0, UNIT_US), "0" },
		{ format_time(1000, UNIT_US), "1" },
		{ format_time(1001, UNIT_US), "1.001" },
		{ format_time(20000, UNIT_NS), "20000" },
		{ format_time(18446744073709551615U, UNIT_S), "18446744073.709551615" },
		{ format_frequency_hz(20000000), "50" },
		{ format_frequency_hz(40000), "25000" },
		{ format_frequency_hz(1), "1000000000" },
		{ format_frequency_hz(3), "333333333.333" },
		{ format_frequency_hz(19988480), "50.0288165984" },
		{ format_frequency_hz(666666667), "1.49999999925" },
		{ format_frequency_hz(6), "166666666.667" }, // the 12th digit rounded up
		{ format_frequency_hz(9223372036854775807), "0.000000000108420217249" },
		{ format_frequency_hz(0), "0" },
		{ format_percent(1500000, 20000000), "7.5" },
		{ format_percent(1498160, 19988480), "7.4951171875" },
		{ format_percent(20000, 20000), "100" },
		{ format_percent(0, 20000), "0" },
		{ format_percent(1, 3), "33.3333333333" },
		{ format_percent(2, 3), "66.6666666667" },
		{ format_percent(1, 18446744073709551615U), "0.00000000000000000542101086243" },
		{ format_percent(18446744073709551615U, 18446744073709551615U), "100" },
		{ format_percent(0, 0), "0" },
	};
	// clang-format on
	for (const row &r : rows)
		EXPECT_EQ(r.got, r.want);
}

TEST(Units, UnitNames)
{
	const struct {
		const char *name;
		bool taken;
		enum time_unit unit;
	} rows[] = { { "ns", true, UNIT_NS },   { "us", true, UNIT_US }, { "\xc2\xb5s", true, UNIT_US },
		     { "ms", true, UNIT_MS },   { "s", true, UNIT_S },   { "Ms", false, UNIT_NS },
		     { "sec", false, UNIT_NS }, { "", false, UNIT_NS },  { "1ms", false, UNIT_NS } };
	for (const auto &r : rows) {
		SCOPED_TRACE(r.name);
		enum time_unit unit = UNIT_NS;
		ASSERT_EQ(parse_time_unit(r.name, &unit), r.taken);
		if (r.taken) {
			EXPECT_EQ(unit, r.unit);
			EXPECT_STREQ(time_unit_name(unit), r.name[0] == '\xc2' ? "us" : r.name);
		}
	}
}

} // namespace
