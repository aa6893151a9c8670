// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Times two commands against each other, interleaved (A B A B ...) so that
// drift in the guest's speed hits both alike, and prints each round and the
// median of the A/B ratios. Both commands must exit 0.
//   bench-pair ROUNDS -- A ARGS... -- B ARGS...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static double now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Seconds the command took, or a negative value if it did not exit 0.
static double run(std::vector<char *> &cmd)
{
	double t0 = now();
	pid_t pid = fork();
	if (pid < 0)
		return -1;
	if (pid == 0) {
		execv(cmd[0], cmd.data());
		perror(cmd[0]);
		_exit(127);
	}
	int st;
	if (waitpid(pid, &st, 0) < 0)
		return -1;
	double t = now() - t0;
	if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
		fprintf(stderr, "bench-pair: %s exited with status %d\n", cmd[0],
			WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
		return -1;
	}
	return t;
}

static double median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	size_t n = v.size();
	return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char **argv)
{
	if (argc < 2) {
		fprintf(stderr, "usage: bench-pair ROUNDS -- A ARGS... -- B ARGS...\n");
		return 2;
	}
	int rounds = static_cast<int>(strtol(argv[1], nullptr, 10));
	std::vector<char *> a, b;
	std::vector<char *> *cur = nullptr;
	for (int i = 2; i < argc; i++) {
		if (strcmp(argv[i], "--") == 0) {
			cur = cur == nullptr ? &a : &b;
			continue;
		}
		if (cur == nullptr) {
			fprintf(stderr, "bench-pair: commands must follow --\n");
			return 2;
		}
		cur->push_back(argv[i]);
	}
	if (rounds < 1 || a.empty() || b.empty()) {
		fprintf(stderr, "usage: bench-pair ROUNDS -- A ARGS... -- B ARGS...\n");
		return 2;
	}
	a.push_back(nullptr);
	b.push_back(nullptr);

	std::vector<double> ta, tb, ratio;
	for (int r = 1; r <= rounds; r++) {
		double x = run(a);
		double y = run(b);
		if (x < 0 || y < 0)
			return 1;
		ta.push_back(x);
		tb.push_back(y);
		ratio.push_back(x / y);
		printf("round %d: A %.3f s, B %.3f s, A/B %.2f\n", r, x, y, x / y);
		fflush(stdout);
	}
	printf("median: A %.3f s, B %.3f s, median A/B %.2f over %d rounds\n", median(ta), median(tb),
	       median(ratio), rounds);
	return 0;
}
