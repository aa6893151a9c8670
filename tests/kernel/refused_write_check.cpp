// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Drives libquorvin into writes the kernel refuses and checks that the
// library recovers: the state of the channel is changed behind the library's
// back, so the library's idea of it is stale and its next write breaks the
// kernel's duty <= period rule. That call must fail with the kernel's errno,
// and the call after it must still leave exactly the asked-for waveform.
//   refused-write-check CHIP CHANNEL
#include <quorvin.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string chan_dir;
int failures;

std::string read_attr(const char *name)
{
	std::string path = chan_dir + "/" + name;
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return std::string("<open: ") + strerror(errno) + ">";
	char buf[64];
	ssize_t n = read(fd, buf, sizeof buf - 1);
	close(fd);
	if (n < 0)
		return std::string("<read: ") + strerror(errno) + ">";
	buf[n] = 0;
	std::string s(buf);
	while (!s.empty() && s.back() == '\n')
		s.pop_back();
	return s;
}

// Writes an attribute the way another program would, through its own fd.
bool write_attr(const char *name, uint64_t value)
{
	std::string path = chan_dir + "/" + name;
	int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	std::string s = std::to_string(value) + "\n";
	bool ok = write(fd, s.data(), s.size()) == static_cast<ssize_t>(s.size());
	close(fd);
	return ok;
}

std::string kernel_state()
{
	return read_attr("period") + " " + read_attr("duty_cycle") + " " + read_attr("enable");
}

std::string want_state(const pwm_waveform &wf)
{
	return std::to_string(wf.period_length_ns) + " " + std::to_string(wf.duty_length_ns) + " 1";
}

void fail(const char *row, const std::string &what)
{
	printf("  %s: FAIL %s\n", row, what.c_str());
	failures++;
}

// Applies wf and checks the kernel shows it.
bool apply_and_check(const char *row, pwm *p, pwm_waveform wf, const char *step)
{
	std::string want = want_state(wf);
	if (pwm_set_waveform(p, &wf) < 0) {
		fail(row, std::string(step) + " " + want + ": pwm_set_waveform failed: " + strerror(errno));
		return false;
	}
	std::string got = kernel_state();
	if (got != want) {
		fail(row, std::string(step) + ": kernel shows '" + got + "', want '" + want + "'");
		return false;
	}
	return true;
}

struct attr_write {
	const char *name;
	uint64_t value;
};

struct row {
	const char *name;
	attr_write behind[2]; // done by "another program"; name null ends it
	pwm_waveform provoke; // stale view makes the library's write illegal
	pwm_waveform recover; // must land exactly, whatever the library believed
};

// Each row starts from the previous row's recovered waveform.
const row rows[] = {
	// Library believes 100000/40000; the kernel now has period 50000, so
	// a duty-only change to 70000 is refused. A library still trusting its
	// old period would then write only the duty and leave period 50000.
	{ "duty-over-shrunk-period",
	  { { "period", 50000 }, { nullptr, 0 } },
	  { 100000, 70000, 0 },
	  { 100000, 30000, 0 } },
	// Library believes 100000/30000; the kernel has 200000/150000, so
	// raising the period first (to 120000, below the real duty) is refused.
	{ "period-under-raised-duty",
	  { { "period", 200000 }, { "duty_cycle", 150000 } },
	  { 120000, 110000, 0 },
	  { 120000, 60000, 0 } },
};

} // namespace

int main(int argc, char **argv)
{
	if (argc != 3) {
		fprintf(stderr, "usage: refused-write-check CHIP CHANNEL\n");
		return 2;
	}
	unsigned chip_nr = static_cast<unsigned>(strtoul(argv[1], nullptr, 10));
	unsigned channel = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
	chan_dir = "/sys/class/pwm/pwmchip" + std::to_string(chip_nr) + "/pwm" + std::to_string(channel);

	pwm_chip *chip = pwm_chip_open_by_number(chip_nr);
	if (!chip) {
		printf("  open chip %u: %s\n", chip_nr, strerror(errno));
		return 1;
	}
	pwm *p = pwm_chip_get_pwm(chip, channel);
	if (!p) {
		printf("  get channel %u: %s\n", channel, strerror(errno));
		return 1;
	}
	if (!apply_and_check("start", p, { 100000, 40000, 0 }, "initial waveform")) {
		pwm_chip_close(chip);
		return 1;
	}

	int refused = 0;
	for (const row &r : rows) {
		bool setup_ok = true;
		for (const attr_write &w : r.behind) {
			if (w.name && !write_attr(w.name, w.value)) {
				fail(r.name,
				     std::string("writing ") + w.name +
					     " behind the library failed: " + strerror(errno));
				setup_ok = false;
			}
		}
		if (!setup_ok)
			continue;

		pwm_waveform wf = r.provoke;
		errno = 0;
		int rc = pwm_set_waveform(p, &wf);
		if (rc < 0) {
			if (errno != EINVAL) {
				fail(r.name,
				     std::string("refused write reported '") + strerror(errno) +
					     "', want the kernel's EINVAL");
			} else {
				refused++;
			}
			printf("  %s: write refused (%s), as the kernel should\n", r.name, strerror(errno));
		} else {
			// The library saw through the stale state; then it must have
			// applied the waveform fully.
			std::string got = kernel_state();
			if (got != want_state(r.provoke))
				fail(r.name,
				     "provoking waveform reported success but kernel shows '" + got + "'");
			printf("  %s: not refused (library re-read the state first)\n", r.name);
		}
		if (apply_and_check(r.name, p, r.recover, "next waveform"))
			printf("  %s: next waveform applied: %s\n", r.name, kernel_state().c_str());
	}
	pwm_chip_close(chip);

	if (refused == 0) {
		printf("  no write was refused, so recovery after a refusal went untested\n");
		failures++;
	}
	return failures ? 1 : 0;
}
