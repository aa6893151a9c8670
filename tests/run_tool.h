// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// Runs the project's tools as processes and collects what they left behind.
#ifndef PWM_SWEEP_TESTS_RUN_TOOL_H
#define PWM_SWEEP_TESTS_RUN_TOOL_H

#include <string>
#include <vector>

struct tool_run {
	int status; // exit status, or 128 + signal number
	std::string out;
	std::string err;
};

// Starts pwm-sweep with args and exactly the environment env (NAME=value
// entries), waits for it and returns its status and output.
tool_run run_tool(const std::vector<std::string> &args, const std::vector<std::string> &env);

// The same for the program at path, named name in its argv[0].
tool_run run_program(const std::string &path, const std::string &name, const std::vector<std::string> &args,
		     const std::vector<std::string> &env);

std::string read_file(const std::string &path);

// A fresh folder under TMPDIR or /tmp, removed with everything in it by
// remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string &dir);

#endif
