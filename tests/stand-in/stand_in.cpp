// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A stand-in for libquorvin, with the same soname and symbol version, that
// drives no hardware: it logs each call with its arguments, one line each,
// to the file named by QUORVIN_STAND_IN_LOG, and misbehaves on request:
//   QUORVIN_STAND_IN_FAIL=CALL:N:ERRNO   the Nth call of CALL (open, get or
//                                        set) fails with that errno
//   QUORVIN_STAND_IN_RESULT=R            successful sets return R where
//                                        R >= 0, failing ones where R < 0
//   QUORVIN_STAND_IN_DUTY=N:D            the Nth set leaves duty D in the
//                                        caller's record, as the first
//                                        version's prototype allowed
// For pwm-detect and pwm-info it is one chip, pwmchip0, of three channels,
// each free and switched off, driven through sysfs, its parent and driver
// not shown; "npwm" and "info" in QUORVIN_STAND_IN_FAIL name
// pwm_chip_get_npwm (which then gives 0) and pwm_chip_get_pwm_info.
#include <quorvin.h>

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct pwm_chip {
	int unused;
};
struct pwm {
	int unused;
};
struct pwm_info {
	unsigned int channel;
};

namespace {

pwm_chip the_chip;
pwm the_pwm;
FILE *log_file;
unsigned long calls_open, calls_get, calls_set, calls_npwm, calls_info;

void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void log_line(const char *fmt, ...)
{
	if (log_file == nullptr) {
		const char *path = getenv("QUORVIN_STAND_IN_LOG");
		if (path == nullptr || (log_file = fopen(path, "a")) == nullptr)
			return;
	}
	va_list ap;
	va_start(ap, fmt);
	vfprintf(log_file, fmt, ap);
	va_end(ap);
	fputc('\n', log_file);
}

// True, with errno set, when QUORVIN_STAND_IN_FAIL names this call.
bool should_fail(const char *call, unsigned long nth)
{
	const char *setting = getenv("QUORVIN_STAND_IN_FAIL");
	const size_t len = strlen(call);
	if (setting == nullptr || strncmp(setting, call, len) != 0 || setting[len] != ':')
		return false;
	char *end = nullptr;
	if (strtoul(setting + len + 1, &end, 10) != nth || *end != ':')
		return false;
	errno = static_cast<int>(strtol(end + 1, nullptr, 10));
	return true;
}

} // namespace

extern "C" struct pwm_chip *pwm_chip_open_by_number(unsigned int chip)
{
	log_line("open %u", chip);
	return should_fail("open", ++calls_open) ? nullptr : &the_chip;
}

extern "C" struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel)
{
	log_line("get%s %u", chip == &the_chip ? "" : " bad-chip", channel);
	return should_fail("get", ++calls_get) ? nullptr : &the_pwm;
}

extern "C" int pwm_set_waveform(struct pwm *pwm, const struct pwm_waveform *wf)
{
	log_line("set%s %llu %llu %llu", pwm == &the_pwm ? "" : " bad-pwm",
		 static_cast<unsigned long long>(wf->period_length_ns),
		 static_cast<unsigned long long>(wf->duty_length_ns),
		 static_cast<unsigned long long>(wf->duty_offset_ns));
	const char *result = getenv("QUORVIN_STAND_IN_RESULT");
	const int value = result != nullptr ? static_cast<int>(strtol(result, nullptr, 10)) : 0;
	const unsigned long nth = ++calls_set;
	if (should_fail("set", nth))
		return value < 0 ? value : -1;

	const char *rewrite = getenv("QUORVIN_STAND_IN_DUTY");
	char *end = nullptr;
	if (rewrite != nullptr && strtoul(rewrite, &end, 10) == nth && *end == ':')
		const_cast<struct pwm_waveform *>(wf)->duty_length_ns = strtoull(end + 1, nullptr, 10);
	return value < 0 ? 0 : value;
}

extern "C" void pwm_chip_close(struct pwm_chip *chip)
{
	log_line("close%s", chip == &the_chip ? "" : " bad-chip");
	if (log_file != nullptr)
		fflush(log_file);
}

extern "C" int pwm_chip_next_number(int after)
{
	if (after < 0)
		return 0;
	errno = ENOENT;
	return -1;
}

extern "C" struct pwm_chip *pwm_chip_open_by_name(const char *name)
{
	log_line("open %s", name);
	return should_fail("open", ++calls_open) ? nullptr : &the_chip;
}

extern "C" unsigned int pwm_chip_get_number(const struct pwm_chip * /*chip*/)
{
	return 0;
}

extern "C" unsigned int pwm_chip_get_npwm(const struct pwm_chip * /*chip*/)
{
	return should_fail("npwm", ++calls_npwm) ? 0 : 3;
}

extern "C" const char *pwm_chip_get_device_name(const struct pwm_chip * /*chip*/)
{
	return nullptr;
}

extern "C" const char *pwm_chip_get_driver_name(const struct pwm_chip * /*chip*/)
{
	return nullptr;
}

extern "C" int pwm_chip_has_device_node(const struct pwm_chip * /*chip*/)
{
	return 0;
}

extern "C" struct pwm_info *pwm_chip_get_pwm_info(struct pwm_chip *chip, unsigned int channel)
{
	log_line("info%s %u", chip == &the_chip ? "" : " bad-chip", channel);
	if (should_fail("info", ++calls_info))
		return nullptr;
	auto *info = static_cast<struct pwm_info *>(malloc(sizeof(struct pwm_info)));
	if (info != nullptr)
		info->channel = channel;
	return info;
}

extern "C" void pwm_info_free(struct pwm_info *info)
{
	free(info);
}

extern "C" int pwm_info_get_holder(const struct pwm_info * /*info*/)
{
	return PWM_HOLDER_NONE;
}

extern "C" const char *pwm_info_get_label(const struct pwm_info * /*info*/)
{
	return nullptr;
}

extern "C" int pwm_info_get_waveform(const struct pwm_info * /*info*/, struct pwm_waveform *wf)
{
	*wf = {};
	return 0;
}

extern "C" int pwm_round_waveform(const struct pwm * /*pwm*/, struct pwm_waveform * /*wf*/)
{
	errno = EOPNOTSUPP;
	return -1;
}
