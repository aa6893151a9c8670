// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "units.h"

#include <string.h>

namespace {

// An unsigned 128-bit number in two halves, for the few products and
// quotients that outgrow 64 bits.
struct u128 {
	uint64_t hi;
	uint64_t lo;
};

bool operator<(const u128 &a, const u128 &b)
{
	return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo;
}

u128 sub(const u128 &a, const u128 &b)
{
	return { a.hi - b.hi - (a.lo < b.lo ? 1 : 0), a.lo - b.lo };
}

u128 add(const u128 &a, const u128 &b)
{
	const uint64_t lo = a.lo + b.lo;
	return { a.hi + b.hi + (lo < a.lo ? 1 : 0), lo };
}

// a * b in full, from 32-bit halves.
u128 mul(uint64_t a, uint64_t b)
{
	const uint64_t a0 = a & 0xffffffffU, a1 = a >> 32;
	const uint64_t b0 = b & 0xffffffffU, b1 = b >> 32;
	const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
	const uint64_t mid = (p00 >> 32) + (p01 & 0xffffffffU) + (p10 & 0xffffffffU);
	return { p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xffffffffU) };
}

// a * m, for an a whose product the caller knows to fit.
u128 mul(const u128 &a, uint64_t m)
{
	u128 p = mul(a.lo, m);
	p.hi += a.hi * m;
	return p;
}

// 10^n, n at most 38.
u128 pow10(unsigned int n)
{
	u128 p = { 0, 1 };
	while (n-- > 0)
		p = mul(p, 10);
	return p;
}

// n / d rounded to the nearest, a half up; d not 0. Long division, one
// bit at a time.
u128 div_nearest(const u128 &n, const u128 &d)
{
	u128 q = { 0, 0 }, r = { 0, 0 };
	for (int bit = 127; bit >= 0; --bit) {
		const uint64_t in = bit >= 64 ? (n.hi >> (bit - 64)) & 1 : (n.lo >> bit) & 1;
		r = { (r.hi << 1) | (r.lo >> 63), (r.lo << 1) | in };
		if (!(r < d)) {
			r = sub(r, d);
			if (bit >= 64)
				q.hi |= uint64_t{ 1 } << (bit - 64);
			else
				q.lo |= uint64_t{ 1 } << bit;
		}
	}
	// r < d; a half or more of d rounds up: r >= d - r.
	if (!(r < sub(d, r)))
		q = add(q, { 0, 1 });
	return q;
}

// A number as written: the digits before the point, and those after it.
struct number_text {
	const char *whole;
	size_t whole_len;
	const char *fraction;
	size_t fraction_len;
	const char *unit; // what follows the number
};

size_t digits_at(const char *p)
{
	size_t n = 0;
	while (p[n] >= '0' && p[n] <= '9')
		++n;
	return n;
}

bool scan_number(const char *text, number_text *n)
{
	n->whole = text;
	n->whole_len = digits_at(text);
	if (n->whole_len == 0)
		return false;
	const char *p = text + n->whole_len;
	n->fraction = p;
	n->fraction_len = 0;
	if (*p == '.') {
		n->fraction = p + 1;
		n->fraction_len = digits_at(p + 1);
		if (n->fraction_len == 0)
			return false;
		p = n->fraction + n->fraction_len;
	}
	n->unit = p;
	return true;
}

// Decimal digits into *v; false where they do not fit 64 bits.
bool digits_value(const char *p, size_t len, uint64_t *v)
{
	*v = 0;
	for (size_t i = 0; i < len; ++i) {
		const auto digit = static_cast<uint64_t>(p[i] - '0');
		if (*v > (UINT64_MAX - digit) / 10)
			return false;
		*v = *v * 10 + digit;
	}
	return true;
}

// The number's value as digits / 10^decimals, with the fraction's trailing
// zeros dropped (they change nothing). false where the digits left do not
// fit 64 bits.
bool mantissa(const number_text &n, uint64_t *digits, unsigned int *decimals)
{
	size_t fraction_len = n.fraction_len;
	while (fraction_len > 0 && n.fraction[fraction_len - 1] == '0')
		--fraction_len;
	uint64_t v = 0;
	if (!digits_value(n.whole, n.whole_len, &v))
		return false;
	for (size_t i = 0; i < fraction_len; ++i) {
		const auto digit = static_cast<uint64_t>(n.fraction[i] - '0');
		if (v > (UINT64_MAX - digit) / 10)
			return false;
		v = v * 10 + digit;
	}
	*digits = v;
	*decimals = static_cast<unsigned int>(fraction_len);
	return true;
}

const char past_64_bits[] = "past 64 bits";
const char not_a_number[] = "not a number";
const char above_int64[] = "above 2^63 - 1 ns";

struct time_unit_text {
	const char *text;
	enum time_unit unit;
};

const time_unit_text time_units[] = {
	{ "ns", UNIT_NS },        { "us", UNIT_US }, { "\xc2\xb5s", UNIT_US }, // MICRO SIGN
	{ "\xce\xbcs", UNIT_US }, // GREEK SMALL LETTER MU
	{ "ms", UNIT_MS },        { "s", UNIT_S },
};

unsigned int unit_decimals(enum time_unit unit)
{
	switch (unit) {
	case UNIT_US:
		return 3;
	case UNIT_MS:
		return 6;
	case UNIT_S:
		return 9;
	default:
		return 0;
	}
}

} // namespace

const char *parse_time(const char *text, enum time_unit bare_unit, uint64_t *ns, enum time_unit *unit)
{
	number_text n;
	if (!scan_number(text, &n))
		return not_a_number;
	if (*n.unit == '\0') {
		*unit = bare_unit;
	} else if (!parse_time_unit(n.unit, unit)) {
		return "unknown unit (ns, us, ms or s)";
	}
	// The first d digits after the point are whole nanoseconds; the next
	// one rounds: with a half going up, nothing after it matters.
	const unsigned int d = unit_decimals(*unit);
	uint64_t scale = 1;
	for (unsigned int i = 0; i < d; ++i)
		scale *= 10;
	uint64_t whole = 0;
	if (!digits_value(n.whole, n.whole_len, &whole) || whole > UINT64_MAX / scale)
		return past_64_bits;
	uint64_t part = 0;
	for (unsigned int i = 0; i < d; ++i)
		part = part * 10 + (i < n.fraction_len ? static_cast<uint64_t>(n.fraction[i] - '0') : 0);
	if (d < n.fraction_len && n.fraction[d] >= '5')
		++part;
	const uint64_t value = whole * scale;
	if (value > UINT64_MAX - part)
		return past_64_bits;
	*ns = value + part;
	return nullptr;
}

const char *parse_frequency(const char *text, uint64_t *period)
{
	number_text n;
	if (!scan_number(text, &n))
		return not_a_number;
	unsigned int unit_digits = 0;
	if (*n.unit == '\0' || strcmp(n.unit, "Hz") == 0)
		unit_digits = 0;
	else if (strcmp(n.unit, "kHz") == 0)
		unit_digits = 3;
	else if (strcmp(n.unit, "MHz") == 0)
		unit_digits = 6;
	else
		return "unknown unit (Hz, kHz or MHz)";
	uint64_t digits = 0;
	unsigned int decimals = 0;
	if (!mantissa(n, &digits, &decimals))
		return past_64_bits;
	if (digits == 0)
		return "0 Hz has no period";
	// f = digits * 10^(unit_digits - decimals) Hz, so the period is
	// 10^(9 - unit_digits + decimals) / digits ns. Past 10^38 it is above
	// 10^39 / 2^64 > 2^63 whatever the digits.
	const unsigned int exponent = 9 - unit_digits + decimals;
	if (exponent > 38)
		return above_int64;
	const u128 p = div_nearest(pow10(exponent), { 0, digits });
	if (p.hi != 0 || p.lo > INT64_MAX)
		return above_int64;
	if (p.lo == 0)
		return "a period below 1 ns";
	*period = p.lo;
	return nullptr;
}

bool is_share(const char *text)
{
	const size_t len = strlen(text);
	return len > 0 && text[len - 1] == '%';
}

const char *parse_share(const char *text, struct period_share *share)
{
	number_text n;
	if (!scan_number(text, &n))
		return not_a_number;
	if (strcmp(n.unit, "%") != 0)
		return "unknown unit (a share is written 25%)";
	uint64_t digits = 0;
	unsigned int decimals = 0;
	if (!mantissa(n, &digits, &decimals))
		return past_64_bits;
	// 100 * 10^decimals is past 64 bits, and so above any digits, from 18
	// decimals on.
	if (decimals < 18 && mul(100, pow10(decimals).lo) < u128{ 0, digits })
		return "more than 100 %";
	*share = { digits, decimals };
	return nullptr;
}

uint64_t share_of(uint64_t period, const struct period_share &share)
{
	// period * digits < 2^127 < 10^39 / 5: past 10^38 the share rounds to 0.
	if (share.decimals + 2 > 38)
		return 0;
	return div_nearest(mul(period, share.digits), pow10(share.decimals + 2)).lo;
}

const char *time_unit_name(enum time_unit unit)
{
	switch (unit) {
	case UNIT_US:
		return "us";
	case UNIT_MS:
		return "ms";
	case UNIT_S:
		return "s";
	default:
		return "ns";
	}
}

bool parse_time_unit(const char *name, enum time_unit *unit)
{
	for (const time_unit_text &u : time_units) {
		if (strcmp(name, u.text) == 0) {
			*unit = u.unit;
			return true;
		}
	}
	return false;
}

namespace {

// digits with the last decimals of them after a point, without trailing
// zeros (nor a point left bare).
std::string with_point(uint64_t digits, unsigned int decimals)
{
	std::string text = std::to_string(digits);
	if (decimals == 0)
		return text;
	const std::string padded = text.size() <= decimals
		? std::string(decimals + 1 - text.size(), '0') + text
		: text;
	std::string fraction = padded.substr(padded.size() - decimals);
	while (!fraction.empty() && fraction.back() == '0')
		fraction.pop_back();
	const std::string whole = padded.substr(0, padded.size() - decimals);
	return fraction.empty() ? whole : whole + "." + fraction;
}

// num / den to 12 significant digits: scaled by 10^s until the quotient
// has them. Before that step num * 10^s is below 10^11 * den, so the
// products stay far below 2^128 for any den of 64 bits.
std::string decimal_ratio(const u128 &num, uint64_t den)
{
	if (den == 0 || (num.hi == 0 && num.lo == 0))
		return "0";
	const u128 den128 = { 0, den };
	const u128 enough = { 0, 100000000000ULL }; // 10^11
	u128 scaled = num;
	unsigned int s = 0;
	while (div_nearest(scaled, den128) < enough && s < 40) {
		scaled = mul(scaled, 10);
		++s;
	}
	const u128 q = div_nearest(scaled, den128);
	// Below 10^12 here, but for an integer part of more than 12 digits,
	// which no caller's ratio has (at most 10^9 Hz, 100 %).
	return with_point(q.lo, s);
}

} // namespace

std::string format_time(uint64_t ns, enum time_unit unit)
{
	return with_point(ns, unit_decimals(unit));
}

std::string format_frequency_hz(uint64_t period)
{
	return decimal_ratio({ 0, 1000000000ULL }, period);
}

std::string format_percent(uint64_t part, uint64_t whole)
{
	return decimal_ratio(mul(part, 100), whole);
}
