// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// One channel through the character device. The kernel rounds every
// waveform down to what the hardware makes and never says when it had to
// round up instead (SETROUNDEDWF answers 0 either way), so a waveform with a
// new period or an offset is first rounded with PWM_IOCTL_ROUNDWF, checked,
// and then set exactly as rounded: the kernel rounds again under the chip's
// lock and refuses (EDOM) if a channel sharing the period moved it in
// between. Where the period or offset changed, the hardware is read back and
// held to what the rounding promised. A step that changes only the duty of a
// waveform without an offset costs its one SETROUNDEDWF alone.
#include "chardev.h"

#include <quorvin.h>

#include "env_dirs.h"
#include "keep_errno.h"
#include "pwm_uapi.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A rounding that keeps moving between ROUNDWF and SETEXACTWF means a
// sibling channel keeps changing the shared period: give up after this many.
constexpr int max_round_tries = 4;

} // namespace

struct chardev_channel {
	int fd;
	unsigned int hwpwm;
	// The waveform last applied through this handle, as asked (the frame
	// a duty-only step is compared with) and as the kernel rounded it.
	// Valid only while applied is set.
	bool applied;
	struct pwmchip_waveform last;
	struct pwmchip_waveform made;
	// The driver cannot read its hardware back (GETWF is EOPNOTSUPP):
	// what an exact set took is all there is to go by.
	bool no_read_back;
};

int chardev_open(unsigned int chip)
{
	char path[PATH_MAX];
	if (chip_path(path, sizeof(path), quorvin_dev_dir(), chip) < 0)
		return -1;

	const int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd < 0)
		return -1;

	// Freeing a channel this file never requested changes nothing on a
	// PWM chip and fails (ENOTTY) on any other device, so it tells the two
	// apart without touching the hardware.
	struct stat st;
	if (fstat(fd, &st) < 0 || !S_ISCHR(st.st_mode) || ioctl(fd, PWM_IOCTL_FREE, 0UL) < 0) {
		close_keep_errno(fd);
		return -1;
	}
	return fd;
}

struct chardev_channel *chardev_channel_take(int fd, unsigned int channel)
{
	auto *ch = static_cast<struct chardev_channel *>(calloc(1, sizeof(struct chardev_channel)));
	if (ch == nullptr)
		return nullptr;
	if (ioctl(fd, PWM_IOCTL_REQUEST, static_cast<unsigned long>(channel)) < 0) {
		free_keep_errno(ch);
		return nullptr;
	}
	ch->fd = fd;
	ch->hwpwm = channel;
	return ch;
}

static bool same_waveform(const struct pwmchip_waveform &a, const struct pwmchip_waveform &b)
{
	return a.period_length_ns == b.period_length_ns && a.duty_length_ns == b.duty_length_ns &&
		a.duty_offset_ns == b.duty_offset_ns;
}

// Whether two waveforms drive the pin alike. Without an active part the
// period does not show: drivers read an output switched off back as period
// 0, or as their shortest period with duty 0.
static bool same_output(const struct pwmchip_waveform &a, const struct pwmchip_waveform &b)
{
	return (a.duty_length_ns == 0 && b.duty_length_ns == 0) || same_waveform(a, b);
}

// What the hardware would make (r) of the waveform asked (wf): the nearest at
// or below each value. Anything longer is refused, the period first, since
// a period the channel cannot have is the reason whatever else rounding did.
static int check_rounding(const struct pwmchip_waveform &wf, const struct pwmchip_waveform &r)
{
	if (r.period_length_ns > wf.period_length_ns) {
		errno = EINVAL;
		return -1;
	}
	// An offset only shows where there is an active part and an inactive one.
	const bool offset_shows = r.duty_length_ns != 0 && r.duty_length_ns < r.period_length_ns;
	if (wf.duty_offset_ns != 0 && r.duty_offset_ns == 0 && offset_shows) {
		errno = EOPNOTSUPP;
		return -1;
	}
	if (r.duty_length_ns > wf.duty_length_ns || r.duty_offset_ns > wf.duty_offset_ns) {
		errno = EINVAL;
		return -1;
	}
	return 0;
}

// What a call has written, and what the hardware ran just before its first
// write: what a failure puts back.
struct call_record {
	bool wrote;
	bool read_before;
	bool have_before;
	struct pwmchip_waveform before;
	// The write that took: what a driver that keeps part of its old
	// state is given a second time.
	unsigned long request;
	struct pwmchip_waveform written;
};

// Every write of a call goes through here, so that what ran before it is
// read once, right before the first.
static int write_waveform(struct chardev_channel *ch, struct call_record *rec, unsigned long request,
			  const struct pwmchip_waveform *wf)
{
	if (!rec->read_before && !ch->no_read_back) {
		rec->read_before = true;
		rec->before = {};
		rec->before.hwpwm = ch->hwpwm;
		rec->have_before = ioctl(ch->fd, PWM_IOCTL_GETWF, &rec->before) == 0;
		ch->no_read_back = !rec->have_before && errno == EOPNOTSUPP;
	}
	const int ret = ioctl(ch->fd, request, wf);
	// EDOM comes before any write; anything else may come from a driver
	// halfway through one.
	if (ret == 0 || errno != EDOM)
		rec->wrote = true;
	if (ret == 0) {
		rec->request = request;
		rec->written = *wf;
	}
	return ret;
}

// Rounds *wf, checks the rounding and sets exactly that; *made is what the
// hardware must now run.
static int round_and_set(struct chardev_channel *ch, const struct pwmchip_waveform *wf,
			 struct pwmchip_waveform *made, struct call_record *rec)
{
	if (wf->period_length_ns == 0) {
		*made = *wf;
		return write_waveform(ch, rec, PWM_IOCTL_SETROUNDEDWF, wf);
	}
	struct pwmchip_waveform previous = {};
	for (int tries = 1;; ++tries) {
		struct pwmchip_waveform r = *wf;
		if (ioctl(ch->fd, PWM_IOCTL_ROUNDWF, &r) < 0 || check_rounding(*wf, r) < 0)
			return -1;
		*made = r;
		if (write_waveform(ch, rec, PWM_IOCTL_SETEXACTWF, &r) == 0)
			return 0;
		if (errno != EDOM)
			return -1;
		// The same rounding twice, refused both times: this driver does
		// not round its own answer back to itself. Its rounding of the
		// waveform asked is the one just checked, which only a read-back
		// can confirm: without one, nothing is written.
		if (tries > 1 && same_waveform(r, previous)) {
			if (ch->no_read_back) {
				errno = EOPNOTSUPP;
				return -1;
			}
			return write_waveform(ch, rec, PWM_IOCTL_SETROUNDEDWF, wf);
		}
		if (tries == max_round_tries) {
			errno = EAGAIN;
			return -1;
		}
		previous = r;
	}
}

// Reads the hardware back until it runs *made. Some drivers keep part of the
// old state (a polarity) until the waveform is written a second time: it is
// written once more, and only then is a difference a failure.
static int hold_to(struct chardev_channel *ch, const struct pwmchip_waveform *made, struct call_record *rec)
{
	// A driver that cannot read back made exactly what its exact set took.
	if (ch->no_read_back)
		return 0;
	for (int pass = 0;; ++pass) {
		struct pwmchip_waveform got = {};
		got.hwpwm = ch->hwpwm;
		if (ioctl(ch->fd, PWM_IOCTL_GETWF, &got) < 0)
			return -1;
		if (same_output(got, *made))
			return 0;
		if (pass == 1) {
			errno = EIO;
			return -1;
		}
		const struct pwmchip_waveform again = rec->written;
		if (write_waveform(ch, rec, rec->request, &again) < 0)
			return -1;
	}
}

// Puts back what ran before a call that failed after it may have written,
// by writing *write: unchecked against what was asked, since a driver may
// make something else of it, so the next waveform is checked in full, not
// taken as a step. Where what ran is known (*expect), it is read back, and
// a driver that keeps part of its old state (an offset, a polarity) until
// it is written again gets it a second time. The call's errno stays.
__attribute__((cold, noinline)) static void put_back(struct chardev_channel *ch,
						     const struct pwmchip_waveform *write,
						     const struct pwmchip_waveform *expect)
{
	const int saved = errno;
	ch->applied = false;
	for (int pass = 0; pass < 2; ++pass) {
		struct pwmchip_waveform got = {};
		got.hwpwm = ch->hwpwm;
		if (ioctl(ch->fd, PWM_IOCTL_SETROUNDEDWF, write) < 0 || expect == nullptr ||
		    ioctl(ch->fd, PWM_IOCTL_GETWF, &got) < 0 || same_output(got, *expect))
			break;
	}
	errno = saved;
}

// What to write to put back *before, which the hardware ran: itself where
// the driver rounds it to itself; some drivers round what they report lower
// again, and what this handle asked last may still round to it.
__attribute__((cold, noinline)) static const struct pwmchip_waveform *put_back_form(
	struct chardev_channel *ch, const struct pwmchip_waveform *before)
{
	struct pwmchip_waveform r = *before;
	if (ioctl(ch->fd, PWM_IOCTL_ROUNDWF, &r) < 0 || same_waveform(r, *before) || !ch->applied)
		return before;
	r = ch->last;
	if (ioctl(ch->fd, PWM_IOCTL_ROUNDWF, &r) == 0 && same_waveform(r, *before))
		return &ch->last;
	return before;
}

// Any waveform but a duty-only step. Kept out of line so that the step below
// stays a short leaf.
__attribute__((noinline)) static int apply_checked(struct chardev_channel *ch,
						   const struct pwmchip_waveform *wf)
{
	const bool same_asked = ch->applied && wf->period_length_ns == ch->last.period_length_ns &&
		wf->duty_offset_ns == ch->last.duty_offset_ns;

	struct call_record rec = {};
	struct pwmchip_waveform made = {};
	if (round_and_set(ch, wf, &made, &rec) == 0) {
		// A new period or offset is read back, asked or made: whether an
		// offset is made can depend on the duty. An output last read back
		// without an active part showed neither.
		const bool new_frame = !same_asked || made.period_length_ns != ch->made.period_length_ns ||
			made.duty_offset_ns != ch->made.duty_offset_ns || ch->made.duty_length_ns == 0;
		if (!new_frame || hold_to(ch, &made, &rec) == 0) {
			ch->last = *wf;
			ch->made = made;
			ch->applied = true;
			return 0;
		}
	}
	// A refusal before any write leaves the channel as it was.
	if (!rec.wrote)
		return -1;
	if (rec.have_before)
		put_back(ch, put_back_form(ch, &rec.before), &rec.before);
	else if (ch->no_read_back && ch->applied)
		put_back(ch, &ch->last, nullptr);
	else
		ch->applied = false;
	return -1;
}

int chardev_channel_apply(struct chardev_channel *ch, const struct pwm_waveform *wf)
{
	const struct pwmchip_waveform kwf = {
		ch->hwpwm, 0, wf->period_length_ns, wf->duty_length_ns, wf->duty_offset_ns,
	};
	// A sweep's step: the period stays, and without an offset nothing that
	// was checked depends on the duty.
	if (ch->applied && wf->period_length_ns == ch->last.period_length_ns && wf->period_length_ns != 0 &&
	    wf->duty_offset_ns == 0 && ch->last.duty_offset_ns == 0) {
		if (ioctl(ch->fd, PWM_IOCTL_SETROUNDEDWF, &kwf) < 0) {
			// Maybe halfway through the driver's write: what ran
			// is what the last call asked, rounded as it was then.
			put_back(ch, &ch->last, nullptr);
			return -1;
		}
		ch->last.duty_length_ns = wf->duty_length_ns;
		return 0;
	}
	return apply_checked(ch, &kwf);
}

static void from_kernel(const struct pwmchip_waveform &k, struct pwm_waveform *wf)
{
	*wf = { k.period_length_ns, k.duty_length_ns, k.duty_offset_ns };
}

int chardev_channel_get(struct chardev_channel *ch, struct pwm_waveform *wf)
{
	struct pwmchip_waveform k = {};
	k.hwpwm = ch->hwpwm;
	if (ioctl(ch->fd, PWM_IOCTL_GETWF, &k) < 0)
		return -1;
	from_kernel(k, wf);
	return 0;
}

int chardev_channel_round(struct chardev_channel *ch, struct pwm_waveform *wf)
{
	struct pwmchip_waveform k = { ch->hwpwm, 0, wf->period_length_ns, wf->duty_length_ns,
				      wf->duty_offset_ns };
	if (ioctl(ch->fd, PWM_IOCTL_ROUNDWF, &k) < 0)
		return -1;
	from_kernel(k, wf);
	return 0;
}

void chardev_channel_release(struct chardev_channel *ch)
{
	free_keep_errno(ch);
}

void chardev_channel_free(struct chardev_channel *ch)
{
	const int saved = errno;
	// The kernel refuses only a channel this file does not hold, which a
	// record never is.
	ioctl(ch->fd, PWM_IOCTL_FREE, static_cast<unsigned long>(ch->hwpwm));
	free(ch);
	errno = saved;
}
