// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-bench: times whole runs of pwm-sweep (A), of the bare pwrite loop (B)
// and of the open/write/close-per-step sweep (C) on a made-up PWM tree in
// tmpfs, interleaved, and prints per-waveform medians, ratios and A's peak
// resident memory. Where the quorvin Python package was built, the first
// row also times the same sweep written in Python (D, bench/sweep.py); where
// the library is built with it, over the C++ layer quorvin.hpp (E,
// bench/sweep.cpp).
//
// Each run is a whole process, timed from fork to wait4, because a sweep's
// cost includes starting the program. fork rather than posix_spawn: glibc's
// posix_spawn shares this process's memory until exec, and the kernel then
// counts this driver's resident pages in the child's ru_maxrss. After a fork
// the child only inherits this driver's private pages (the figure printed as
// "inherited"); ru_maxrss is the larger of that and the child's own peak.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ftw.h>
#include <getopt.h>
#include <linux/magic.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef PWM_BENCH_TOOL
#define PWM_BENCH_TOOL ""
#endif
#ifndef PWM_BENCH_FLOOR
#define PWM_BENCH_FLOOR ""
#endif
#ifndef PWM_BENCH_NAIVE
#define PWM_BENCH_NAIVE ""
#endif
#ifndef PWM_BENCH_PYTHON
#define PWM_BENCH_PYTHON ""
#endif
#ifndef PWM_BENCH_PYTHON_SCRIPT
#define PWM_BENCH_PYTHON_SCRIPT ""
#endif
#ifndef PWM_BENCH_PYTHONPATH
#define PWM_BENCH_PYTHONPATH ""
#endif
#ifndef PWM_BENCH_CXX
#define PWM_BENCH_CXX ""
#endif
#ifndef PWM_BENCH_MAKE_TREE
#define PWM_BENCH_MAKE_TREE ""
#endif

namespace {

enum { prog_tool, prog_floor, prog_naive, prog_python, prog_cxx, prog_count };

struct sample {
	double ns; // wall, fork to wait4
	double cpu_ns; // the child's user + system time
	long maxrss_kib;
};

struct row {
	const char *label;
	std::vector<const char *> args;
	uint64_t period;
	uint64_t step;
	bool with_naive;
	std::vector<sample> samples[prog_count];
	bool with_python = false;
	bool with_cxx = false;
};

struct options {
	const char *paths[prog_count] = { PWM_BENCH_TOOL, PWM_BENCH_FLOOR, PWM_BENCH_NAIVE, PWM_BENCH_PYTHON,
					  PWM_BENCH_CXX };
	const char *python_script = PWM_BENCH_PYTHON_SCRIPT;
	const char *make_tree = PWM_BENCH_MAKE_TREE;
	const char *dir = nullptr;
	int runs = 15;
	int warmup = 1;
	int cpu = -1;
	bool verbose = false;
};

const char *const prog_names[prog_count] = { "A tool", "B floor", "C open/close", "D python", "E c++" };

std::string tree_dir;
volatile sig_atomic_t interrupted = 0;
bool remove_tree_at_exit = false;
std::vector<char *> child_env;

[[noreturn]] void die(const char *fmt, const char *arg)
{
	fprintf(stderr, "pwm-bench: ");
	fprintf(stderr, fmt, arg);
	fputc('\n', stderr);
	exit(1);
}

double now_ns()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void on_signal(int sig)
{
	interrupted = sig;
}

int wait_child(pid_t pid, rusage *ru)
{
	int status;
	while (wait4(pid, &status, 0, ru) < 0) {
		if (errno != EINTR)
			die("wait4: %s", strerror(errno));
	}
	// Leave through exit() so the tree in /dev/shm is removed.
	if (interrupted)
		exit(128 + interrupted);
	return status;
}

void lay_tree(const char *make_tree)
{
	pid_t pid = fork();
	if (pid < 0)
		die("fork: %s", strerror(errno));
	if (pid == 0) {
		// Through sh, so the script needs no exec bit.
		execl("/bin/sh", "sh", make_tree, tree_dir.c_str(), static_cast<char *>(nullptr));
		_exit(127);
	}
	rusage ru;
	int status = wait_child(pid, &ru);
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		die("%s failed", make_tree);
}

bool read_attr(const char *name, uint64_t *out)
{
	std::string path = tree_dir + "/pwmchip0/pwm0/" + name;
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	char buf[64];
	ssize_t n = read(fd, buf, sizeof buf - 1);
	close(fd);
	if (n <= 0)
		return false;
	buf[n] = '\0';
	// The files are plain, so a shorter rewrite leaves older bytes after the
	// first newline; only the first line is the value.
	char *end;
	errno = 0;
	unsigned long long v = strtoull(buf, &end, 10);
	if (errno != 0 || end == buf || *end != '\n')
		return false;
	*out = v;
	return true;
}

// A run that exits 0 but leaves the channel elsewhere did not do the sweep
// being timed; its figure would be meaningless.
void check_end_state(const char *what, const row &r)
{
	uint64_t last = r.period / r.step * r.step;
	uint64_t duty, period, enable;
	if (!read_attr("duty_cycle", &duty) || !read_attr("period", &period) || !read_attr("enable", &enable))
		die("cannot read the channel's state after %s", what);
	if (duty != last || period != r.period || enable != 1) {
		fprintf(stderr,
			"pwm-bench: %s left duty_cycle=%" PRIu64 " period=%" PRIu64 " enable=%" PRIu64
			", expected %" PRIu64 " %" PRIu64 " 1\n",
			what, duty, period, enable, last, r.period);
		exit(1);
	}
}

// script: the Python program that the interpreter at path runs, or null.
sample run_once(const char *path, const char *script, const row &r)
{
	std::vector<char *> argv;
	argv.reserve(r.args.size() + 3);
	argv.push_back(const_cast<char *>(path));
	if (script != nullptr)
		argv.push_back(const_cast<char *>(script));
	for (const char *a : r.args)
		argv.push_back(const_cast<char *>(a));
	argv.push_back(nullptr);

	rusage ru;
	double t0 = now_ns();
	pid_t pid = fork();
	if (pid < 0)
		die("fork: %s", strerror(errno));
	if (pid == 0) {
		execve(path, argv.data(), child_env.data());
		_exit(127);
	}
	int status = wait_child(pid, &ru);
	double t1 = now_ns();

	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
		if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
			die("cannot run %s", path);
		fprintf(stderr, "pwm-bench: %s (%s) exited with status %d\n", path, r.label,
			WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
		exit(1);
	}
	double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e9 +
		static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e3;
	return { t1 - t0, cpu, ru.ru_maxrss };
}

// What a forked child holds before it execs: the floor under every
// ru_maxrss this driver reports.
long inherited_kib()
{
	int fds[2];
	if (pipe(fds) != 0)
		die("pipe: %s", strerror(errno));
	pid_t pid = fork();
	if (pid < 0)
		die("fork: %s", strerror(errno));
	if (pid == 0) {
		close(fds[0]);
		long kib = -1;
		if (FILE *f = fopen("/proc/self/status", "r")) {
			char line[256];
			while (fgets(line, sizeof line, f)) {
				if (strncmp(line, "VmHWM:", 6) == 0) {
					kib = strtol(line + 6, nullptr, 10);
					break;
				}
			}
			fclose(f);
		}
		ssize_t w = write(fds[1], &kib, sizeof kib);
		_exit(w == sizeof kib ? 0 : 1);
	}
	close(fds[1]);
	long kib = -1;
	if (read(fds[0], &kib, sizeof kib) != sizeof kib)
		kib = -1;
	close(fds[0]);
	rusage ru;
	wait_child(pid, &ru);
	return kib;
}

// q-quantile of sorted values, interpolating between neighbours.
double quantile(const std::vector<double> &sorted, double q)
{
	double pos = q * static_cast<double>(sorted.size() - 1);
	auto lo = static_cast<size_t>(pos);
	if (lo + 1 >= sorted.size())
		return sorted[lo];
	return sorted[lo] + (pos - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

template <typename T> double median_of(const std::vector<sample> &s, T sample::*field)
{
	std::vector<double> v;
	v.reserve(s.size());
	for (const sample &x : s)
		v.push_back(static_cast<double>(x.*field));
	std::sort(v.begin(), v.end());
	return quantile(v, 0.5);
}

// Runs of one round are seconds apart, so their ratio shares the machine's
// slow and fast spells; the spread of these ratios shows how far one
// median ratio can be trusted.
void print_paired_ratio(const row &r, int top, int bottom, const char *name)
{
	const std::vector<sample> &a = r.samples[top];
	const std::vector<sample> &b = r.samples[bottom];
	std::vector<double> v;
	v.reserve(a.size());
	for (size_t i = 0; i < a.size() && i < b.size(); ++i)
		v.push_back(a[i].ns / b[i].ns);
	std::sort(v.begin(), v.end());
	printf("%s run by run, %s: median %.3f, middle half %.3f to %.3f\n", name, r.label, quantile(v, 0.5),
	       quantile(v, 0.25), quantile(v, 0.75));
}

long max_rss(const std::vector<sample> &s)
{
	long m = 0;
	for (const sample &x : s)
		m = std::max(m, x.maxrss_kib);
	return m;
}

int remove_entry(const char *path, const struct stat *, int, FTW *)
{
	return remove(path);
}

void remove_tree()
{
	if (remove_tree_at_exit)
		nftw(tree_dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void usage(FILE *f)
{
	fprintf(f,
		"usage: pwm-bench [--tool PATH] [--floor PATH] [--naive PATH] [--python PATH]\n"
		"                 [--cxx PATH] [--make-tree PATH] [--dir DIR] [--runs N]\n"
		"                 [--warmup N] [--cpu N] [-v]\n"
		"  --tool PATH       the pwm-sweep to time (A)\n"
		"  --floor PATH      the bare pwrite loop (B)\n"
		"  --naive PATH      the open/write/close sweep (C)\n"
		"  --python PATH     the Python that runs bench/sweep.py (D; \"\" for none)\n"
		"  --cxx PATH        the sweep over quorvin.hpp, bench/sweep.cpp (E; \"\" for none)\n"
		"  --make-tree PATH  scripts/make-pwm-tree\n"
		"  --dir DIR         lay the PWM tree in DIR (default: a new folder in /dev/shm)\n"
		"  --runs N          counted runs of each program per sweep (default 15)\n"
		"  --warmup N        uncounted runs of each first (default 1)\n"
		"  --cpu N           run on CPU N (default: the last one this may use)\n"
		"  -v                print every run\n");
}

int parse_count(const char *s, int min)
{
	char *end;
	errno = 0;
	long v = strtol(s, &end, 10);
	if (errno != 0 || end == s || *end != '\0' || v < min || v > 100000) {
		usage(stderr);
		exit(2);
	}
	return static_cast<int>(v);
}

options parse_options(int argc, char **argv)
{
	static const option longopts[] = {
		{ "tool", required_argument, nullptr, 't' },
		{ "floor", required_argument, nullptr, 'f' },
		{ "naive", required_argument, nullptr, 'n' },
		{ "python", required_argument, nullptr, 'p' },
		{ "cxx", required_argument, nullptr, 'x' },
		{ "make-tree", required_argument, nullptr, 'm' },
		{ "dir", required_argument, nullptr, 'd' },
		{ "runs", required_argument, nullptr, 'r' },
		{ "warmup", required_argument, nullptr, 'w' },
		{ "cpu", required_argument, nullptr, 'c' },
		{ "verbose", no_argument, nullptr, 'v' },
		{ "help", no_argument, nullptr, 'h' },
		{ nullptr, 0, nullptr, 0 },
	};
	options o;
	int opt;
	while ((opt = getopt_long(argc, argv, "v", longopts, nullptr)) != -1) {
		switch (opt) {
		case 't':
			o.paths[prog_tool] = optarg;
			break;
		case 'f':
			o.paths[prog_floor] = optarg;
			break;
		case 'n':
			o.paths[prog_naive] = optarg;
			break;
		case 'p':
			o.paths[prog_python] = optarg;
			break;
		case 'x':
			o.paths[prog_cxx] = optarg;
			break;
		case 'm':
			o.make_tree = optarg;
			break;
		case 'd':
			o.dir = optarg;
			break;
		case 'r':
			o.runs = parse_count(optarg, 1);
			break;
		case 'w':
			o.warmup = parse_count(optarg, 0);
			break;
		case 'c':
			o.cpu = parse_count(optarg, 0);
			break;
		case 'v':
			o.verbose = true;
			break;
		case 'h':
			usage(stdout);
			exit(0);
		default:
			usage(stderr);
			exit(2);
		}
	}
	if (optind != argc) {
		usage(stderr);
		exit(2);
	}
	static const char *const flags[prog_python] = { "--tool", "--floor", "--naive" };
	for (int p = 0; p < prog_python; ++p)
		if (!*o.paths[p])
			die("no program for %s given", flags[p]);
	if (!*o.make_tree)
		die("no %s given", "--make-tree");
	return o;
}

uint64_t waveform_count(const row &r)
{
	return r.period / r.step + 1;
}

// A binding's sweep (program prog, named x) against the tool's: run by run,
// whole runs, by CPU time, and a waveform's cost without each program's own
// start-up (a whole run of two waveforms). Returns the last, x/A, the ratio
// its target is about.
double print_against_tool(const row &big, const row &start, int prog, char x, const std::string &title)
{
	const std::string name = std::string(1, x) + "/A";
	print_paired_ratio(big, prog, prog_tool, name.c_str());
	const double n = static_cast<double>(waveform_count(big));
	const double b = median_of(big.samples[prog], &sample::ns);
	const double a = median_of(big.samples[prog_tool], &sample::ns);
	const double b_start = median_of(start.samples[prog], &sample::ns);
	const double a_start = median_of(start.samples[prog_tool], &sample::ns);
	const double ratio = (b - b_start) / (a - a_start);
	printf("\n%s:\n"
	       "%-16s %9.0f whole run: %c %.1f ns/wf, %c/A %.3f; by CPU time %c %.1f ns/wf, %c/A %.3f\n"
	       "%-16s %9s start-up: %c %.0f us, A %.0f us; a waveform without it: %c %.1f ns, A %.1f ns, "
	       "%c/A %.3f\n",
	       title.c_str(), big.label, n, x, b / n, x, b / a, x,
	       median_of(big.samples[prog], &sample::cpu_ns) / n, x,
	       median_of(big.samples[prog], &sample::cpu_ns) /
		       median_of(big.samples[prog_tool], &sample::cpu_ns),
	       "", "", x, b_start / 1e3, a_start / 1e3, x, (b - b_start) / n, (a - a_start) / n, x, ratio);
	return ratio;
}

void print_table(const row *rows, int count, double sample::*field, bool show_rss)
{
	for (int i = 0; i < count; ++i) {
		const row &r = rows[i];
		double n = static_cast<double>(waveform_count(r));
		double a = median_of(r.samples[prog_tool], field);
		double b = median_of(r.samples[prog_floor], field);
		printf("%-16s %9.0f %11.1f %11.1f", r.label, n, a / n, b / n);
		if (r.with_naive) {
			double c = median_of(r.samples[prog_naive], field);
			printf(" %14.1f  %6.3f  %6.3f", c / n, a / b, c / a);
		} else {
			printf(" %14s  %6.3f  %6s", "-", a / b, "-");
		}
		if (show_rss)
			printf(" %8.0f KiB", median_of(r.samples[prog_tool], &sample::maxrss_kib));
		printf("\n");
	}
}

} // namespace

int main(int argc, char **argv)
{
	options o = parse_options(argc, argv);

	// One CPU for every run: the machine's other work stays off it as far as
	// the scheduler allows, and the benchmark leaves the other CPUs alone.
	cpu_set_t set;
	if (o.cpu < 0) {
		if (sched_getaffinity(0, sizeof set, &set) != 0)
			die("sched_getaffinity: %s", strerror(errno));
		for (int c = CPU_SETSIZE - 1; c >= 0 && o.cpu < 0; --c)
			if (CPU_ISSET(c, &set))
				o.cpu = c;
	}
	CPU_ZERO(&set);
	CPU_SET(o.cpu, &set);
	if (sched_setaffinity(0, sizeof set, &set) != 0)
		die("cannot pin to that CPU: %s", strerror(errno));

	if (o.dir) {
		tree_dir = o.dir;
	} else {
		char tmpl[] = "/dev/shm/pwm-bench.XXXXXX";
		if (!mkdtemp(tmpl))
			die("mkdtemp in /dev/shm: %s", strerror(errno));
		tree_dir = tmpl;
		remove_tree_at_exit = true;
		atexit(remove_tree);
		struct sigaction sa {};
		sa.sa_handler = on_signal;
		sigaction(SIGINT, &sa, nullptr);
		sigaction(SIGTERM, &sa, nullptr);
		sigaction(SIGHUP, &sa, nullptr);
	}
	lay_tree(o.make_tree);
	struct statfs fs;
	if (statfs(tree_dir.c_str(), &fs) != 0)
		die("statfs: %s", strerror(errno));
	bool tmpfs = fs.f_type == TMPFS_MAGIC;

	// The library prefers /dev/pwmchipN where one exists; point it at a
	// folder that has none, so every machine times the sysfs path.
	std::string sysfs_var = "QUORVIN_SYSFS_DIR=" + tree_dir;
	std::string dev_var = "QUORVIN_DEV_DIR=" + tree_dir + "/no-dev";
	for (char **e = environ; *e; ++e) {
		if (strncmp(*e, "QUORVIN_", 8) != 0)
			child_env.push_back(*e);
	}
	child_env.push_back(sysfs_var.data());
	child_env.push_back(dev_var.data());
	// The package as built beside the tool; nothing else reads this.
	std::string pythonpath_var = std::string("PYTHONPATH=") + PWM_BENCH_PYTHONPATH;
	if (*PWM_BENCH_PYTHONPATH)
		child_env.push_back(pythonpath_var.data());
	child_env.push_back(nullptr);

	row rows[] = {
		{ "-P 500000 -S 1", { "-P", "500000", "-S", "1" }, 500000, 1, true, {} },
		{ "(defaults)", {}, 50000, 1, false, {} },
		// Two waveforms: nearly all of such a run is process start-up.
		{ "-P 1 -S 1", { "-P", "1", "-S", "1" }, 1, 1, false, {} },
	};
	constexpr int table_rows = 2;
	// D's start-up (the interpreter and the package) is timed too, so that
	// its cost a waveform can be told from it.
	rows[0].with_python = rows[table_rows].with_python = *o.paths[prog_python] != '\0';
	// E likewise: its start-up (libstdc++ too) is told from its waveforms.
	rows[0].with_cxx = rows[table_rows].with_cxx = *o.paths[prog_cxx] != '\0';

	for (row &r : rows) {
		for (int i = 0; i < o.warmup + o.runs; ++i) {
			for (int p = 0; p < prog_count; ++p) {
				if ((p == prog_naive && !r.with_naive) ||
				    (p == prog_python && !r.with_python) || (p == prog_cxx && !r.with_cxx))
					continue;
				lay_tree(o.make_tree);
				sample s = run_once(o.paths[p], p == prog_python ? o.python_script : nullptr,
						    r);
				check_end_state(o.paths[p], r);
				bool counted = i >= o.warmup;
				if (counted)
					r.samples[p].push_back(s);
				if (o.verbose) {
					printf("%-16s %-13s %s %10.3f ms wall %10.3f ms cpu  maxrss %ld "
					       "KiB\n",
					       r.label, prog_names[p], counted ? "run   " : "warmup",
					       s.ns / 1e6, s.cpu_ns / 1e6, s.maxrss_kib);
				}
			}
		}
	}

	long inherited = inherited_kib();

	printf("tree: %s (%s), pinned to CPU %d\n"
	       "A: %s\n"
	       "runs: interleaved, %d warm-up + %d counted each, medians of "
	       "whole-process wall time (fork to wait4)\n\n",
	       tree_dir.c_str(), tmpfs ? "tmpfs" : "NOT tmpfs", o.cpu, o.paths[prog_tool], o.warmup, o.runs);
	printf("%-16s %9s %11s %11s %14s %7s %7s %12s\n", "sweep", "waveforms", "A ns/wf", "B ns/wf",
	       "C ns/wf", "A/B", "C/A", "A peak RSS");
	print_table(rows, table_rows, &sample::ns, true);

	// Wall time is what the targets are about, but on a shared machine it
	// also counts time the child sat preempted; CPU time does not, so a
	// wall ratio that it does not back up is noise.
	printf("\nby CPU time (user + sys) instead:\n");
	print_table(rows, table_rows, &sample::cpu_ns, false);

	const row &start = rows[table_rows];
	printf("\nstart-up, a whole run of %s: A %.0f us, B %.0f us\n", start.label,
	       median_of(start.samples[prog_tool], &sample::ns) / 1e3,
	       median_of(start.samples[prog_floor], &sample::ns) / 1e3);

	printf("\n");
	for (int i = 0; i < table_rows; ++i)
		print_paired_ratio(rows[i], prog_tool, prog_floor, "A/B");
	const row &big = rows[0];
	double da = 0;
	if (big.with_python) {
		const std::string title = std::string(
						  "Python, the same sweep in a loop of set_waveform (D: ") +
			o.paths[prog_python] + " " + o.python_script + ")";
		da = print_against_tool(big, start, prog_python, 'D', title);
	}
	double ea = 0;
	if (big.with_cxx) {
		const std::string title = std::string("C++, the same sweep over quorvin.hpp (E: ") +
			o.paths[prog_cxx] + ")";
		ea = print_against_tool(big, start, prog_cxx, 'E', title);
	}

	double ab = median_of(big.samples[prog_tool], &sample::ns) /
		median_of(big.samples[prog_floor], &sample::ns);
	double ca = median_of(big.samples[prog_naive], &sample::ns) /
		median_of(big.samples[prog_tool], &sample::ns);
	long rss = 0;
	for (const row &r : rows)
		rss = std::max(rss, max_rss(r.samples[prog_tool]));
	printf("\npeak RSS, largest of all counted runs: A %ld KiB, B %ld KiB, C %ld KiB "
	       "(ru_maxrss; a child inherits %ld KiB from this driver at fork)\n",
	       rss, max_rss(big.samples[prog_floor]), max_rss(big.samples[prog_naive]), inherited);
	printf("targets: A/B <= 1.02: %.3f %s; C/A >= 4: %.2f %s; A peak RSS <= 4 MiB: "
	       "%.2f MiB %s\n",
	       ab, ab <= 1.02 ? "met" : "MISSED", ca, ca >= 4 ? "met" : "MISSED",
	       static_cast<double>(rss) / 1024, rss <= 4096 ? "met" : "MISSED");
	if (big.with_python)
		printf("target: D/A <= 1.2 a waveform: %.3f %s\n", da, da <= 1.2 ? "met" : "MISSED");
	if (big.with_cxx)
		printf("target: E/A <= 1.01 a waveform: %.3f %s\n", ea, ea <= 1.01 ? "met" : "MISSED");
	if (!tmpfs) {
		printf("warning: %s is not on tmpfs, so the figures include a disk "
		       "filesystem's costs\n",
		       tree_dir.c_str());
	}
	return 0;
}
