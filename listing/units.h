// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Times, frequencies and shares of a period as people write them ("1.5ms",
// "50Hz", "7.5%"), turned into whole nanoseconds, and nanoseconds written
// back in a unit. Exact integer arithmetic throughout, on 32-bit targets
// too: no floating point, no compiler's 128-bit type.
#ifndef PWM_LISTING_UNITS_H
#define PWM_LISTING_UNITS_H

#include <stdint.h>

#include <string>

enum time_unit { UNIT_NS, UNIT_US, UNIT_MS, UNIT_S };

// A share of a period: digits / 10^decimals percent, at most 100 %.
struct period_share {
	uint64_t digits;
	unsigned int decimals;
};

// Each parser takes a decimal number ("20", "1.5": digits on both sides of
// a point) followed without a space by its unit, and returns nullptr, or
// what is wrong with text ("unknown unit", "more than 100 %", ...) for a
// message that names the argument.

// A time: ns (also a number without a unit, where bare_unit is UNIT_NS),
// us or µs, ms, s; rounded to the nearest nanosecond, a half up. *unit is
// the unit written, or bare_unit. At most 2^64 - 1 ns.
const char *parse_time(const char *text, enum time_unit bare_unit, uint64_t *ns, enum time_unit *unit);

// A frequency in Hz (also a number without a unit), kHz or MHz, as the
// period it gives: 10^9 / f ns rounded to the nearest nanosecond, a half
// up, from 1 to 2^63 - 1.
const char *parse_frequency(const char *text, uint64_t *period);

// A share of the period, "25%", "7.5%": 0 to 100.
const char *parse_share(const char *text, struct period_share *share);

// Whether text is written as a share (ends in '%').
bool is_share(const char *text);

// The nanoseconds a share makes of period: period * share / 100, rounded
// to the nearest, a half up. Never above period.
uint64_t share_of(uint64_t period, const struct period_share &share);

// "ns", "us", "ms" or "s": as the keys of the tools' output name them.
const char *time_unit_name(enum time_unit unit);

// A unit named by itself ("ms"), as -u takes one; µs for us too.
bool parse_time_unit(const char *name, enum time_unit *unit);

// ns in unit, exactly: "1.5" for 1500000 ns in ms, "20" for 20000000.
std::string format_time(uint64_t ns, enum time_unit unit);

// The frequency of a period, 10^9 / period Hz, to 12 significant digits
// without trailing zeros ("50", "50.0288165946"); "0" for period 0.
std::string format_frequency_hz(uint64_t period);

// part / whole in percent, as format_frequency_hz writes it; "0" for
// whole 0.
std::string format_percent(uint64_t part, uint64_t whole);

#endif
