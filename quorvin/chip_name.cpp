// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "chip_name.h"

#include "env_dirs.h"
#include "kernel_file.h"

#include <quorvin.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define QUORVIN_API extern "C" __attribute__((visibility("default")))

namespace {

// The kinds of name, in the order they are tried.
enum name_kind { BY_PARENT, BY_NODE_PATH, BY_ALIAS, KIND_COUNT };

// "pwmchipN" with N a decimal that fits: N into *number.
bool parse_chip_name(const char *name, unsigned int *number)
{
	static const char prefix[] = "pwmchip";
	if (strncmp(name, prefix, sizeof(prefix) - 1) != 0)
		return false;
	const char *digits = name + sizeof(prefix) - 1;
	if (*digits < '0' || *digits > '9')
		return false;
	char *end = nullptr;
	errno = 0;
	const unsigned long n = strtoul(digits, &end, 10);
	if (errno != 0 || *end != '\0' || n > UINT_MAX)
		return false;
	*number = static_cast<unsigned int>(n);
	return true;
}

bool same_file(const char *a, const char *b)
{
	struct stat sa;
	struct stat sb;
	return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino &&
		sa.st_rdev == sb.st_rdev;
}

// A path to the chip's sysfs folder or device node, or a link to either.
bool chip_by_path(const char *name, unsigned int *number)
{
	char real[PATH_MAX];
	if (strchr(name, '/') == nullptr || realpath(name, real) == nullptr)
		return false;
	const char *base = strrchr(real, '/') + 1;
	unsigned int n = 0;
	if (!parse_chip_name(base, &n))
		return false;
	char path[PATH_MAX];
	const char *const dirs[] = { quorvin_sysfs_dir(), quorvin_dev_dir() };
	for (const char *dir : dirs) {
		if (chip_path(path, sizeof(path), dir, n) == 0 && same_file(real, path)) {
			*number = n;
			return true;
		}
	}
	return false;
}

// "OF_ALIAS_n" with n decimal: one of the node's aliases, numbered from 0.
bool is_alias_key(const char *key)
{
	static const char prefix[] = "OF_ALIAS_";
	if (strncmp(key, prefix, sizeof(prefix) - 1) != 0)
		return false;
	const char *digits = key + sizeof(prefix) - 1;
	return *digits != '\0' && strspn(digits, "0123456789") == strlen(digits);
}

// The parent's uevent: OF_FULLNAME=/pwm@4ff01000, OF_ALIAS_0=pwm1, one
// variable a line. Lines are read whole: text inside a long one (a list of
// compatibles) is no variable of its own. The kernel shows at most a page;
// a longer file is not its, and names nothing.
void match_uevent(unsigned int number, const char *name, bool matched[KIND_COUNT])
{
	char path[PATH_MAX];
	if (chip_path(path, sizeof(path), quorvin_sysfs_dir(), number) < 0)
		return;
	const size_t used = strlen(path);
	if (snprintf(path + used, sizeof(path) - used, "/device/uevent") >=
	    static_cast<int>(sizeof(path) - used))
		return;
	FILE *f = kernel_file_fopen(path);
	if (f == nullptr)
		return;
	constexpr size_t uevent_max = 4096;
	char *line = nullptr;
	size_t room = 0;
	size_t total = 0;
	bool node_path = false;
	bool alias = false;
	ssize_t len;
	while ((len = getline(&line, &room, f)) >= 0) {
		total += static_cast<size_t>(len);
		if (total > uevent_max) {
			node_path = alias = false;
			break;
		}
		line[strcspn(line, "\n")] = '\0';
		char *eq = strchr(line, '=');
		if (eq == nullptr || strcmp(eq + 1, name) != 0)
			continue;
		*eq = '\0';
		if (strcmp(line, "OF_FULLNAME") == 0)
			node_path = true;
		else if (is_alias_key(line))
			alias = true;
	}
	free(line);
	fclose(f);
	matched[BY_NODE_PATH] = node_path;
	matched[BY_ALIAS] = alias;
}

// Which kinds of name the parent of chip number answers to.
void match_parent(unsigned int number, const char *name, bool matched[KIND_COUNT])
{
	char parent[NAME_MAX + 1];
	matched[BY_PARENT] = chip_link_name(number, "device", parent, sizeof(parent)) == 0 &&
		strcmp(parent, name) == 0;
	match_uevent(number, name, matched);
}

} // namespace

int chip_number_by_name(const char *name, unsigned int *number)
{
	if (parse_chip_name(name, number) || chip_by_path(name, number))
		return 0;

	const char *class_dir = quorvin_sysfs_dir();
	DIR *d = class_dir != nullptr ? opendir(class_dir) : nullptr;
	if (d == nullptr)
		return -1;
	bool found[KIND_COUNT] = {};
	unsigned int best[KIND_COUNT] = {};
	while (const struct dirent *e = readdir(d)) {
		unsigned int n = 0;
		if (!parse_chip_name(e->d_name, &n))
			continue;
		bool matched[KIND_COUNT] = {};
		match_parent(n, name, matched);
		for (int k = 0; k < KIND_COUNT; ++k) {
			if (matched[k] && (!found[k] || n < best[k])) {
				found[k] = true;
				best[k] = n;
			}
		}
	}
	closedir(d);
	for (int k = 0; k < KIND_COUNT; ++k) {
		if (found[k]) {
			*number = best[k];
			return 0;
		}
	}
	errno = ENOENT;
	return -1;
}

int chip_link_name(unsigned int number, const char *which, char *buf, size_t size)
{
	char path[PATH_MAX];
	char target[PATH_MAX];
	if (chip_path(path, sizeof(path), quorvin_sysfs_dir(), number) < 0)
		return -1;
	const size_t used = strlen(path);
	if (snprintf(path + used, sizeof(path) - used, "/%s", which) >=
	    static_cast<int>(sizeof(path) - used)) {
		errno = ENAMETOOLONG;
		return -1;
	}
	const ssize_t len = readlink(path, target, sizeof(target) - 1);
	if (len < 0)
		return -1;
	target[len] = '\0';
	const char *slash = strrchr(target, '/');
	const char *base = slash != nullptr ? slash + 1 : target;
	if (strlen(base) >= size) {
		errno = ENAMETOOLONG;
		return -1;
	}
	strcpy(buf, base);
	return 0;
}

QUORVIN_API int pwm_chip_next_number(int after)
{
	const char *class_dir = quorvin_sysfs_dir();
	DIR *d = class_dir != nullptr ? opendir(class_dir) : nullptr;
	// No class folder (ENOENT) is a kernel without PWM: no chips either.
	if (d == nullptr)
		return -1;
	bool found = false;
	unsigned int next = 0;
	while (const struct dirent *e = readdir(d)) {
		unsigned int n = 0;
		if (parse_chip_name(e->d_name, &n) && n <= INT_MAX && static_cast<int>(n) > after &&
		    (!found || n < next)) {
			found = true;
			next = n;
		}
	}
	closedir(d);
	if (!found) {
		errno = ENOENT;
		return -1;
	}
	return static_cast<int>(next);
}
