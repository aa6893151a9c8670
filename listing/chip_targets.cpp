// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "chip_targets.h"

#include "tool_text.h"

#include <quorvin.h>

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

bool parse_unsigned(const char *text, unsigned int *number)
{
	if (*text < '0' || *text > '9')
		return false;
	char *end = nullptr;
	errno = 0;
	const unsigned long long n = strtoull(text, &end, 10);
	if (errno != 0 || *end != '\0' || n > UINT_MAX)
		return false;
	*number = static_cast<unsigned int>(n);
	return true;
}

bool find_chip_targets(char *const *names, int count, std::vector<chip_target> *targets)
{
	targets->clear();
	for (int i = 0; i < count; ++i)
		targets->push_back({ names[i], names[i] });
	if (count > 0)
		return true;

	for (int n = pwm_chip_next_number(-1); n >= 0; n = pwm_chip_next_number(n))
		targets->push_back({ "pwmchip" + std::to_string(n), std::to_string(n) });
	return errno == ENOENT;
}

struct pwm_chip *open_chip_target(const struct chip_target &target)
{
	unsigned int number = 0;
	if (parse_unsigned(target.name.c_str(), &number))
		return pwm_chip_open_by_number(number);
	return pwm_chip_open_by_name(target.name.c_str());
}

int visit_chips(const char *tool, char *const *names, int count,
		bool (*visit)(struct pwm_chip *chip, void *ctx), void *ctx)
{
	std::vector<chip_target> targets;
	if (!find_chip_targets(names, count, &targets)) {
		report_errno(tool, "cannot list the PWM chips");
		return 1;
	}
	if (targets.empty())
		fprintf(stderr, "%s: no PWM chips\n", tool);

	int status = 0;
	for (const chip_target &target : targets) {
		struct pwm_chip *chip = open_chip_target(target);
		if (chip == nullptr) {
			report_errno(tool, target.label.c_str());
			status = 1;
			continue;
		}
		if (!visit(chip, ctx))
			status = 1;
		pwm_chip_close(chip);
	}
	return status;
}
