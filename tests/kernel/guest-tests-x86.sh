# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the x86 guests (busybox sh, run by /init from /q): two
# pwm-lpss chips, 4 channels each, on 6.1, 6.12 and 7.x. Cases on one channel
# run in order and each starts from the state the previous one left; each
# checks its own starting state where it matters.
. /q/guest-lib.sh

echo "PLAN 19"
uname -r

# The two chips in number order: A and B.
# shellcheck disable=SC2046 # one number a word
set -- $(chips)
A=$1
B=$2
# The lowest number that is no chip.
FREE=0
while [ -e $SYS/pwmchip$FREE ]; do FREE=$((FREE + 1)); done

# 6.1 names a chip after its first global PWM number; 6.12 numbers chips
# one by one.
begin chip-numbering
if kernel_at_least 6 12; then want="0 1"; else want="0 4"; fi
expect "chips" "$(chips | tr '\n' ' ')" "$want "
expect "npwm" "$(cat $SYS/pwmchip$A/npwm) $(cat $SYS/pwmchip$B/npwm)" "4 4"
# No x86 driver of these kernels has the waveform callbacks.
[ -e /dev/pwmchip$A ] && bad "/dev/pwmchip$A exists for pwm-lpss"
finish

# --- the kernel's own starting point -------------------------------------------
# The sweeps below rely on what a fresh export looks like on this kernel.
begin kernel-initial-state
echo 3 > $SYS/pwmchip$B/export || bad "export pwmchip$B/pwm3 failed"
expect "fresh pwmchip$B/pwm3" "$(state $B 3) $(attr $B 3 polarity)" "1000000000 1000000000 0 normal"
echo 3 > $SYS/pwmchip$B/unexport || bad "unexport pwmchip$B/pwm3 failed"
[ -e $SYS/pwmchip$B/pwm3 ] && bad "pwmchip$B/pwm3 still there after unexport"
finish

# --- sweeps that must succeed ----------------------------------------------------
{
	sysfs_sweep_rows $A
	echo "second-chip|$B|2|-c $B -p 2 -P 80000 -S 16000|80000 80000 1|absent"
} | sweep_cases

# The sweep on chip B must not have touched the same channel of chip A.
begin second-chip-leaves-first-alone
[ -e $SYS/pwmchip$A/pwm2 ] && bad "pwmchip$A/pwm2 got exported by a sweep of pwmchip$B"
expect "pwmchip$A channels" "$(attr $A 0 period) $(attr $A 0 duty_cycle)" "50000 50000"
finish

# --- failures the tool must report ----------------------------------------------
# The tool's message says pwmchip0 whatever chip was asked for.
failure_cases <<EOF2
channel-at-npwm|-c $A -p 4|Failed to get pwm0: Invalid argument
channel-beyond-npwm|-c $B -p 9|Failed to get pwm0: Invalid argument
missing-chip|-c 7|Failed to open pwmchip0: No such file or directory
missing-chip-first-free-number|-c $FREE|Failed to open pwmchip0: No such file or directory
EOF2

# --- channels someone else set up ------------------------------------------------
# Exported and enabled by the shell with a duty above the coming period: the
# first waveform only gets in if the duty goes down before the period.
begin takeover-shell-channel
c=$SYS/pwmchip$A
echo 1 > $c/export && echo 800000 > $c/pwm1/duty_cycle && echo 900000 > $c/pwm1/period &&
	echo 1 > $c/pwm1/enable || bad "shell setup of pwmchip$A/pwm1 failed"
expect "state left by the shell" "$(state $A 1)" "900000 800000 1"
run pwm-sweep -c $A -p 1 -P 600000 -S 50000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect_state $A 1 "600000 600000 1"
finish

# Left inversed: the waveform asked for is active for duty_length_ns from the
# start of the period, so the output must end up normal.
begin takeover-inversed-channel
c=$SYS/pwmchip$B
echo 1 > $c/export && echo 100000 > $c/pwm1/duty_cycle && echo 400000 > $c/pwm1/period &&
	echo inversed > $c/pwm1/polarity && echo 1 > $c/pwm1/enable || bad "shell setup of pwmchip$B/pwm1 failed"
expect "state left by the shell" "$(state $B 1) $(attr $B 1 polarity)" "400000 100000 1 inversed"
run pwm-sweep -c $B -p 1 -P 400000 -S 100000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "final state" "$(state $B 1) $(attr $B 1 polarity)" "400000 400000 1 normal"
finish

# Left disabled by a shell that set period 0 and then tried to enable. 6.1
# refuses the period at the write, so the channel ends up enabled on the
# fresh export's waveform; 6.12 and later take any state while the channel
# is disabled and refuse the enable instead, so the tool finds period 0
# under a duty of a second. It must get its waveform in either way.
begin takeover-disabled-period-zero
c=$SYS/pwmchip$B
echo 0 > $c/export || bad "export pwmchip$B/pwm0 failed"
echo 0 > $c/pwm0/period 2>/dev/null && period_rc=ok || period_rc=refused
echo 1 > $c/pwm0/enable 2>/dev/null && enable_rc=ok || enable_rc=refused
if kernel_at_least 6 12; then
	expect "period 0, then enable" "$period_rc $enable_rc $(state $B 0)" "ok refused 0 1000000000 0"
else
	expect "period 0, then enable" "$period_rc $enable_rc $(state $B 0)" "refused ok 1000000000 1000000000 1"
fi
run pwm-sweep -c $B -p 0 -P 100000 -S 30000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect_state $B 0 "100000 90000 1"
finish

# --- the library after a refused write --------------------------------------------
refused_write_case $A 2

# --- timing row: the tool against a bare pwrite loop, same file, same duties ---------
begin timing-row
(cd /q && ./ld.so --library-path /q/lib ./bin/bench-pair 7 \
	-- $(prog pwm-sweep -c $A -p 3 -P 300000 -S 1) \
	-- $(prog pwrite-loop $SYS/pwmchip$A/pwm3 300000 1)) >/tmp/bench 2>&1
rc=$?
sed 's/^/  /' /tmp/bench
echo "  (A = pwm-sweep -P 300000 -S 1, B = bare pwrite loop; 300001 duty writes each)"
expect "bench-pair exit status" "$rc" 0
expect_state $A 3 "300000 300000 1"
finish

echo END
