# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the x86-udev guest (busybox sh, run by /init from /q): the
# two pwm-lpss chips of the x86 guests on Debian 12's 6.1, with Debian 12's
# own systemd-udevd and the project's rule (/etc/udev/rules.d). The tool runs
# as insider (in the group pwm) and outsider (not in it), through su. Cases
# run in order, each from the state the previous one left.
. /q/guest-lib.sh

echo "PLAN 12"
uname -r

# shellcheck disable=SC2046 # one number a word
set -- $(chips)
A=$1
B=$2

# Summary of numbers on stdin, in microseconds: "median ... max ... ms".
summary_ms() {
	sort -n | awk '{ v[NR] = $1 } END { printf "median %.1f ms, max %.1f ms", v[int((NR + 1) / 2)] / 1000, v[NR] / 1000 }'
}
# How long the library waits after its own export for the attributes to
# become writable (export_wait_ns in quorvin/sysfs_channel.cpp).
LIB_WAIT_US=2000000

# --- before udev: all of it is root's ----------------------------------------
# A channel exported at boot before udev runs: its export event is gone for good.
echo 1 >$SYS/pwmchip$B/export

begin root-only-before-udev
expect "pwmchip$A/export" "$(perms $SYS/pwmchip$A/export)" "root 200"
expect "pwmchip$B/pwm1/period" "$(perms $SYS/pwmchip$B/pwm1/period)" "root 644"
RUN_AS=insider
run pwm-sweep -c "$A" -p 0 -P 1000 -S 500
RUN_AS=
expect "insider's exit status" "$rc" 1
expect "insider's stderr" "$err" "Failed to get pwm0: Permission denied"
[ -e $SYS/pwmchip$A/pwm0 ] && bad "pwmchip$A/pwm0 got exported"
finish

# --- udev starts, and replays every device as at boot ---------------------------
udev_start_case "$A"

# --- what the rule gives the group -------------------------------------------------
# pwmchip$B/pwm1 was exported before udev started: only the replay of the
# chip's add reaches it. npwm and capture are read-only and stay so.
begin rule-permissions
while IFS='|' read -r f want; do
	expect "$f" "$(perms "$SYS/$f")" "$want"
done <<EOF
pwmchip$A/export|pwm 220
pwmchip$A/unexport|pwm 220
pwmchip$B/export|pwm 220
pwmchip$B/unexport|pwm 220
pwmchip$B/pwm1/period|pwm 664
pwmchip$B/pwm1/duty_cycle|pwm 664
pwmchip$B/pwm1/enable|pwm 664
pwmchip$B/pwm1/polarity|pwm 664
pwmchip$B/pwm1/capture|root 444
pwmchip$A/npwm|root 444
EOF
finish

# --- sweeps by a user in the group ---------------------------------------------
# The library exports and waits for udev to hand over the attributes.
RUN_AS=insider
sweep_cases <<EOF
insider-own-export|$A|0|-c $A -p 0 -P 100000 -S 3000|100000 99000 1|absent|expect "pwm0 attributes" "\$(perms $SYS/pwmchip$A/pwm0/period $SYS/pwmchip$A/pwm0/duty_cycle $SYS/pwmchip$A/pwm0/enable $SYS/pwmchip$A/pwm0/polarity)" "pwm 664 pwm 664 pwm 664 pwm 664"
insider-exported-before-udev|$B|1|-c $B -p 1 -P 80000 -S 16000|80000 80000 1|enable=0
EOF
RUN_AS=

# The export while udev replays every device, as right after boot: the
# channel's event waits behind the chip's replayed add.
begin insider-own-export-under-trigger-burst
[ -e $SYS/pwmchip$A/pwm2 ] && bad "precondition: pwm2 already exported"
udevadm trigger --action=add &
trigger=$!
busy=$(queue_busy)
t0=$(uptime_s)
RUN_AS=insider
run pwm-sweep -c "$A" -p 2 -P 60000 -S 20000
RUN_AS=
t=$(secs_since "$t0")
after=no
[ -e /run/udev/queue ] && after=yes
wait $trigger
udevadm settle --timeout=60
expect "udev busy at the export" "$busy" yes
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect_state "$A" 2 "60000 60000 1"
echo "  sweep took $t s; udev still busy when it ended: $after"
finish

# --- a user outside the group --------------------------------------------------
RUN_AS=outsider
failure_cases <<EOF
outsider-not-exported|-c $A -p 1|Failed to get pwm0: Permission denied|[ -e $SYS/pwmchip$A/pwm1 ] && bad "pwmchip$A/pwm1 got exported"
outsider-exported-channel|-c $A -p 0|Failed to get pwm0: Permission denied|expect_state $A 0 "100000 99000 1"
EOF
RUN_AS=

begin insider-unexports
su -s /bin/sh insider -c "echo 2 >$SYS/pwmchip$A/unexport" || bad "insider's unexport failed"
[ -e $SYS/pwmchip$A/pwm2 ] && bad "pwmchip$A/pwm2 still exported"
udevadm settle --timeout=60
finish

# "udevadm trigger" without an action sends a plain change: it too gives a
# channel that lost its group back to it.
begin change-replay-restores
f=$SYS/pwmchip$B/pwm1/duty_cycle
chgrp root $f && chmod 644 $f || bad "resetting $f failed"
expect "reset" "$(perms $f)" "root 644"
udevadm trigger --subsystem-match=pwm && udevadm settle --timeout=60 || bad "udevadm trigger or settle failed"
expect "after the replay" "$(perms $f)" "pwm 664"
finish

# --- export until the group may write, as insider ---------------------------------
# export-timing prints "appeared_us writable_us". Every round must end
# writable (export-timing gives up after 5 s), and on an idle system within
# the library's own wait. Under the burst, rounds beyond that wait are
# counted, not failed: they depend on how many events are queued ahead of the
# export, and the tool's own case above is the one that must get in.
timing_rounds() { # name rounds burst
	begin "$1"
	: >/tmp/timing
	r=0
	late=0
	while [ "$r" -lt "$2" ]; do
		r=$((r + 1))
		[ "$3" = burst ] && {
			udevadm trigger --action=add &
			trigger=$!
			busy=$(queue_busy)
			expect "round $r: udev busy at the export" "$busy" yes
		}
		RUN_AS=insider
		run export-timing $SYS/pwmchip$A 3
		RUN_AS=
		[ "$3" = burst ] && wait $trigger
		udevadm settle --timeout=60
		expect "round $r: export-timing exit status" "$rc" 0
		[ "$rc" = 0 ] || echo "  $err"
		# shellcheck disable=SC2086 # two numbers
		set -- "$1" "$2" "$3" $out
		echo "  round $r: appeared after $4 us, writable after $5 us"
		if [ "${5:-$LIB_WAIT_US}" -ge "$LIB_WAIT_US" ]; then
			late=$((late + 1))
			[ "$3" = burst ] || bad "round $r: not writable within the library's wait"
		fi
		echo "${5:-$LIB_WAIT_US}" >>/tmp/timing
		su -s /bin/sh insider -c "echo 3 >$SYS/pwmchip$A/unexport" || bad "round $r: unexport failed"
		udevadm settle --timeout=60
	done
	echo "  $1: $(summary_ms </tmp/timing); $late of $2 beyond the library's wait"
	finish
}
timing_rounds export-timing-idle 7 idle
timing_rounds export-timing-burst 5 burst

echo END
