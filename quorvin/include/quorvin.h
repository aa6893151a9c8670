/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/* libquorvin: apply waveforms to the channels of a Linux PWM chip.
 *
 * Every call reports failure through its result (NULL or -1) and errno;
 * nothing is printed. All times are nanoseconds, as the kernel counts them.
 */
#ifndef QUORVIN_H
#define QUORVIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct pwm_chip;
struct pwm;

/* One waveform of a channel. A period of 0 switches the output off. The
 * active part of each period starts duty_offset_ns after the period's start
 * and lasts duty_length_ns. */
struct pwm_waveform {
	uint64_t period_length_ns;
	uint64_t duty_length_ns;
	uint64_t duty_offset_ns;
};

/* Opens chip N: through its character device /dev/pwmchipN where the
 * kernel gives the chip one (Linux 6.13 and later, drivers that describe
 * waveforms), through /sys/class/pwm/pwmchipN otherwise. NULL with errno on
 * failure (ENOENT for a chip that does not exist). */
struct pwm_chip *pwm_chip_open_by_number(unsigned int chip);

/* Takes one channel of an open chip. The handle belongs to the chip and
 * lives until the chip is closed; so does the hold on the channel, which
 * also ends with the process. A channel has one holder at a time: a second
 * handle, in this process or another, gets EBUSY, as does a channel that a
 * kernel driver uses (an LED, a fan, a backlight). Through sysfs the channel
 * is exported if it is not yet and stays exported. On a chip with a device
 * node, a channel that was exported through sysfs is taken through sysfs.
 * NULL with errno on failure (EINVAL for a channel beyond the chip's count,
 * EBUSY as above, EACCES for a channel this user may not drive, ETIMEDOUT
 * when an exported channel never shows up). */
struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel);

/* Makes the channel emit *wf, whatever state it was found in, and leaves
 * *wf as it is. Returns 0 on success, -1 with errno on failure; the same on
 * either path. 0 means the hardware runs the waveform, as far as the kernel
 * can tell (see the last point):
 * - The hardware makes the nearest waveform at or below the one asked: the
 *   kernel rounds the period down to one the channel can make, then the duty
 *   and the offset. So a duty between two of the hardware's steps gives the
 *   lower one, and a period above the longest gives the longest (through
 *   sysfs, a driver of its own rounding may refuse it instead: see below).
 * - A period of 0 (with duty and offset 0) switches the output off.
 * - A refused call leaves the output as it was: whatever it had written
 *   before the refusal is put back, as far as the kernel lets it.
 * - EINVAL: a duty above the period, a nonzero offset not below the period,
 *   a period above 2^63 - 1 (all before anything is written); a nonzero
 *   period the channel can only make longer than asked: below its shortest,
 *   or held at a longer one by a channel that shares it (a channel that
 *   shares a shorter period gets that one, as rounding down); through the
 *   device, a duty or offset the hardware would make longer than asked.
 * - EOPNOTSUPP: a nonzero offset the channel cannot make with this duty.
 *   Through sysfs that is any offset except the one that ends the active
 *   part at the period's end (made as inversed polarity), and also that one
 *   where the driver is seen to drop it. The kernel turns a polarity into an
 *   offset on chips with a device node, and their drivers may drop it
 *   without a word: there it counts as made only where the kernel's debugfs
 *   listing (/sys/kernel/debug/pwm, readable by root) shows the hardware
 *   running it, and is refused where that cannot be read. On other chips it
 *   is refused where that listing shows it dropped, and taken on the
 *   driver's word where the listing is not there to read.
 * - Through the device, a new period or offset, or an output switched on, is
 *   read back from the hardware: a driver that does not run it after a
 *   second write gives EIO. A channel sharing the period that keeps changing
 *   it while the call checks gives EAGAIN.
 * - The kernel's or the driver's errno for anything else it refuses (some
 *   older drivers refuse a period beyond their range with EINVAL or ERANGE
 *   rather than round it).
 * Through sysfs, rounding is the kernel's on chips with a device node and
 * the driver's own on older ones, and a driver that cannot read its
 * hardware back is taken on its word. A waveform that changes only the
 * duty of the one before, without an offset, costs one system call and is
 * not read back: a sibling that takes over a shared period during a sweep
 * is not seen until the next call that changes the period. */
int pwm_set_waveform(struct pwm *pwm, struct pwm_waveform *wf);

/* Releases the chip, its channel handles and its holds on the channels. The
 * outputs keep their last waveform, and channels exported through sysfs stay
 * exported. */
void pwm_chip_close(struct pwm_chip *chip);

#ifdef __cplusplus
}
#endif

#endif
