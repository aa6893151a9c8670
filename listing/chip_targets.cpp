// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "chip_targets.h"

#include <quorvin.h>

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace {

// A decimal number that fits an unsigned int, and nothing else.
bool parse_number(const char *text, unsigned int *number)
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

// The folder the library reads, found as it finds it: a privileged program
// ignores the environment.
const char *class_dir()
{
	const char *dir = secure_getenv("QUORVIN_SYSFS_DIR");
	return dir != nullptr && *dir != '\0' ? dir : "/sys/class/pwm";
}

} // namespace

bool find_chip_targets(char *const *names, int count, std::vector<chip_target> *targets)
{
	targets->clear();
	for (int i = 0; i < count; ++i)
		targets->push_back({ names[i], names[i] });
	if (count > 0)
		return true;

	DIR *d = opendir(class_dir());
	if (d == nullptr)
		return errno == ENOENT;
	std::vector<unsigned int> numbers;
	while (const struct dirent *e = readdir(d)) {
		unsigned int n = 0;
		if (strncmp(e->d_name, "pwmchip", 7) == 0 && parse_number(e->d_name + 7, &n))
			numbers.push_back(n);
	}
	closedir(d);
	std::sort(numbers.begin(), numbers.end());
	for (unsigned int n : numbers)
		targets->push_back({ "pwmchip" + std::to_string(n), std::to_string(n) });
	return true;
}

struct pwm_chip *open_chip_target(const struct chip_target &target)
{
	unsigned int number = 0;
	if (parse_number(target.name.c_str(), &number))
		return pwm_chip_open_by_number(number);
	return pwm_chip_open_by_name(target.name.c_str());
}
