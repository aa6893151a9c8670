/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/** libquorvin: apply waveforms to the channels of a Linux PWM chip.
 *
 * Every call reports failure through its result (NULL or -1) and errno;
 * nothing is printed. All times are nanoseconds, as the kernel counts them.
 * @file
 */
#ifndef QUORVIN_H
#define QUORVIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct pwm_chip;
struct pwm;
struct pwm_info;

/** One waveform of a channel. A period of 0 switches the output off. The
 * active part of each period starts duty_offset_ns after the period's start
 * and lasts duty_length_ns. */
struct pwm_waveform {
	uint64_t period_length_ns; /**< The period; 0 switches the output off. */
	uint64_t duty_length_ns; /**< How long the active part of each period lasts. */
	uint64_t duty_offset_ns; /**< When the active part starts, after the period's start. */
};

/** Opens chip N: through its character device /dev/pwmchipN where the
 * kernel gives the chip one (Linux 6.17 and later, drivers that describe
 * waveforms), through /sys/class/pwm/pwmchipN otherwise. NULL with errno on
 * failure (ENOENT for a chip that does not exist; through sysfs, ERANGE for
 * a channel count the kernel does not make, see pwm_chip_get_npwm, and
 * EISDIR or EINVAL where a file the kernel makes is a folder or something
 * else that is not a regular file, such as a FIFO). */
struct pwm_chip *pwm_chip_open_by_number(unsigned int chip);

/** Takes one channel of an open chip. The handle belongs to the chip and
 * lives until the chip is closed; so does the hold on the channel, which
 * also ends with the process. A channel has one holder at a time: a second
 * handle, in this process or another, gets EBUSY, as does a channel that a
 * kernel driver uses (an LED, a fan, a backlight). Through sysfs the channel
 * is exported if it is not yet and stays exported. On a chip with a device
 * node, a channel that was exported through sysfs is taken through sysfs.
 * What the output does once the hold ends depends on the path: see
 * pwm_chip_close.
 * NULL with errno on failure (EINVAL for a channel beyond the chip's count,
 * EBUSY as above, EACCES for a channel this user may not drive, ETIMEDOUT
 * when an exported channel never shows up). */
struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel);

/** Makes the channel emit *wf, whatever state it was found in, and leaves
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
 * - Through the device, a new period or offset (asked, or made anew by the
 *   kernel's rounding), or an output switched on, is read back from the
 *   hardware: a driver that does not run it after a second write gives
 *   EIO. A channel sharing the period that keeps changing it while the call
 *   checks gives EAGAIN.
 * - Through the device, on a driver that cannot read its hardware back
 *   (GETWF is EOPNOTSUPP): a waveform counts as made where the kernel's
 *   exact set (PWM_IOCTL_SETEXACTWF) took what its rounding answered, which
 *   is all the library goes by; one that no exact set takes is refused with
 *   EOPNOTSUPP before anything is written. A driver's own failure halfway
 *   through a write is put back as this handle last asked, which is not
 *   known before its first waveform.
 * - The kernel's or the driver's errno for anything else it refuses (some
 *   older drivers refuse a period beyond their range with EINVAL or ERANGE
 *   rather than round it).
 *
 * Through sysfs, rounding is the kernel's on chips with a device node and
 * the driver's own on older ones. There, where the debugfs listing shows
 * what the driver reads back from its hardware, a call that changes the
 * period, starts or stops the output is held to it too (the first call on a
 * channel just taken, or after a refusal, counts as starting it, and an
 * inversed waveform is held to it on every call): a period read back
 * longer than asked (also one shown for an output read back without an
 * active part), or an output read back stopped that should run, gives
 * EINVAL; a duty read back above the period, or an output read back running
 * that was switched off, EIO; each with the call put back. A start read back
 * without an active part confirms no period, so the call after it counts as
 * a start too.
 * Where the listing is not there to read (no root, no debugfs) or the
 * driver cannot read back, it is taken on its word.
 * On a chip without a device node, a waveform without an active part (duty
 * 0) whose duty or start the driver refuses with EINVAL (some refuse a duty
 * of 0 on a running output) is made by switching the output off, which is
 * the same signal; a period refused as it is written stays refused, but one
 * refused only at the start (as 6.12 and later do) cannot be told from the
 * duty there and is taken the same way, its period unconfirmed until the
 * next waveform, which starts the output checked.
 * A waveform that changes only the duty of the one before, without an
 * offset, costs one system call and is not read back: a sibling that takes
 * over a shared period during a sweep is not seen until the next call that
 * changes the period. Should the driver fail such a step through the device
 * node (its own errno, maybe halfway through its write), the waveform before
 * it is set again as it was asked, and the next call is checked in full. */
int pwm_set_waveform(struct pwm *pwm, const struct pwm_waveform *wf);

/** Releases the chip, its channel handles and its holds on the channels.
 * - A channel taken through the device node is freed, as it is when the
 *   process ends. The kernel does not switch its output off, but its driver
 *   may as it lets the channel go: some stop that channel's output, and a
 *   PCA9685 goes to sleep, stopping all of its outputs, once its last
 *   channel is freed. What runs afterwards is the driver's to say.
 * - A channel taken through sysfs stays exported, and so requested, after
 *   the close and after the process ends: no driver lets it go, and its
 *   output keeps its last waveform on every driver until someone unexports
 *   it.
 *
 * To leave a waveform running whatever the driver, take the channel with
 * pwm_chip_export_pwm. */
void pwm_chip_close(struct pwm_chip *chip);

/* Since LIBQUORVIN_0.2 ---------------------------------------------------- */

/** Opens the chip that name names, exactly as pwm_chip_open_by_number opens
 * its number. Chip numbers follow the order in which drivers bound, and move
 * between kernels and boots; the names that do not move are its parent's.
 * name may be, tried in this order:
 * - "pwmchipN", or the path of the chip's sysfs folder or of its device node
 *   (/sys/class/pwm/pwmchipN, /dev/pwmchipN, or a link to either);
 * - the name of its parent device (the last part of where
 *   /sys/class/pwm/pwmchipN/device points, such as "4ff00000.pwm");
 * - the parent's device-tree node path (OF_FULLNAME, such as "/pwm@4ff00000");
 * - a device-tree alias of the parent (OF_ALIAS_n, such as "pwm0").
 *
 * Where one parent has several chips, its names give the lowest-numbered
 * one; where a name is a parent's name of one chip and the node path or
 * alias of another, the order above decides. A device node named by its
 * path (or a link to it) must serve: where this user may not open it, or it
 * is not a PWM device, that is the answer (EACCES, ENOTTY), not sysfs.
 * NULL with errno: ENOENT where nothing matches, EINVAL for NULL or an empty
 * name, otherwise as pwm_chip_open_by_number. */
struct pwm_chip *pwm_chip_open_by_name(const char *name);

/** The lowest number of a chip above after (-1 for the lowest of all), so
 * that a program can visit every chip in number order:
 * @code
 *   for (int n = pwm_chip_next_number(-1); n >= 0; n = pwm_chip_next_number(n))
 * @endcode
 * -1 with errno: ENOENT after the last chip, or where there are none (also
 * on a kernel without PWM). */
int pwm_chip_next_number(int after);

/** @{ */
/** The chip's number (N of pwmchipN), and how many channels it has. A chip
 * has at least one: through sysfs the count is read when the chip is opened,
 * and a count of 0 or past 32 bits fails the open with ERANGE; on a chip
 * with a device node it is read from sysfs when first asked, and 0 comes
 * with errno where it cannot be read (ERANGE as above). */
unsigned int pwm_chip_get_number(const struct pwm_chip *chip);
unsigned int pwm_chip_get_npwm(const struct pwm_chip *chip);
/** @} */

/** @{ */
/** The name of the chip's parent device ("4ff00000.pwm") and of that device's
 * driver ("pwm-mediatek"), owned by the chip handle and valid until it is
 * closed; NULL where the kernel shows none. */
const char *pwm_chip_get_device_name(const struct pwm_chip *chip);
const char *pwm_chip_get_driver_name(const struct pwm_chip *chip);
/** @} */

/** Whether the library drives the chip through its device node (1) or
 * through sysfs (0). Opened by number or by any name but the node's own
 * path, a chip whose device node this user may not open (mode 0600 without
 * the project's udev rule) is driven through sysfs, and this says 0. */
int pwm_chip_has_device_node(const struct pwm_chip *chip);

/** The waveform the channel emits now, in the form pwm_set_waveform takes:
 * an output switched off is period 0, and so is any output without an
 * active part (duty 0, whatever the period: the same signal, which drivers
 * report each their own way, some at their shortest period); an inversed
 * polarity comes back as the offset that pwm_set_waveform turns into it. Through the device node
 * it is what the hardware runs (PWM_IOCTL_GETWF, in the kernel's rounding);
 * through sysfs it is what the kernel last accepted, read from the channel's
 * attributes, which is what was asked and not necessarily what the hardware
 * makes (pwm_get_hardware_waveform reads that). 0, or -1 with errno. */
int pwm_get_waveform(struct pwm *pwm, struct pwm_waveform *wf);

/** What the channel would make of *wf, written into *wf; no output changes.
 * Through the device node it is the kernel's answer (PWM_IOCTL_ROUNDWF),
 * also where it had to round up, which pwm_set_waveform would refuse. Through
 * sysfs the kernel cannot be asked: -1 with EOPNOTSUPP. 0, or -1 with errno
 * (EINVAL for a waveform pwm_set_waveform refuses before anything is
 * written). */
int pwm_round_waveform(const struct pwm *pwm, struct pwm_waveform *wf);

/** Who holds a channel. */
enum pwm_holder {
	PWM_HOLDER_NONE = 0, /**< free */
	PWM_HOLDER_SYSFS = 1, /**< exported through sysfs */
	PWM_HOLDER_DEVICE = 2, /**< requested through the device node, by any process */
	PWM_HOLDER_KERNEL = 3, /**< a kernel driver: an LED, a fan, a backlight */
	PWM_HOLDER_UNKNOWN = 4, /**< held, or maybe held, by someone the kernel does not name here */
};

/** What one channel of an open chip is doing, read without taking it: a
 * snapshot, freed with pwm_info_free. Nothing is written, exported or
 * requested on the way, not even for a moment, so a kernel driver that binds
 * meanwhile never finds its channel busy. A channel this handle holds is
 * described from its handle, one exported through sysfs from its
 * attributes; whether any other is free or held, by whom, and what it runs
 * come from the kernel's debugfs listing (/sys/kernel/debug/pwm, readable by
 * root): without it such a channel is PWM_HOLDER_UNKNOWN, with no waveform.
 * NULL with errno: EINVAL for a channel beyond the chip's count, ENODEV
 * where the chip went away (its parent device unbound) since it was
 * opened. */
struct pwm_info *pwm_chip_get_pwm_info(struct pwm_chip *chip, unsigned int channel);

/** Frees a snapshot; NULL is ignored. */
void pwm_info_free(struct pwm_info *info);

/** The channel's number. */
unsigned int pwm_info_get_channel(const struct pwm_info *info);

/** Who holds it: one of enum pwm_holder. */
int pwm_info_get_holder(const struct pwm_info *info);

/** The label the kernel shows for its holder (a kernel driver's consumer
 * name such as "led-1", "sysfs", "pwm-cdev (pid=N)"); NULL where none is
 * shown. Owned by the snapshot. */
const char *pwm_info_get_label(const struct pwm_info *info);

/** The channel's waveform, in pwm_get_waveform's form (an output without an
 * active part is period 0), where it can be read without taking anything:
 * from the handle that holds it here, from its sysfs attributes where it is
 * exported, else from debugfs's "actual configuration" (what the driver reads
 * back from its hardware). 0, or -1 with ENODATA where it could not be
 * read. */
int pwm_info_get_waveform(const struct pwm_info *info, struct pwm_waveform *wf);

/* Since LIBQUORVIN_0.3 ---------------------------------------------------- */

/** Takes one channel through sysfs, exporting it if it is not yet, also on a
 * chip with a device node, so that it stays requested after pwm_chip_close
 * and after the process ends: no driver's release runs, and the output keeps
 * the last waveform set on every driver, until someone writes the channel's
 * number to the chip's unexport. Otherwise as pwm_chip_get_pwm: one handle
 * per channel (a channel this handle already holds through sysfs comes back
 * as it is), one holder at a time, waveforms set and read back as through
 * sysfs (the kernel cannot be asked how it would round: see
 * pwm_round_waveform). NULL with errno on failure: EINVAL for a channel
 * beyond the chip's count; EBUSY for a channel held by another, or by this
 * handle through the device node; ENODEV where the chip went away; as
 * pwm_chip_get_pwm otherwise. */
struct pwm *pwm_chip_export_pwm(struct pwm_chip *chip, unsigned int channel);

/** Gives one channel back before its chip is closed, as pwm_chip_close gives
 * back all of them, and with the same effect on the output:
 * - taken through the device node, the channel is freed (PWM_IOCTL_FREE) and
 *   its driver's release runs: most drivers keep the last waveform, some
 *   stop the channel's output, and a PCA9685 sleeps, stopping all of its
 *   outputs, once its last channel is freed;
 * - taken through sysfs, it stays exported and keeps its waveform on every
 *   driver; only this handle's hold on it ends.
 *
 * The handle stays the chip's until pwm_chip_close, released: every call on
 * it fails with EBADF, so that a released channel is not driven by mistake,
 * until the channel is taken again (pwm_chip_get_pwm or pwm_chip_export_pwm
 * give this same handle back, held once more). NULL and a handle already
 * released are ignored; errno is kept. */
void pwm_release(struct pwm *pwm);

/** What the hardware runs on the channel now, as its driver reads it back, in
 * pwm_get_waveform's form. Through the device node it is pwm_get_waveform's
 * answer. Through sysfs, where pwm_get_waveform gives what the kernel
 * accepted, it is read from the kernel's debugfs listing
 * (/sys/kernel/debug/pwm, readable by root): its errno where the listing
 * cannot be read (EACCES for another user, ENOENT without debugfs). 0, or -1
 * with errno: ENODATA where the driver cannot read its hardware back or the
 * kernel does not show it; EBADF for a released handle. */
int pwm_get_hardware_waveform(struct pwm *pwm, struct pwm_waveform *wf);

#ifdef __cplusplus
}
#endif

#endif
