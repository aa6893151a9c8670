// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// One channel through sysfs: the attribute files, kept open, and the state
// the kernel last accepted, so that each waveform writes only what changes.
#include "sysfs_channel.h"

#include <quorvin.h>

#include "attr_io.h"
#include "debugfs.h"
#include "keep_errno.h"
#include "kernel_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

enum attr { ATTR_PERIOD, ATTR_DUTY, ATTR_ENABLE, ATTR_POLARITY, ATTR_COUNT };

const char *const attr_names[ATTR_COUNT] = { "period", "duty_cycle", "enable", "polarity" };

// How long a freshly exported channel may take to appear with usable
// permissions (udev may still be changing them), and how often to look.
// Handing them over took up to 0.9 s while udev replayed every device on an
// emulated board; a real one at boot may be slower still.
constexpr long export_wait_ns = 2000L * 1000 * 1000;
constexpr long export_poll_ns = 5L * 1000 * 1000;

} // namespace

// A channel as sysfs shows it.
struct sysfs_state {
	uint64_t period;
	uint64_t duty;
	uint64_t enable; // 0 or 1, as written
	bool inversed;
};

struct sysfs_channel {
	int fd[ATTR_COUNT];
	// The channel's folder, locked while this handle holds the channel.
	int dirfd;
	// The channel's state as the kernel last accepted it; valid only while
	// known is set. A refused write clears known, so the next waveform
	// starts by reading the state again instead of trusting a guess.
	bool known;
	struct sysfs_state st;
	// On a chip that describes waveforms the kernel turns an inversed
	// polarity into an offset, and the driver drops an offset it cannot
	// make without a word: such a waveform counts as made only where
	// debugfs shows the offset.
	bool waveform_chip;
	// The state was read, not set by a checked call: at take, after a
	// refusal, after a read-back. Nothing confirmed what it runs, so the
	// next waveform is checked as if it started the output.
	bool found;
	// The attribute whose write the kernel refused last; ATTR_COUNT for
	// none since the call began.
	enum attr refused;
	unsigned int chip;
	unsigned int channel;
};

static int read_state(struct sysfs_channel *ch)
{
	char polarity[16];
	uint64_t enable = 0;
	if (attr_read_u64(ch->fd[ATTR_PERIOD], &ch->st.period) < 0 ||
	    attr_read_u64(ch->fd[ATTR_DUTY], &ch->st.duty) < 0 ||
	    attr_read_u64(ch->fd[ATTR_ENABLE], &enable) < 0 ||
	    attr_read_line(ch->fd[ATTR_POLARITY], polarity, sizeof(polarity)) < 0)
		return -1;
	ch->st.enable = enable != 0 ? 1 : 0;
	ch->st.inversed = strcmp(polarity, "inversed") == 0;
	ch->known = true;
	ch->found = true;
	return 0;
}

// Writes v unless the kernel already holds it. After a refused write the
// state is unknown until it has been read again.
static int update_u64(struct sysfs_channel *ch, enum attr which, uint64_t *held, uint64_t v)
{
	if (*held == v)
		return 0;
	if (attr_write_u64(ch->fd[which], v) < 0) {
		ch->known = false;
		ch->refused = which;
		return -1;
	}
	*held = v;
	return 0;
}

static int set_period(struct sysfs_channel *ch, uint64_t period)
{
	return update_u64(ch, ATTR_PERIOD, &ch->st.period, period);
}

static int set_duty(struct sysfs_channel *ch, uint64_t duty)
{
	return update_u64(ch, ATTR_DUTY, &ch->st.duty, duty);
}

static int set_enabled(struct sysfs_channel *ch, bool enabled)
{
	return update_u64(ch, ATTR_ENABLE, &ch->st.enable, enabled ? 1 : 0);
}

static int set_inversed(struct sysfs_channel *ch, bool inversed)
{
	if (ch->st.inversed == inversed)
		return 0;
	const char *text = inversed ? "inversed\n" : "normal\n";
	if (attr_write_text(ch->fd[ATTR_POLARITY], text, strlen(text)) < 0) {
		ch->known = false;
		return -1;
	}
	ch->st.inversed = inversed;
	return 0;
}

// Takes the channel from its known state to want, writing only what
// differs, in an order the kernel accepts.
static int write_state(struct sysfs_channel *ch, const struct sysfs_state &want)
{
	// Many drivers refuse a polarity change on a running output, and a
	// state meant to be off goes in off: a disabled channel takes periods
	// a driver refuses to run (and on 6.12 and later, any state).
	if ((ch->st.inversed != want.inversed || want.enable == 0) && set_enabled(ch, false) < 0)
		return -1;

	// The kernel refuses any state with the duty above the period: when
	// the period shrinks below the present duty, the duty goes first.
	if (want.period >= ch->st.duty) {
		if (set_period(ch, want.period) < 0 || set_duty(ch, want.duty) < 0)
			return -1;
	} else {
		if (set_duty(ch, want.duty) < 0 || set_period(ch, want.period) < 0)
			return -1;
	}
	if (set_inversed(ch, want.inversed) < 0 || set_enabled(ch, want.enable != 0) < 0)
		return -1;
	return 0;
}

// After a refusal: back to the state before the call, as far as the kernel
// lets. The refusal's errno is the one the caller sees, and the next call
// starts from what the files say then.
static void restore_state(struct sysfs_channel *ch, const struct sysfs_state &before)
{
	const int saved = errno;
	// What the kernel refused is the call's, not the put-back's (6.1 takes
	// no period 0 back, as a fresh export shows it).
	const enum attr refused = ch->refused;
	if (ch->known || read_state(ch) == 0)
		(void)write_state(ch, before);
	ch->known = false;
	ch->refused = refused;
	errno = saved;
}

// What the call asks debugfs to confirm, where it shows the hardware.
struct made_checks {
	bool offset; // the offset of an inversed waveform
	bool period; // a period of a legacy driver's own rounding
	bool off; // an output switched off, or found off
};

// Whether the hardware runs what was just set, by debugfs's read-back. An
// offset counts as dropped where there is an active and an inactive part and
// no offset. A legacy driver rounds as it likes: its read-back must show the
// output running (unless the duty is 0, which some run as off), at a period
// no longer than asked, with a duty inside it; a period is compared also
// where the output shows no active part (pwm-sifive reads duty 0 back as
// disabled, at the longer period it runs). Where debugfs cannot tell: an
// offset fails on a chip that describes waveforms, whose drivers are known
// to drop it; everything else is taken on the driver's word. *dark says
// whether the read-back showed no active part.
static int check_made(const struct sysfs_channel *ch, const struct sysfs_state &want,
		      struct made_checks checks, bool *dark)
{
	struct pwm_waveform hw;
	uint64_t shown_period = 0;
	if (debugfs_actual(ch->chip, ch->channel, &hw, &shown_period) < 0) {
		if (!(checks.offset && ch->waveform_chip))
			return 0;
		errno = EOPNOTSUPP;
		return -1;
	}
	if (checks.period) {
		const bool active = want.inversed ? want.duty < want.period : want.duty != 0;
		// The period shown is the read-back's own, also where that has
		// no active part and so gives period 0.
		if ((hw.period_length_ns == 0 && active) || shown_period > want.period) {
			errno = EINVAL;
			return -1;
		}
		*dark = hw.duty_length_ns == 0;
		if (hw.duty_length_ns > hw.period_length_ns) {
			errno = EIO;
			return -1;
		}
	}
	if (checks.offset && hw.duty_offset_ns == 0 && hw.duty_length_ns != 0 &&
	    hw.duty_length_ns < hw.period_length_ns) {
		errno = EOPNOTSUPP;
		return -1;
	}
	// A driver whose enable failed halfway may leave the hardware running
	// while sysfs says off; sysfs then has no write left to stop it.
	if (checks.off && hw.period_length_ns != 0 && hw.duty_length_ns != 0) {
		errno = EIO;
		return -1;
	}
	return 0;
}

// Any change of state, in an order the kernel accepts; a refused call puts
// back what it changed. Kept out of line so that a sweep's step below stays
// a short leaf.
__attribute__((noinline)) static int apply_state(struct sysfs_channel *ch, const struct pwm_waveform *wf)
{
	const uint64_t period = wf->period_length_ns;
	if (!ch->known && read_state(ch) < 0)
		return -1;

	struct sysfs_state want = ch->st;
	want.enable = 0;
	if (period != 0) {
		// sysfs knows only duty and polarity. An active part that ends
		// exactly at the period's end is the inverse of one that starts
		// at its start.
		want = { period, wf->duty_length_ns, 1, false };
		if (wf->duty_offset_ns != 0) {
			if (wf->duty_offset_ns != period - wf->duty_length_ns) {
				errno = EOPNOTSUPP;
				return -1;
			}
			want.duty = wf->duty_offset_ns;
			want.inversed = true;
		}
	}

	// An inversed waveform is checked every time: whether a driver drops
	// the offset can depend on the duty. A legacy driver's rounding is
	// checked where the period changes or the output starts (after a
	// polarity change too, and on a channel found running: nothing checked
	// what it runs); on the others the kernel refuses to round up itself.
	const bool starts = want.enable != 0 &&
		(ch->st.enable == 0 || want.period != ch->st.period || want.inversed != ch->st.inversed ||
		 ch->found);
	const struct made_checks checks = {
		want.enable != 0 && want.inversed,
		starts && !ch->waveform_chip,
		want.enable == 0,
	};
	struct pwm_waveform unused;
	if (checks.offset && ch->waveform_chip &&
	    debugfs_actual(ch->chip, ch->channel, &unused, nullptr) < 0) {
		errno = EOPNOTSUPP;
		return -1;
	}

	// A start read back with no active part confirms no period: the next
	// waveform is checked in full rather than taken as a duty-only step.
	bool dark = false;
	const struct sysfs_state before = ch->st;
	if (write_state(ch, want) == 0 &&
	    (!(checks.offset || checks.period || checks.off) || check_made(ch, want, checks, &dark) == 0)) {
		ch->found = dark;
		return 0;
	}
	restore_state(ch, before);
	return -1;
}

// Some legacy drivers refuse a duty of 0 where the output runs (pwm-rcar a
// count of 0, pwm-spear a duty below its shortest). Without an active part
// the output is what switching it off makes: where the kernel refused such a
// waveform's duty or start, the output is switched off instead. A period
// refused as it is written stays refused; one a driver refuses only at the
// start (any, on 6.12 and later) cannot be told from a refused duty there,
// and goes the same way: the output is dark either way, and whatever comes
// next starts it afresh, checked. On a chip that describes waveforms the
// core takes a duty of 0 itself, so any refusal there stands.
static bool make_dark_as_off(const struct sysfs_channel *ch, const struct pwm_waveform *wf)
{
	return errno == EINVAL && !ch->waveform_chip && wf->period_length_ns != 0 &&
		wf->duty_length_ns == 0 && (ch->refused == ATTR_DUTY || ch->refused == ATTR_ENABLE);
}

int sysfs_channel_apply(struct sysfs_channel *ch, const struct pwm_waveform *wf)
{
	// A sweep's step on a running output: the duty is all that changes.
	const uint64_t period = wf->period_length_ns;
	ch->refused = ATTR_COUNT;
	const int ret = ch->known && !ch->found && ch->st.enable == 1 && !ch->st.inversed &&
			period == ch->st.period && period != 0 && wf->duty_offset_ns == 0
		? set_duty(ch, wf->duty_length_ns)
		: apply_state(ch, wf);
	if (ret == 0 || !make_dark_as_off(ch, wf))
		return ret;
	const struct pwm_waveform off = {};
	if (apply_state(ch, &off) == 0)
		return 0;
	errno = EINVAL;
	return -1;
}

// The waveform a sysfs state emits, as pwm_set_waveform takes it.
static void state_to_waveform(const struct sysfs_state &st, struct pwm_waveform *wf)
{
	if (st.enable == 0 || st.period == 0)
		*wf = { 0, 0, 0 };
	else if (st.inversed && st.duty < st.period)
		*wf = { st.period, st.period - st.duty, st.duty };
	else if (st.inversed)
		*wf = { st.period, 0, 0 };
	else
		*wf = { st.period, st.duty, 0 };
}

int sysfs_channel_get(struct sysfs_channel *ch, struct pwm_waveform *wf)
{
	// Read afresh: root may have written the attributes meanwhile. What
	// this handle set and found unchanged stays confirmed.
	const struct sysfs_state was = ch->st;
	const bool confirmed = ch->known && !ch->found;
	if (read_state(ch) < 0)
		return -1;
	if (confirmed && was.period == ch->st.period && was.duty == ch->st.duty &&
	    was.enable == ch->st.enable && was.inversed == ch->st.inversed)
		ch->found = false;
	state_to_waveform(ch->st, wf);
	return 0;
}

int sysfs_channel_get_hardware(const struct sysfs_channel *ch, struct pwm_waveform *wf)
{
	return debugfs_actual(ch->chip, ch->channel, wf, nullptr);
}

int sysfs_channel_peek(int chip_dirfd, const char *dir, struct pwm_waveform *wf)
{
	struct sysfs_channel ch = {};
	for (int &fd : ch.fd)
		fd = -1;
	int ret = 0;
	for (int i = 0; i < ATTR_COUNT && ret == 0; ++i) {
		char path[sysfs_channel_dir_size + 16];
		snprintf(path, sizeof(path), "%s/%s", dir, attr_names[i]);
		ch.fd[i] = kernel_file_open(chip_dirfd, path, O_RDONLY);
		ret = ch.fd[i] < 0 ? -1 : 0;
	}
	if (ret == 0 && read_state(&ch) == 0)
		state_to_waveform(ch.st, wf);
	else
		ret = -1;
	for (int fd : ch.fd) {
		if (fd >= 0)
			close_keep_errno(fd);
	}
	return ret;
}

int sysfs_channel_dir(int chip_dirfd, unsigned int chip, unsigned int channel, char *dir, size_t size)
{
	snprintf(dir, size, "pwm%u", channel);
	struct stat st;
	if (fstatat(chip_dirfd, dir, &st, 0) < 0) {
		if (errno != ENOENT)
			return -1;
		snprintf(dir, size, "pwm-%u:%u", chip, channel);
		if (fstatat(chip_dirfd, dir, &st, 0) < 0)
			return -1;
	}
	if (!S_ISDIR(st.st_mode)) {
		errno = ENOTDIR;
		return -1;
	}
	return 0;
}

int sysfs_channel_exported(int chip_dirfd, unsigned int chip, unsigned int channel)
{
	char dir[sysfs_channel_dir_size];
	return sysfs_channel_dir(chip_dirfd, chip, channel, dir, sizeof(dir));
}

static int export_channel(int chip_dirfd, unsigned int chip, unsigned int channel)
{
	const int fd = kernel_file_open(chip_dirfd, "export", O_WRONLY);
	if (fd < 0)
		return -1;
	char text[16];
	const int len = snprintf(text, sizeof(text), "%u\n", channel);
	const ssize_t n = write(fd, text, static_cast<size_t>(len));
	close_keep_errno(fd);
	if (n >= 0)
		return 0;
	// EBUSY with the channel's folder in place: someone else exported it
	// meanwhile, which is as good. Without it, a kernel driver (a fan, a
	// backlight, an LED) holds the channel, and no wait will change that.
	if (errno != EBUSY)
		return -1;
	if (sysfs_channel_exported(chip_dirfd, chip, channel) == 0)
		return 0;
	errno = EBUSY;
	return -1;
}

static long long now_ns()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Opens one attribute of the channel for reading and writing. Right after an
// export the attribute may be missing for a moment, and udev may still be
// giving it its group: both are waited for until the deadline. A channel
// that never appears gives ETIMEDOUT; one that stays unwritable, EACCES.
static int open_attr_waiting(int chip_dirfd, const char *path, bool exported, long long deadline)
{
	for (;;) {
		const int fd = kernel_file_open(chip_dirfd, path, O_RDWR);
		if (fd >= 0)
			return fd;
		const bool denied = errno == EACCES || errno == EPERM;
		if (errno != ENOENT && !(denied && exported))
			return -1;
		if (now_ns() >= deadline) {
			if (!denied)
				errno = ETIMEDOUT;
			return -1;
		}
		const struct timespec pause = { 0, export_poll_ns };
		nanosleep(&pause, nullptr);
	}
}

// Waits for the folder of a channel just exported, under either name.
static int wait_channel_dir(int chip_dirfd, unsigned int chip, unsigned int channel, char *dir, size_t size,
			    long long deadline)
{
	for (;;) {
		if (sysfs_channel_dir(chip_dirfd, chip, channel, dir, size) == 0)
			return 0;
		if (errno != ENOENT)
			return -1;
		if (now_ns() >= deadline) {
			errno = ETIMEDOUT;
			return -1;
		}
		const struct timespec pause = { 0, export_poll_ns };
		nanosleep(&pause, nullptr);
	}
}

struct sysfs_channel *sysfs_channel_take(int chip_dirfd, unsigned int chip, unsigned int channel)
{
	char dir[sysfs_channel_dir_size];
	const bool exporting = sysfs_channel_dir(chip_dirfd, chip, channel, dir, sizeof(dir)) < 0;
	if (exporting && (errno != ENOENT || export_channel(chip_dirfd, chip, channel) < 0))
		return nullptr;

	auto *ch = static_cast<struct sysfs_channel *>(malloc(sizeof(struct sysfs_channel)));
	if (ch == nullptr)
		return nullptr;
	*ch = {};
	for (int &fd : ch->fd)
		fd = -1;
	ch->dirfd = -1;
	ch->chip = chip;
	ch->channel = channel;
	// Only a chip that describes waveforms has a device node, and so a dev
	// attribute.
	ch->waveform_chip = faccessat(chip_dirfd, "dev", F_OK, 0) == 0;

	const long long deadline = now_ns() + export_wait_ns;
	if (exporting && wait_channel_dir(chip_dirfd, chip, channel, dir, sizeof(dir), deadline) < 0) {
		sysfs_channel_release(ch);
		return nullptr;
	}
	for (int i = 0; i < ATTR_COUNT; ++i) {
		char path[sysfs_channel_dir_size + 16];
		snprintf(path, sizeof(path), "%s/%s", dir, attr_names[i]);
		ch->fd[i] = open_attr_waiting(chip_dirfd, path, exporting, deadline);
		if (ch->fd[i] < 0) {
			sysfs_channel_release(ch);
			return nullptr;
		}
	}

	// One holder at a time, as the character device keeps it: the lock
	// goes with the open folder, so closing the chip or ending the process
	// releases it, and the channel stays exported.
	ch->dirfd = openat(chip_dirfd, dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (ch->dirfd < 0 || flock(ch->dirfd, LOCK_EX | LOCK_NB) < 0) {
		if (errno == EWOULDBLOCK)
			errno = EBUSY;
		sysfs_channel_release(ch);
		return nullptr;
	}

	if (read_state(ch) < 0) {
		sysfs_channel_release(ch);
		return nullptr;
	}
	return ch;
}

void sysfs_channel_release(struct sysfs_channel *ch)
{
	const int saved = errno;
	for (int fd : ch->fd) {
		if (fd >= 0)
			close(fd);
	}
	if (ch->dirfd >= 0)
		close(ch->dirfd);
	free(ch);
	errno = saved;
}
