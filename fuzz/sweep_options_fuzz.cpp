// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-sweep's options over any argument vector (the input's NUL-separated
// strings): the settings parse_sweep_settings accepts, or its refusal, must
// be those of a conversion written here from the rules (decimal, leading
// blanks and one sign, at least one digit, nothing after but blanks, the
// magnitude within 64 bits; -c and -p within 32 bits and not negative; a
// zero step or one past the signed 64-bit range refused; a period of 2^63
// or more refused after the last -P; an operand refused). Which option
// getopt hands over with which argument is getopt's business: a first pass
// of getopt lists them.
#include "sweep_settings.h"

#include <fcntl.h>
#include <getopt.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

const char optstring[] = "c:p:P:S:";

// A number as the rules read it: false for text that is none.
bool convert(const std::string &text, bool *negative, uint64_t *magnitude)
{
	size_t i = text.find_first_not_of(" \t\n\v\f\r");
	if (i == std::string::npos)
		return false;
	*negative = text[i] == '-';
	if (text[i] == '+' || text[i] == '-')
		++i;
	const size_t digits = text.find_first_not_of("0123456789", i);
	const std::string number = text.substr(i,
					       digits == std::string::npos ? std::string::npos : digits - i);
	if (number.empty() ||
	    (digits != std::string::npos &&
	     text.find_first_not_of(" \t\n\v\f\r", digits) != std::string::npos))
		return false;
	// Past 64 bits: more significant digits than 2^64 - 1 has, or as many
	// and above it as text.
	const std::string significant = number.substr(std::min(number.find_first_not_of('0'), number.size()));
	if (significant.size() > 20 || (significant.size() == 20 && significant > "18446744073709551615"))
		return false;
	*magnitude = significant.empty() ? 0 : std::stoull(significant);
	return true;
}

// argv for one pass: the strings stay, the pointers are getopt's to permute.
std::vector<char *> argv_of(std::vector<std::string> &args)
{
	std::vector<char *> argv;
	argv.reserve(args.size() + 1);
	for (std::string &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	return argv;
}

int null_fd = -1;
int stderr_fd = -1;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
	stderr_fd = dup(STDERR_FILENO);
	if (null_fd < 0 || stderr_fd < 0)
		abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> args{ "pwm-sweep" };
	std::string current;
	for (size_t i = 0; i < size && args.size() < 24; ++i) {
		if (data[i] == '\0') {
			args.push_back(current);
			current.clear();
		} else {
			current += static_cast<char>(data[i]);
		}
	}
	if (!current.empty() && args.size() < 24)
		args.push_back(current);

	// What getopt hands over, and the settings the rules make of it.
	// getopt's and the tool's messages are not what is checked here;
	// libFuzzer's own, on the same stderr, are.
	dup2(null_fd, STDERR_FILENO);
	std::vector<std::string> first = args;
	std::vector<char *> argv = argv_of(first);
	optind = 0;
	struct sweep_settings want = { 0, 0, 50000, 1 };
	bool accepted = true;
	int opt;
	bool negative = false;
	uint64_t v = 0;
	while (accepted && (opt = getopt(static_cast<int>(argv.size()) - 1, argv.data(), optstring)) != -1) {
		const bool number = opt != '?' && convert(optarg, &negative, &v);
		switch (opt) {
		case 'c':
		case 'p':
			accepted = number && (!negative || v == 0) && v <= UINT32_MAX;
			(opt == 'c' ? want.chip : want.channel) = static_cast<uint32_t>(v);
			break;
		case 'P':
			accepted = number && (!negative || v <= (1ULL << 63));
			want.period = negative ? 0 - v : v;
			break;
		case 'S':
			accepted = number && v != 0 && v <= (1ULL << 63) - (negative ? 0 : 1);
			want.step = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
			break;
		default:
			accepted = false;
		}
	}
	if (accepted && optind < static_cast<int>(argv.size()) - 1)
		accepted = false; // an operand
	if (accepted && want.period > static_cast<uint64_t>(INT64_MAX))
		accepted = false;

	std::vector<std::string> second = args;
	argv = argv_of(second);
	optind = 0;
	struct sweep_settings got = {};
	const bool parsed = parse_sweep_settings(static_cast<int>(argv.size()) - 1, argv.data(), &got);
	dup2(stderr_fd, STDERR_FILENO);
	if (parsed != accepted)
		abort();
	if (parsed &&
	    (got.chip != want.chip || got.channel != want.channel || got.period != want.period ||
	     got.step != want.step))
		abort();
	return 0;
}
