#!/bin/sh
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Runs the examples on a made-up chip of two channels and checks what they
# print, their status and what they leave in the channels' files.
#   check-examples.sh EXAMPLES_DIR MAKE_PWM_TREE
set -eu
bin=$1
make_tree=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_tree" "$work/tree" 2
# The made-up tree only: no device folder, no debugfs listing.
export QUORVIN_SYSFS_DIR="$work/tree" QUORVIN_DEV_DIR="$work/no-dev" QUORVIN_DEBUGFS_PWM="$work/no-debugfs"
export LC_ALL=C
failed=0

# check STATUS EXPECTED PROGRAM ARGS...: stdout and stderr together.
check() {
	want_status=$1
	want=$2
	shift 2
	status=0
	got=$("$bin/$@" 2>&1) || status=$?
	if [ "$status" != "$want_status" ] || [ "$got" != "$want" ]; then
		printf 'FAIL: %s\nstatus %s, want %s; got:\n%s\nwant:\n%s\n' "$*" "$status" "$want_status" "$got" "$want" >&2
		failed=1
	fi
}

# the first line of a channel's attribute
attr() {
	head -n1 "$work/tree/pwmchip0/pwm$1/$2"
}

check 0 'pwmchip0 (no parent device), 2 channels, sysfs
  channel 0, sysfs, off
  channel 1, sysfs, off' quorvin-chips

check 0 'pwmchip0 channel 1: period 40000 ns, duty 16000 ns' quorvin-fan 0 1
[ "$(attr 1 period) $(attr 1 duty_cycle) $(attr 1 enable)" = "40000 16000 1" ] || {
	echo "FAIL: quorvin-fan left pwm1 at $(attr 1 period) $(attr 1 duty_cycle) $(attr 1 enable)" >&2
	failed=1
}
check 0 'pwmchip0 channel 1: period 1000000 ns, duty 1000000 ns' quorvin-fan pwmchip0 1 1000 1
check 1 'quorvin-fan: cannot open pwmchip7: No such file or directory' quorvin-fan 7 0
check 1 'quorvin-fan: cannot open "4ff00000.pwm": No such file or directory' quorvin-fan 4ff00000.pwm 0
check 1 'quorvin-fan: cannot export pwmchip0 channel 2: Invalid argument' quorvin-fan 0 2
check 1 'quorvin-fan: quorvin::waveform: duty ratio is not within 0 to 1' quorvin-fan 0 0 25000 1.5
check 1 'quorvin-fan: quorvin::waveform: frequency is so high that the period rounds to 0 ns' quorvin-fan 0 0 3e9
check 2 'usage: quorvin-fan CHIP CHANNEL [HZ [RATIO]]' quorvin-fan 0

check 0 'pulse 1000 us: period 20000000 ns, duty 1000000 ns
pulse 1100 us: period 20000000 ns, duty 1100000 ns
pulse 1200 us: period 20000000 ns, duty 1200000 ns
pulse 1300 us: period 20000000 ns, duty 1300000 ns
pulse 1400 us: period 20000000 ns, duty 1400000 ns
pulse 1500 us: period 20000000 ns, duty 1500000 ns
pulse 1600 us: period 20000000 ns, duty 1600000 ns
pulse 1700 us: period 20000000 ns, duty 1700000 ns
pulse 1800 us: period 20000000 ns, duty 1800000 ns
pulse 1900 us: period 20000000 ns, duty 1900000 ns
pulse 2000 us: period 20000000 ns, duty 2000000 ns
pulse 1500 us: period 20000000 ns, duty 1500000 ns' quorvin-servo pwmchip0 0 0
[ "$(attr 0 period) $(attr 0 duty_cycle) $(attr 0 enable)" = "20000000 1500000 1" ] || {
	echo "FAIL: quorvin-servo left pwm0 at $(attr 0 period) $(attr 0 duty_cycle) $(attr 0 enable)" >&2
	failed=1
}
check 1 'quorvin-servo: cannot open pwmchip3: No such file or directory' quorvin-servo 3 0 0

check 0 'pwmchip0 (no parent device), 2 channels, sysfs
  channel 0, sysfs, period 20000000 ns, duty 1500000 ns
  channel 1, sysfs, period 1000000 ns, duty 1000000 ns' quorvin-chips
check 0 'pwmchip0 (no parent device), 2 channels, sysfs
  channel 1, sysfs, period 1000000 ns, duty 1000000 ns' quorvin-chips pwmchip0 1
check 1 'pwmchip0 (no parent device), 2 channels, sysfs
quorvin-chips: cannot describe pwmchip0 channel 2: Invalid argument' quorvin-chips 0 2

rm -rf "$work/tree"
check 0 'no PWM chips' quorvin-chips

[ "$failed" = 0 ] && echo "examples: ok"
exit "$failed"
