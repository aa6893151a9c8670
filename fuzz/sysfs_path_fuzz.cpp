// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The library's sysfs path against a model of the kernel's sysfs rules
// (pwm_sysfs_model.cpp), linked in place of the attribute file layer and the
// debugfs reader, on a kernel, driver and start state the input picks and
// through a sequence of waveforms, duty-only steps, reads, roundings and
// writes the driver refuses halfway. Held to the header's words: a success
// means the model runs what was asked, in the driver's rounding, and no
// write was refused on the way; a refusal leaves the channel as it was, with
// a documented errno, and comes only where the waveform cannot be made or a
// write was refused; a duty-only step costs one write and no read; describing
// the channels writes nothing and tells each holder and waveform right.
#include "attr_io.h"
#include "debugfs.h"
#include "fuzz_input.h"
#include "pwm_sysfs_model.h"

#include <quorvin.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

const char *const attr_names[SYSFS_ATTRS] = { "period", "duty_cycle", "enable", "polarity" };

// The channel's attribute files of both made-up chips, by inode.
ino_t attr_inode[2][SYSFS_ATTRS];

enum sysfs_attr model_attr(int fd)
{
	struct stat st;
	if (fstat(fd, &st) < 0)
		abort();
	for (auto &chip : attr_inode) {
		for (int a = 0; a < SYSFS_ATTRS; ++a) {
			if (chip[a] == st.st_ino)
				return static_cast<enum sysfs_attr>(a);
		}
	}
	abort(); // the channel code reached a file it has no business with
}

bool same_attrs(const sysfs_attrs &a, const sysfs_attrs &b)
{
	return a.period == b.period && a.duty == b.duty && a.enabled == b.enabled && a.inversed == b.inversed;
}

// A broken promise: what and where, for the log beside the reproducer.
sysfs_attrs attrs_before;
pwm_waveform hw_before;

unsigned long long ull(uint64_t v)
{
	return static_cast<unsigned long long>(v);
}

void print_channel(const char *label, const sysfs_attrs &a, const pwm_waveform &hw)
{
	fprintf(stderr, "  %s: attrs %llu %llu %d %s; hardware %llu/%llu/%llu\n", label, ull(a.period),
		ull(a.duty), a.enabled ? 1 : 0, a.inversed ? "inversed" : "normal", ull(hw.period_length_ns),
		ull(hw.duty_length_ns), ull(hw.duty_offset_ns));
}

void print_call(const pwm_waveform &wf, int ret, int err)
{
	fprintf(stderr, "  set %llu/%llu/%llu: %d (%s)\n", ull(wf.period_length_ns), ull(wf.duty_length_ns),
		ull(wf.duty_offset_ns), ret, strerror(err));
}

// A broken promise: what and where, for the log beside the reproducer. With
// SYSFS_FUZZ_TRACE set, each call of the input is shown before it.
[[noreturn]] void broken(const char *why, const pwm_waveform &wf, int ret, int err)
{
	const sysfs_model &m = smodel;
	fprintf(stderr,
		"sysfs path: %s\n  kernel %s, %s driver, tick %llu, periods %llu..%llu, debugfs %s%s%s%s\n",
		why, m.lenient_while_disabled ? "6.12+" : "6.1", m.waveform_driver ? "waveform" : "legacy",
		ull(m.tick), ull(m.min_period), ull(m.max_period),
		m.debugfs_readable ? "readable" : "not readable",
		m.short_period_raised ? ", short periods raised" : "",
		m.refuses_duty_zero ? ", duty 0 refused" : "",
		m.dark_reads_disabled ? ", dark shown disabled" : "");
	print_channel("before", attrs_before, hw_before);
	print_call(wf, ret, err);
	print_channel("after", m.attrs, m.hw);
	abort();
}

void make_chip(const std::string &sys, int number, bool with_dev)
{
	const std::string chip = sys + "/pwmchip" + std::to_string(number);
	if (mkdir(chip.c_str(), 0755) < 0 || mkdir((chip + "/pwm1").c_str(), 0755) < 0)
		abort();
	std::string files[] = { chip + "/npwm", chip + "/export", chip + "/dev" };
	for (size_t i = 0; i < (with_dev ? 3 : 2); ++i)
		close(open(files[i].c_str(), O_CREAT | O_WRONLY, 0644));
	for (int a = 0; a < SYSFS_ATTRS; ++a) {
		const std::string path = chip + "/pwm1/" + attr_names[a];
		const int fd = open(path.c_str(), O_CREAT | O_RDWR, 0644);
		struct stat st;
		if (fd < 0 || fstat(fd, &st) < 0)
			abort();
		attr_inode[number][a] = st.st_ino;
		close(fd);
	}
}

} // namespace

// The attribute file layer, answered by the model.
int attr_write_u64(int fd, uint64_t v)
{
	char text[24];
	const int len = snprintf(text, sizeof(text), "%llu\n", static_cast<unsigned long long>(v));
	return attr_write_text(fd, text, static_cast<size_t>(len));
}

int attr_write_text(int fd, const char *text, size_t len)
{
	const int err = sysfs_model_write(model_attr(fd), text, len);
	errno = err;
	return err == 0 ? 0 : -1;
}

int attr_read_line(int fd, char *buf, size_t size)
{
	char text[32];
	sysfs_model_read(model_attr(fd), text, sizeof(text));
	*strchr(text, '\n') = '\0';
	if (strlen(text) >= size) {
		errno = EOVERFLOW;
		return -1;
	}
	strcpy(buf, text);
	return 0;
}

int attr_read_u64(int fd, uint64_t *v)
{
	char text[32];
	if (attr_read_line(fd, text, sizeof(text)) < 0)
		return -1;
	*v = strtoull(text, nullptr, 10);
	return 0;
}

int attr_read_u64_at(int, const char *name, uint64_t *v)
{
	if (strcmp(name, "npwm") != 0)
		abort();
	*v = 2;
	return 0;
}

namespace {

// How often the channel's hardware was read back, in all.
unsigned int hardware_reads;

// What debugfs shows of hardware running hw: some drivers show an output
// without an active part as disabled, with the period it runs.
pwm_waveform debugfs_shows(const pwm_waveform &hw, uint64_t *shown_period)
{
	*shown_period = hw.period_length_ns;
	return smodel.dark_reads_disabled && hw.duty_length_ns == 0 ? pwm_waveform{} : hw;
}

} // namespace

// What the driver reads back from its hardware, where root may read it.
int debugfs_actual(unsigned int, unsigned int, struct pwm_waveform *actual, uint64_t *shown_period)
{
	++smodel.reads;
	++hardware_reads;
	smodel.writes_at_check = smodel.writes;
	if (!smodel.debugfs_readable) {
		errno = EACCES;
		return -1;
	}
	uint64_t shown = 0;
	*actual = debugfs_shows(smodel.hw, &shown);
	if (shown_period != nullptr)
		*shown_period = shown;
	return 0;
}

namespace {

// What another user's channel 0 runs, free, as the listing shows it.
pwm_waveform free_channel_runs;

} // namespace

// The kernel's listing: channel 1 exported, channel 0 free; root's.
int debugfs_read_channel(unsigned int, unsigned int channel, struct debugfs_channel *out)
{
	if (!smodel.debugfs_readable) {
		errno = EACCES;
		return -1;
	}
	*out = {};
	out->requested = channel == 1;
	if (channel == 1)
		strcpy(out->label, "sysfs");
	out->has_actual = true;
	out->actual = debugfs_shows(channel == 1 ? smodel.hw : free_channel_runs, &out->shown_period);
	return 0;
}

namespace {

// The exported channel's attributes as pwm_get_waveform gives them.
pwm_waveform attrs_form(const sysfs_attrs &a)
{
	if (!a.enabled || a.period == 0)
		return {};
	if (!a.inversed)
		return read_back_form({ a.period, a.duty, 0 });
	return a.duty < a.period ? pwm_waveform{ a.period, a.period - a.duty, a.duty } : pwm_waveform{};
}

// Describing both channels writes nothing and says who holds each and what
// it runs: the attributes of the exported one, the listing's of the free one.
void check_descriptions(pwm_chip *chip, const pwm_waveform &wf, int ret, int err)
{
	const unsigned int writes = smodel.writes;
	const sysfs_attrs attrs = smodel.attrs;
	for (unsigned int c = 0; c < 2; ++c) {
		pwm_info *info = pwm_chip_get_pwm_info(chip, c);
		const int holder = c == 1         ? PWM_HOLDER_SYSFS
			: smodel.debugfs_readable ? PWM_HOLDER_NONE
						  : PWM_HOLDER_UNKNOWN;
		const bool has_wf = c == 1 || smodel.debugfs_readable;
		const pwm_waveform want = c == 1 ? attrs_form(attrs) : read_back_form(free_channel_runs);
		pwm_waveform got = {};
		if (info == nullptr || pwm_info_get_holder(info) != holder ||
		    (pwm_info_get_waveform(info, &got) == 0) != has_wf ||
		    (has_wf && !same_waveform(got, want)))
			broken("a channel described as something else", wf, ret, err);
		pwm_info_free(info);
	}
	if (smodel.writes != writes || !same_attrs(smodel.attrs, attrs))
		broken("describing a channel wrote to it", wf, ret, err);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	char root[] = "/tmp/quorvin-fuzz-XXXXXX";
	if (mkdtemp(root) == nullptr)
		abort();
	const std::string sys = std::string(root) + "/sys";
	const std::string dev = std::string(root) + "/dev";
	if (mkdir(sys.c_str(), 0755) < 0 || mkdir(dev.c_str(), 0755) < 0)
		abort();
	// pwmchip1 has a device node in sysfs's eyes, though none in the dev
	// folder: its exported channel is driven through sysfs.
	make_chip(sys, 0, false);
	make_chip(sys, 1, true);
	setenv("QUORVIN_SYSFS_DIR", sys.c_str(), 1);
	setenv("QUORVIN_DEV_DIR", dev.c_str(), 1);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	fuzz_input in{ data, size };
	static const uint64_t ticks[] = { 1, 5, 38, 1000, 30517 };
	smodel = {};
	const uint8_t kind = in.byte();
	smodel.waveform_driver = (kind & 1) != 0;
	// Drivers describe waveforms only from 6.13 on.
	smodel.lenient_while_disabled = smodel.waveform_driver || (kind & 2) != 0;
	smodel.debugfs_readable = (kind & 4) != 0;
	smodel.tick = ticks[in.byte() % 5];
	smodel.min_period = smodel.tick * (1 + in.byte() % 8);
	const uint8_t longest = in.byte() % 3;
	smodel.max_period = longest == 0 ? smodel.tick * 1000
		: longest == 1           ? smodel.tick * UINT32_MAX
					 : INT64_MAX / smodel.tick * smodel.tick;
	const uint8_t quirks = in.byte();
	smodel.long_period_clamped = (quirks & 1) != 0;
	smodel.long_period_errno = (quirks & 2) != 0 ? ERANGE : EINVAL;
	smodel.short_period_off = (quirks & 4) != 0;
	smodel.polarity_busy = (quirks & 8) != 0;
	smodel.offsets = (quirks & 16) != 0;
	smodel.off_keeps_running = !smodel.waveform_driver && (quirks & 32) != 0;
	smodel.rounds_up = (quirks & 64) != 0;
	smodel.inversed = static_cast<enum inversed_support>(in.byte() % 3);
	auto value = [&in] { return in.value(smodel.tick, smodel.min_period); };
	free_channel_runs = {};
	if (const uint64_t p = value(); p != 0)
		free_channel_runs = { p, p / 3, 0 };

	// Any state the kernel can hold; else a fresh export's.
	const uint8_t start_flags = in.byte();
	const uint64_t start_period = value();
	const uint64_t start_duty = value();
	// Habits of later drivers of their own rounding, in a byte of their
	// own where the kind asks for it, so that older inputs keep their
	// meaning: a period below the shortest run at the shortest (rather
	// than off or refused), a duty of 0 refused where the output runs, and
	// an output without an active part shown in debugfs as disabled, with
	// the period it runs.
	if (!smodel.waveform_driver && (kind & 8) != 0) {
		const uint8_t later = in.byte();
		smodel.short_period_raised = (later & 1) != 0;
		smodel.refuses_duty_zero = (later & 2) != 0;
		smodel.dark_reads_disabled = (later & 4) != 0;
	}
	smodel.attrs = { start_period, start_duty, (start_flags & 1) != 0, (start_flags & 2) != 0 };
	if (sysfs_model_makes(smodel.attrs, &smodel.hw) != 0) {
		smodel.attrs = {};
		smodel.hw = {};
	}

	pwm_chip *chip = pwm_chip_open_by_number(smodel.waveform_driver ? 1 : 0);
	pwm *ch = chip != nullptr ? pwm_chip_get_pwm(chip, 1) : nullptr;
	if (ch == nullptr)
		abort();

	pwm_waveform last = {};
	bool last_made = false;
	pwm_waveform last_made_wf = {};
	bool any_made = false;
	// The last waveform made confirmed no period: its start was read back
	// without an active part, or it was made by switching the output off.
	bool last_unconfirmed = false;
	for (int op = 0; op < 16 && in.size > 0; ++op) {
		const uint8_t what = in.byte() % 6;
		if (what == 4) {
			smodel.fail_write = 1 + in.byte() % 4;
			continue;
		}
		pwm_waveform wf = { value(), value(), value() % 4 == 0 ? 0 : value() };
		if (what == 1 && last_made)
			wf = { last.period_length_ns, value(), last.duty_offset_ns };
		if (what == 2 && wf.duty_length_ns <= wf.period_length_ns)
			wf.duty_offset_ns = wf.period_length_ns - wf.duty_length_ns; // the one sysfs makes
		if (what == 3) {
			// Through sysfs the kernel cannot be asked.
			const unsigned int ops = smodel.writes + smodel.reads;
			pwm_waveform r = wf;
			const int ret = pwm_round_waveform(ch, &r);
			if (ret == 0 || errno != (waveform_valid(wf) ? EOPNOTSUPP : EINVAL) ||
			    smodel.writes + smodel.reads != ops)
				broken("a rounding answered through sysfs", wf, ret, errno);
			continue;
		}

		// What wf asks of the channel, and what the driver would run.
		const uint64_t p = wf.period_length_ns;
		const bool inversed = wf.duty_offset_ns != 0;
		sysfs_attrs want = smodel.attrs;
		want.enabled = false;
		if (p != 0)
			want = { p, inversed ? wf.duty_offset_ns : wf.duty_length_ns, true, inversed };
		// Off is always makeable: at worst, nothing needs writing.
		pwm_waveform expect = {};
		bool makeable = waveform_valid(wf) &&
			(p == 0 ||
			 ((!inversed || wf.duty_offset_ns == p - wf.duty_length_ns) &&
			  sysfs_model_makes(want, &expect) == 0));
		// A duty of 0 that the driver refuses to run is made by switching
		// the output off, the same signal, where it would run the period.
		// Where it would run it longer, that or a refusal (a period
		// below the shortest) will do.
		bool dark_as_off = false;
		bool dark_period_longer = false;
		if (!makeable && smodel.refuses_duty_zero && waveform_valid(wf) && p != 0 && !inversed &&
		    wf.duty_length_ns == 0) {
			smodel.refuses_duty_zero = false;
			dark_as_off = sysfs_model_makes(want, &expect) == 0;
			smodel.refuses_duty_zero = true;
			dark_period_longer = dark_as_off && expect.period_length_ns > p;
			makeable = dark_as_off;
			expect = {};
		}
		// A driver of its own rounding keeps the period at or below (also
		// that of an output without an active part), the offset, and an
		// active output running; the core holds a waveform driver to all
		// of the waveform.
		const bool active = wf.duty_length_ns != 0;
		const bool stops = !(smodel.off_keeps_running && smodel.hw.duty_length_ns != 0);
		bool honest = p == 0 || dark_as_off ? stops
			: smodel.waveform_driver
			? at_or_below(wf, expect)
			: expect.period_length_ns <= p && !(active && expect.period_length_ns == 0) &&
				!(inversed && expect.duty_offset_ns == 0 && expect.duty_length_ns != 0 &&
				  expect.duty_length_ns < expect.period_length_ns);
		// Where debugfs cannot be read, a legacy driver is taken on its
		// word, and an offset on a waveform chip cannot be confirmed.
		const bool unseen = !smodel.debugfs_readable;
		const bool unconfirmable = unseen && smodel.waveform_driver && inversed;

		attrs_before = smodel.attrs;
		hw_before = smodel.hw;
		const unsigned int writes = smodel.writes, reads = smodel.reads, refused = smodel.refused;
		const unsigned int hardware_reads_before = hardware_reads;
		const bool failing = smodel.fail_write > 0;
		const bool duty_step = last_made && !last_unconfirmed && p == last.period_length_ns &&
			p != 0 && !inversed && last.duty_offset_ns == 0 && !dark_as_off;
		pwm_waveform asked = wf;
		errno = 0;
		const int ret = pwm_set_waveform(ch, &asked);
		const int err = errno;
		// A legacy driver that refuses a duty-0 waveform only at its
		// start may have refused its period or its duty: the library
		// takes it as the duty and switches the output off, the same
		// signal, whose success is judged as such.
		if (ret == 0 && !makeable && !smodel.waveform_driver && waveform_valid(wf) && p != 0 &&
		    wf.duty_length_ns == 0 && !inversed && !smodel.attrs.enabled) {
			dark_as_off = true;
			makeable = true;
			honest = stops;
		}
		const bool injected = failing && smodel.fail_write == 0;
		smodel.fail_write = 0;
		if (getenv("SYSFS_FUZZ_TRACE") != nullptr) {
			print_call(wf, ret, err);
			print_channel("after", smodel.attrs, smodel.hw);
		}
		if (!same_waveform(asked, wf))
			broken("the caller's record changed", wf, ret, err);

		if (ret == 0) {
			if ((smodel.refused != refused && !dark_as_off) || !makeable || unconfirmable)
				broken("a refused write, or a waveform not made, as a success", wf, ret, err);
			// Switched off, the output has no active part, except where a
			// driver keeps running and no one can see it.
			const bool off = p == 0 || dark_as_off;
			const bool runs = off ? smodel.hw.duty_length_ns == 0 || (!stops && unseen)
					      : same_waveform(smodel.hw, expect);
			if (!(dark_as_off ? !smodel.attrs.enabled : same_attrs(smodel.attrs, want)) || !runs)
				broken("a success that runs something else", wf, ret, err);
			// A duty-only step is not read back, as the header says: a
			// step from the last waveform made, even after refusals,
			// unless that one confirmed no period.
			const bool maybe_step = any_made && !last_unconfirmed &&
				p == last_made_wf.period_length_ns && !inversed &&
				last_made_wf.duty_offset_ns == 0;
			// Made as off, it is held to what runs after (above): the
			// writes before the off may have stopped it already.
			if (!honest && !dark_as_off && !(unseen && !smodel.waveform_driver) && !maybe_step)
				broken("a driver's lie taken where debugfs shows it", wf, ret, err);
			if (duty_step &&
			    (smodel.writes - writes != (wf.duty_length_ns != last.duty_length_ns ? 1U : 0U) ||
			     smodel.reads != reads))
				broken("a duty-only step that costs more than its write", wf, ret, err);
			pwm_waveform got;
			const pwm_waveform shown = read_back_form(wf);
			if (pwm_get_waveform(ch, &got) != 0 || !same_waveform(got, shown))
				broken("read back as something else", wf, ret, err);
		} else {
			// A write refused while putting back (after a refusal or a
			// read-back) leaves it halfway; 6.1 takes no period 0 back,
			// as a fresh export may show; and a driver that keeps running
			// cannot be stopped.
			const bool halfway = injected &&
				(smodel.failed_after.refused > refused ||
				 smodel.failed_after.writes_at_check > writes);
			const bool writable = smodel.lenient_while_disabled ||
				(attrs_before.period != 0 && attrs_before.duty <= attrs_before.period);
			const bool stoppable = !(smodel.off_keeps_running && !attrs_before.enabled);
			if (!halfway &&
			    ((writable && !same_attrs(smodel.attrs, attrs_before)) ||
			     (stoppable && !same_waveform(smodel.hw, hw_before))))
				broken("a refusal that did not put the channel back", wf, ret, err);
			if (err != EINVAL && err != EOPNOTSUPP && err != EIO &&
			    !(err == ERANGE && smodel.long_period_errno == ERANGE))
				broken("an errno the header does not give", wf, ret, err);
			if (!waveform_valid(wf) &&
			    (err != EINVAL || smodel.writes != writes || smodel.reads != reads))
				broken("an invalid waveform not refused up front", wf, ret, err);
			// An active output whose driver rounds the active part away
			// and shows it in debugfs as disabled reads back stopped.
			const bool shown_stopped = smodel.debugfs_readable && smodel.dark_reads_disabled &&
				active && expect.duty_length_ns == 0;
			if (makeable && honest && !dark_period_longer && !shown_stopped && !injected &&
			    !unconfirmable)
				broken("refused what the hardware makes", wf, ret, err);
		}
		check_descriptions(chip, wf, ret, err);
		last = wf;
		last_made = ret == 0;
		if (ret == 0) {
			last_made_wf = wf;
			any_made = true;
			// Where debugfs shows it, a start read back dark leaves the
			// next call checked in full.
			last_unconfirmed = dark_as_off ||
				(!smodel.waveform_driver && smodel.debugfs_readable && p != 0 &&
				 hardware_reads != hardware_reads_before && smodel.hw.duty_length_ns == 0);
		}
	}
	pwm_chip_close(chip);
	return 0;
}
