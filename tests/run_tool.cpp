// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#include "run_tool.h"

#include "tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::string read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream s;
	s << in.rdbuf();
	return s.str();
}

std::string make_temp_dir()
{
	const char *tmp = getenv("TMPDIR");
	std::string templ = std::string(tmp != nullptr ? tmp : "/tmp") + "/pwm-sweep-test.XXXXXX";
	if (mkdtemp(templ.data()) == nullptr)
		throw std::runtime_error("mkdtemp failed");
	return templ;
}

void remove_tree(const std::string &dir)
{
	std::filesystem::remove_all(dir);
}

tool_run run_tool(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
	return run_program(PWM_SWEEP_PATH, "pwm-sweep", args, env);
}

tool_run run_program(const std::string &path, const std::string &name, const std::vector<std::string> &args,
		     const std::vector<std::string> &env)
{
	const std::string dir = make_temp_dir();
	const std::string out = dir + "/out", err = dir + "/err";

	// Named as a user would call it, which getopt's messages repeat. In a
	// cross build an emulator starts it, and names it so itself.
	std::vector<char *> argv;
	for (const char *const *r = tool_runner; *r != nullptr; ++r)
		argv.push_back(const_cast<char *>(*r));
	const bool runner = !argv.empty();
	if (runner && tool_runner_names_program) {
		argv.push_back(const_cast<char *>("-0"));
		argv.push_back(const_cast<char *>(name.c_str()));
	}
	// An emulator's own loader would take a library to preload for itself:
	// qemu-user sets it in the program's environment with -E instead.
	std::vector<const std::string *> host_env;
	for (const auto &e : env) {
		if (runner && tool_runner_names_program && e.starts_with("LD_PRELOAD=")) {
			argv.push_back(const_cast<char *>("-E"));
			argv.push_back(const_cast<char *>(e.c_str()));
		} else {
			host_env.push_back(&e);
		}
	}
	argv.push_back(const_cast<char *>(runner ? path.c_str() : name.c_str()));
	const char *const program = runner ? tool_runner[0] : path.c_str();
	argv.reserve(argv.size() + args.size() + 1);
	for (const auto &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	std::vector<char *> envp;
	envp.reserve(host_env.size() + 1);
	for (const auto *e : host_env)
		envp.push_back(const_cast<char *>(e->c_str()));
	envp.push_back(nullptr);

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

	pid_t pid = 0;
	const int rc = posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data());
	posix_spawn_file_actions_destroy(&actions);
	if (rc != 0)
		throw std::runtime_error(std::string("cannot start ") + program);

	int wstatus = 0;
	waitpid(pid, &wstatus, 0);
	tool_run run;
	run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	run.out = read_file(out);
	run.err = read_file(err);
	remove_tree(dir);
	return run;
}
