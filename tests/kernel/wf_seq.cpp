// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Applies a sequence of waveforms to one channel through libquorvin, on one
// handle, and prints each call's answer: what the contract rows of the
// kernel suites compare.
//   wf-seq CHIP CHANNEL PERIOD/DUTY/OFFSET...
// prints one word a waveform, blank-separated: "ok", or the errno's name
// (EINVAL, EOPNOTSUPP, ...). Exit status 0 once every waveform was tried,
// 1 if the chip or channel could not be had (the message on stderr),
// 2 for a malformed argument.
#include <quorvin.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char *errno_name(int err)
{
	switch (err) {
	case EINVAL:
		return "EINVAL";
	case EOPNOTSUPP:
		return "EOPNOTSUPP";
	case ERANGE:
		return "ERANGE";
	case EBUSY:
		return "EBUSY";
	case EIO:
		return "EIO";
	case ETIMEDOUT:
		return "ETIMEDOUT";
	case EDOM:
		return "EDOM";
	case EACCES:
		return "EACCES";
	case ENODEV:
		return "ENODEV";
	default:
		return "E?";
	}
}

// "PERIOD/DUTY/OFFSET", three decimals.
static bool parse_waveform(const char *text, pwm_waveform *wf)
{
	uint64_t *const fields[] = { &wf->period_length_ns, &wf->duty_length_ns, &wf->duty_offset_ns };
	const char *p = text;
	for (size_t i = 0; i < 3; ++i) {
		char *end = nullptr;
		errno = 0;
		*fields[i] = strtoull(p, &end, 10);
		if (end == p || errno != 0 || *end != (i < 2 ? '/' : '\0'))
			return false;
		p = end + 1;
	}
	return true;
}

int main(int argc, char **argv)
{
	if (argc < 4) {
		fprintf(stderr, "usage: wf-seq CHIP CHANNEL PERIOD/DUTY/OFFSET...\n");
		return 2;
	}
	pwm_chip *chip = pwm_chip_open_by_number(static_cast<unsigned>(strtoul(argv[1], nullptr, 10)));
	if (chip == nullptr) {
		fprintf(stderr, "wf-seq: open: %s\n", strerror(errno));
		return 1;
	}
	pwm *ch = pwm_chip_get_pwm(chip, static_cast<unsigned>(strtoul(argv[2], nullptr, 10)));
	if (ch == nullptr) {
		fprintf(stderr, "wf-seq: channel: %s\n", strerror(errno));
		return 1;
	}
	for (int i = 3; i < argc; ++i) {
		pwm_waveform wf{};
		if (!parse_waveform(argv[i], &wf)) {
			fprintf(stderr, "wf-seq: not PERIOD/DUTY/OFFSET: %s\n", argv[i]);
			return 2;
		}
		const int ret = pwm_set_waveform(ch, &wf);
		printf("%s%s", i > 3 ? " " : "", ret == 0 ? "ok" : errno_name(errno));
	}
	printf("\n");
	pwm_chip_close(chip);
	return 0;
}
