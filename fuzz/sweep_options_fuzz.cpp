// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-sweep's options over any argument vector (the input's NUL-separated
// strings): the settings parse_sweep_settings accepts, or its refusal, must
// be those of a conversion written here from the rules (decimal, leading
// blanks and one sign, saturating at the 64-bit bounds, text without
// digits 0; -c and -p keep the low 32 bits; the first zero step refused; a
// period of 2^63 or more refused). Which option getopt hands over with which
// argument is getopt's business: a first pass of getopt lists them.
#include "sweep_settings.h"

#include <fcntl.h>
#include <getopt.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const char optstring[] = "c:p:P:S:";

int64_t convert(const char *text)
{
	const char *p = text;
	while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
		++p;
	const bool negative = *p == '-';
	if (*p == '+' || *p == '-')
		++p;
	// Accumulated as a negative number, which reaches INT64_MIN.
	int64_t v = 0;
	bool saturated = false;
	for (; *p >= '0' && *p <= '9'; ++p) {
		const int digit = *p - '0';
		if (saturated || v < (INT64_MIN + digit) / 10) {
			saturated = true;
			continue;
		}
		v = v * 10 - digit;
	}
	if (saturated)
		return negative ? INT64_MIN : INT64_MAX;
	if (!negative)
		return v == INT64_MIN ? INT64_MAX : -v;
	return v;
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
	while (accepted && (opt = getopt(static_cast<int>(argv.size()) - 1, argv.data(), optstring)) != -1) {
		switch (opt) {
		case 'c':
			want.chip = static_cast<uint32_t>(convert(optarg));
			break;
		case 'p':
			want.channel = static_cast<uint32_t>(convert(optarg));
			break;
		case 'P':
			want.period = static_cast<uint64_t>(convert(optarg));
			break;
		case 'S':
			want.step = convert(optarg);
			accepted = want.step != 0;
			break;
		default:
			accepted = false;
		}
	}
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
