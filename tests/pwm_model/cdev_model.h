// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// A model of a PWM chip behind the kernel's character device: the ioctls'
// rules (REQUEST, FREE, ROUNDWF, GETWF, SETROUNDEDWF, SETEXACTWF) over a
// driver whose quirks its settings pick. The library's tests, its fuzz target
// and the preloadable shim that the tools' tests run the tools over all drive
// this one model. It is plain data, so that the shim can keep it in a file
// that a test writes before a tool runs and reads after.
#ifndef QUORVIN_TESTS_CDEV_MODEL_H
#define QUORVIN_TESTS_CDEV_MODEL_H

#include "pwm_uapi.h"

#include <stdint.h>

enum offset_support : uint8_t { OFFSET_NONE, OFFSET_ANY, OFFSET_AT_END };

// What a channel switched off with an offset (an inversed polarity) does
// with the next waveform written without one: runs it normal, runs it
// inversed once, or keeps inversing every one after.
enum polarity_memory : uint8_t { POLARITY_DROPPED, POLARITY_KEPT_ONCE, POLARITY_KEPT };

// What the driver does as a channel is freed (FREE, or its file closed):
// nothing, stops that channel's output, or, once no channel is requested,
// puts the chip to sleep, stopping every output.
enum release_effect : uint8_t { RELEASE_KEEPS, RELEASE_STOPS, RELEASE_SLEEPS };

struct cdev_model {
	static constexpr unsigned int max_npwm = 4;
	static constexpr int64_t nobody = -1;
	static constexpr int64_t sysfs = -2; // exported through sysfs

	// The driver: its channels, its clock tick, shortest and longest period
	// (in ticks), how it makes offsets and whether it rounds them up to a
	// tick (else down), the shortest duty of each channel (a shorter one,
	// even 0, is made that long), and what each does with an old polarity.
	uint32_t npwm;
	uint64_t tick;
	uint64_t min_ticks;
	uint64_t max_ticks;
	offset_support offsets;
	bool offset_rounds_up;
	uint64_t min_duty_ticks[max_npwm];
	polarity_memory polarity[max_npwm];
	// Channels on one counter: the follower runs at the leader's period
	// while the leader runs; where leader_yields, the leader also runs at
	// the follower's while that runs. -1: no shared period.
	int32_t period_leader;
	int32_t period_follower;
	bool leader_yields;
	// A running output told only a new offset keeps the old one until the
	// next write.
	bool offset_latched;
	// A period above the longest is refused (ERANGE), not rounded down.
	bool refuses_above_longest;
	// An output without an active part is switched off, and reads back at
	// the shortest period with duty 0, as some drivers' registers do.
	bool dark_reads_shortest;
	// The driver cannot read its hardware back: GETWF is EOPNOTSUPP.
	bool no_read_back;
	// Its rounding of its own answer comes out lower again (a duty already
	// on a tick loses one), as fixed-point drivers' does: an exact set of
	// what ROUNDWF answered is refused (EDOM) wherever the duty is not 0.
	bool rounds_answer_lower;
	release_effect on_release;

	// The chip: who holds each channel (an open file's id, nobody or sysfs),
	// what each runs, and the driver's memory.
	int64_t holder[max_npwm];
	struct pwmchip_waveform hw[max_npwm];
	bool stale_inversed[max_npwm];
	bool latched[max_npwm];
	int32_t ioctls;
	int32_t calls[8]; // by the request's number: calls[_IOC_NR(PWM_IOCTL_GETWF)]
	// Runs once, right after the next ROUNDWF: the leader switched on at
	// this period by another file, between a caller's check and its set.
	uint64_t sibling_period_after_round; // 0: nothing happens
	// The next this many sets of a running waveform fail halfway, as on a
	// driver that stops the output to write its registers and whose bus
	// fails between two of them: the output stopped, the new period
	// written, the rest not, and the answer EIO.
	uint8_t sets_failing_midway;
	// Channels a process still held as it exited, one bit each (the shim's).
	uint32_t held_at_exit;

	// The nearest waveform at or below wf that the driver makes, or the
	// smallest above where none is below: what the kernel's rounding gives.
	struct pwmchip_waveform round(const struct pwmchip_waveform &wf) const;
	// The ioctl on the chip for the open file whose id is file.
	int ioctl(int64_t file, unsigned long request, void *arg);
	// The file is closed: its channels are free.
	void close(int64_t file);
	// Channel c is let go by its holder; the driver does what on_release says.
	void release(uint32_t c);
	// The leader switched on at period (off where 0) by another file. Where
	// it yields and the follower runs, it gets the follower's.
	void leader_runs(uint64_t period);

private:
	int set(const struct pwmchip_waveform &wf, bool exact);
};

// A chip with no quirks yet: npwm channels, free and switched off, at tick
// ns from one tick up, no offsets, no shared period.
struct cdev_model plain_cdev_model(uint32_t npwm, uint64_t tick);

// Four channels counting in steps of 1000 ns from a shortest period of
// 1000 ns, acting as timers whose channels share one counter do: channel 3
// runs at channel 2's period while channel 2 runs; an offset is made only
// where the active part ends at the period's end (as an inversed polarity),
// rounded up to a step; channel 3 makes no duty below one step; a channel
// switched off with an offset keeps that polarity for the next waveform
// written (channel 1 for good).
struct cdev_model shared_counter_cdev_model();

#endif
