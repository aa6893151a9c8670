# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the arm64-udev guest (busybox sh, run by /init from /q): the
# arm64 guest's chips on 7.x, pwm-mediatek with its /dev/pwmchipN and
# pwm-bcm2835 through sysfs only (leds-pwm holds channel 3 and 1), with
# Debian 13's own systemd-udevd and the project's rule. The tool runs as
# insider (in the group pwm) and outsider (not in it), through su.
. /q/guest-lib.sh

echo "PLAN 8"
uname -r

M=$(chip_of pwm-mediatek)
L=$(chip_of bcm2835-pwm)

# The device node is root's until udev gives it the group; without it, the
# library's fallback to sysfs meets a root-only export as well.
begin root-only-before-udev
expect "/dev/pwmchip$M" "$(perms /dev/pwmchip$M)" "root 600"
RUN_AS=insider
run pwm-sweep -c "$M" -p 0 -P 1000 -S 500
RUN_AS=
expect "insider's exit status" "$rc" 1
expect "insider's stderr" "$err" "Failed to get pwm0: Permission denied"
finish

udev_start_case "$M"

begin rule-permissions
while IFS='|' read -r f want; do
	expect "$f" "$(perms "$f")" "$want"
done <<EOF
/dev/pwmchip$M|pwm 660
$SYS/pwmchip$M/export|pwm 220
$SYS/pwmchip$M/unexport|pwm 220
$SYS/pwmchip$L/export|pwm 220
$SYS/pwmchip$L/unexport|pwm 220
EOF
finish

# Through the device: the open file holds the channel, nothing is exported.
begin insider-sweeps-through-the-device
RUN_AS=insider
run pwm-sweep -c "$M" -p 0 -P 100000 -S 30000
RUN_AS=
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
[ -e $SYS/pwmchip$M/pwm0 ] && bad "the sweep went through sysfs"
expect "GETWF" "$(getwf "$M" 0)" "100000 90000 0"
finish

RUN_AS=insider
sweep_cases <<EOF
insider-sysfs-only-chip|$L|0|-c $L -p 0 -P 100000 -S 25000|100000 100000 1|absent
EOF
RUN_AS=

RUN_AS=outsider
failure_cases <<EOF
outsider-device-chip|-c $M -p 1|Failed to get pwm0: Permission denied|[ -e $SYS/pwmchip$M/pwm1 ] && bad "pwmchip$M/pwm1 got exported"
outsider-sysfs-only-chip|-c $L -p 0|Failed to get pwm0: Permission denied|expect_state $L 0 "100000 100000 1"
EOF
RUN_AS=

# A device node the user may not open: named, it is refused; listed, the
# chip shows as driven through sysfs, and why.
begin outsider-device-node-not-permitted
RUN_AS=outsider
run pwm-detect /dev/pwmchip$M
expect "named: exit status" "$rc" 1
expect "named: stderr" "$err" "pwm-detect: /dev/pwmchip$M: Permission denied"
run pwm-detect
RUN_AS=
expect "listed: exit status" "$rc" 0
expect "listed: the chip's line" "$(echo "$out" | grep "^pwmchip$M " | awk '{ print $NF }')" sysfs
expect "listed: stderr" "$err" "pwm-detect: /dev/pwmchip$M (driven through sysfs): Permission denied"
finish

echo END
