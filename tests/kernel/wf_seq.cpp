// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Applies a sequence of waveforms to one channel through libquorvin, on one
// handle, and prints each call's answer: what the contract rows of the
// kernel suites compare.
//   wf-seq [-x] CHIP CHANNEL STEP...
// CHIP is a number or any name pwm_chip_open_by_name takes. -x takes the
// channel with pwm_chip_export_pwm (through sysfs, staying exported after
// the program ends), otherwise with pwm_chip_get_pwm. Each STEP prints one
// word, blank-separated:
//   PERIOD/DUTY/OFFSET  pwm_set_waveform: "ok", or the errno's name
//                       (EINVAL, EOPNOTSUPP, ...)
//   get                 pwm_get_waveform: "PERIOD/DUTY/OFFSET" or the errno's name
//   round=P/D/O         pwm_round_waveform: the answer or the errno's name
//   chip                "pwmchipN:DEVICE:DRIVER" ("-" for a name not shown)
//   wait=PATH           "waited", once PATH exists: the answers so far are
//                       written out first, and the channel is held meanwhile
// Exit status 0 once every step was tried, 1 if the chip or channel could
// not be had (the message on stderr), 2 for a malformed argument.
#include <quorvin.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

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

static void print_waveform(const pwm_waveform &wf)
{
	printf("%" PRIu64 "/%" PRIu64 "/%" PRIu64, wf.period_length_ns, wf.duty_length_ns, wf.duty_offset_ns);
}

// One step; false for a malformed one.
static bool step(pwm_chip *chip, pwm *ch, const char *arg)
{
	pwm_waveform wf{};
	if (strcmp(arg, "chip") == 0) {
		const char *device = pwm_chip_get_device_name(chip);
		const char *driver = pwm_chip_get_driver_name(chip);
		printf("pwmchip%u:%s:%s", pwm_chip_get_number(chip), device != nullptr ? device : "-",
		       driver != nullptr ? driver : "-");
	} else if (strcmp(arg, "get") == 0) {
		if (pwm_get_waveform(ch, &wf) == 0)
			print_waveform(wf);
		else
			printf("%s", errno_name(errno));
	} else if (strncmp(arg, "wait=", 5) == 0) {
		fflush(stdout);
		while (access(arg + 5, F_OK) != 0)
			usleep(10000);
		printf("waited");
	} else if (strncmp(arg, "round=", 6) == 0) {
		if (!parse_waveform(arg + 6, &wf))
			return false;
		if (pwm_round_waveform(ch, &wf) == 0)
			print_waveform(wf);
		else
			printf("%s", errno_name(errno));
	} else {
		if (!parse_waveform(arg, &wf))
			return false;
		printf("%s", pwm_set_waveform(ch, &wf) == 0 ? "ok" : errno_name(errno));
	}
	return true;
}

int main(int argc, char **argv)
{
	const bool exported = argc > 1 && strcmp(argv[1], "-x") == 0;
	if (exported) {
		--argc;
		++argv;
	}
	if (argc < 4) {
		fprintf(stderr, "usage: wf-seq [-x] CHIP CHANNEL STEP...\n");
		return 2;
	}
	const bool by_number = strspn(argv[1], "0123456789") == strlen(argv[1]);
	pwm_chip *chip = by_number
		? pwm_chip_open_by_number(static_cast<unsigned>(strtoul(argv[1], nullptr, 10)))
		: pwm_chip_open_by_name(argv[1]);
	if (chip == nullptr) {
		fprintf(stderr, "wf-seq: open: %s\n", strerror(errno));
		return 1;
	}
	const unsigned channel = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
	pwm *ch = exported ? pwm_chip_export_pwm(chip, channel) : pwm_chip_get_pwm(chip, channel);
	if (ch == nullptr) {
		fprintf(stderr, "wf-seq: channel: %s\n", strerror(errno));
		return 1;
	}
	for (int i = 3; i < argc; ++i) {
		if (i > 3)
			printf(" ");
		if (!step(chip, ch, argv[i])) {
			fprintf(stderr, "wf-seq: malformed step: %s\n", argv[i]);
			return 2;
		}
	}
	printf("\n");
	pwm_chip_close(chip);
	return 0;
}
