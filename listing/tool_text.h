// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The texts pwm-detect and pwm-info share: version, help hint, messages.
#ifndef PWM_LISTING_TOOL_TEXT_H
#define PWM_LISTING_TOOL_TEXT_H

// The tool's name and the project's version, copyright and licence, on
// standard output.
void print_version(const char *tool);

// After getopt's own message: where to look, on standard error.
void print_help_hint(const char *tool);

// What both tools do with an option of theirs in common, or one getopt
// refused: -h prints usage, -v the version, anything else the help hint.
// The tool's exit status: 0 for -h and -v, 1 otherwise.
int common_option(const char *tool, int opt, void (*print_usage)());

// "tool: what: description of errno" on standard error.
void report_errno(const char *tool, const char *what);

// One line of help: how a chip may be named, shared by both tools' usage.
extern const char chip_help[];

#endif
