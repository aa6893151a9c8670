// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A model of a PWM chip behind the kernel's character device: the ioctls'
// rules (REQUEST, FREE, ROUNDWF, GETWF, SETROUNDEDWF, SETEXACTWF) over a
// driver whose quirks the fuzz input picks.
#ifndef QUORVIN_FUZZ_PWM_CDEV_MODEL_H
#define QUORVIN_FUZZ_PWM_CDEV_MODEL_H

#include "pwm_uapi.h"

#include <stdint.h>

enum offset_support { OFFSET_NONE, OFFSET_ANY, OFFSET_AT_END };

struct cdev_model {
	static constexpr unsigned int npwm = 2;
	// The driver: its clock tick, shortest and longest period (in ticks),
	// how it makes offsets, whether channel 1 runs at channel 0's period
	// while that runs, and whether an output switched off with an offset
	// keeps that polarity for the next waveform written (or, stuck, for
	// every one after).
	uint64_t tick;
	uint64_t min_ticks;
	uint64_t max_ticks;
	enum offset_support offsets;
	bool shared_period;
	bool sticky_polarity;
	bool polarity_stuck;
	// A running output told only a new offset keeps the old one until the
	// next write.
	bool offset_latched;

	int holder[npwm]; // the fd holding each channel, or -1
	struct pwmchip_waveform hw[npwm]; // what each channel runs
	bool stale_inversed[npwm];
	bool latched[npwm];
	int ioctls;
	// Run once, right after the next ROUNDWF: a sibling moving meanwhile.
	uint64_t sibling_period_after_round; // 0: nothing happens
};

extern struct cdev_model model;

// The nearest waveform at or below wf that the driver makes, or the smallest
// above where none is below: what the kernel's rounding gives.
struct pwmchip_waveform model_round(const struct pwmchip_waveform &wf);

// The ioctl on the model's chip for the open file fd.
int model_ioctl(int fd, unsigned long request, void *arg);

// Channel 0 switched on at period (off where 0) by another process. Where
// the channels share their period and channel 1 runs, it gets channel 1's.
void model_sibling(uint64_t period);

// The file fd is closed: its channels are free.
void model_close(int fd);

#endif
