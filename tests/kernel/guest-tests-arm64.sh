# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the arm64 and armhf guests (busybox sh, run by /init from
# /q) on 7.x: a chip with the waveform callbacks and so /dev/pwmchipN
# (pwm-mediatek on arm64, an STM32 timer's pwm-stm32 on armhf), and
# pwm-bcm2835, a legacy chip reached through sysfs only; leds-pwm holds
# bcm2835 channel 1 and, on arm64, mediatek channel 3. Cases on one channel
# run in order and each starts from the state the previous one left. Where
# the harness brought Python along, the quorvin package's rows run last.
. /q/guest-lib.sh

L=$(chip_of bcm2835-pwm)
# Where the two waveform drivers answer differently, the rows take the
# answer from here.
if [ -n "$(chip_of stm32-pwm)" ]; then
	W=stm32
	M=$(chip_of stm32-pwm)
	PLAN=59
	# 209 MHz ticks are 4.785 ns: multiples of 1000 ns are exact, other
	# duties round down to a tick, read back rounded up to a whole ns.
	ROUNDED="100000 99096 0"
	ROUNDED_DBG="99096/100000 [+0]"
	# The four channels share one period: another channel runs at the
	# one that channel 0 set.
	OTHER_CHANNEL="-P 100000 -S 7000|100000 98000 0"
	# Below one tick (the shortest period, 5 ns).
	TOO_SHORT=4
	ROUND_UP=5
	READ_BACK=100000/99096/0
	# The driver reads a stopped channel back as period 0.
	FRESH="0 0 0 normal"
	# No LED on the timer: see pwm-chips-armhf.dtsi.
	LEDS="legacy-ch1 "
	# The channel an LED holds, and the label the kernel gives its holder.
	LED_CHIP=$L LED_CH=1 LED_LABEL=led-1
	DETECT="pwmchip0 [4ff00000.timer:pwm] (4 channels) stm32-pwm /dev/pwmchip0
pwmchip1 [4ff01000.pwm] (2 channels) bcm2835-pwm sysfs"
	MDEV_NAME=4ff00000.timer:pwm
	FREE_CHANNELS=5
	FREE_ON_M=4
else
	W=mediatek
	M=$(chip_of pwm-mediatek)
	PLAN=56
	# 26 MHz ticks are 38.46 ns.
	ROUNDED="100000 99077 0"
	ROUNDED_DBG="99077/100000 [+0]"
	OTHER_CHANNEL="-P 50000 -S 7000|50000 49000 0"
	# Below the shortest period (39 ns).
	TOO_SHORT=30
	ROUND_UP=39
	READ_BACK=100000/99077/0
	# What 7.x shows for an idle channel of a waveform chip here: its
	# shortest period, enabled, duty 0.
	FRESH="39 0 1 normal"
	LEDS="legacy-ch1 waveform-ch3 "
	LED_CHIP=$M LED_CH=3 LED_LABEL=led-2
	DETECT="pwmchip0 [4ff00000.pwm] (4 channels) pwm-mediatek /dev/pwmchip0
pwmchip1 [4ff01000.pwm] (2 channels) bcm2835-pwm sysfs"
	MDEV_NAME=4ff00000.pwm
	FREE_CHANNELS=4
	FREE_ON_M=3
fi
# The Python package's rows, where the harness brought Python along.
PY_ROWS=0
[ -x /q/bin/python3 ] && PY_ROWS=7
echo "PLAN $((PLAN + PY_ROWS))"
# shellcheck disable=SC2086 # split into its four fields
FRESH_ENABLE=$(set -- $FRESH; echo "$3")
# The first digit of an idle channel's period read back through the device.
FREE_GETWF=$(echo "$FRESH" | cut -c1)
uname -r
mount -t debugfs debugfs /sys/kernel/debug 2>/dev/null

# dbg CHIP CHANNEL requested|actual: a channel's configuration as debugfs
# shows it: the last state applied, and on a waveform chip what the driver
# reads back from the hardware ("duty/period [+offset]"). Reading it takes
# nothing from the channel's holder.
dbg() {
	awk -v chip="$1:" -v ch="pwm-$2" -v what="$3 configuration" '
		/^[0-9]+: / { c = $1 }
		c == chip && $1 == ch { f = 1; next }
		f && index($0, what) { sub(".*" what ": *", ""); print; exit }
		/^ pwm-/ { f = 0 }' /sys/kernel/debug/pwm
}

# A sweep in the background, for the cases about a channel someone holds:
# 300001 waveforms, a couple of seconds. Once its period shows, it holds
# the channel (each case starts from another period).
start_bg() { # chip channel
	(cd /q && ./ld.so --library-path /q/lib ./bin/pwm-sweep -c "$1" -p "$2" -P 300000 -S 1 </dev/null \
		>/tmp/bg.out 2>/tmp/bg.err
		echo $? >/tmp/bg.rc) &
	bg=$!
	i=0
	until dbg "$1" "$2" requested | grep -q '/300000 ns'; do
		i=$((i + 1))
		[ "$i" -gt 100 ] && { bad "the background sweep never applied its period"; break; }
		sleep 0.02
	done
}
# On a chip whose channels share one period (stm32), a channel may only take
# a period of its own while no other runs: switches the given channels off,
# through the device or, where exported, through sysfs. Nothing elsewhere.
# (Its variables are named apart: sh has no locals, and callers' loops read
# chip and ch.)
shared_period_off() { # chip channel...
	off_chip=$1
	shift
	[ "$W" = stm32 ] || return 0
	for off_ch in "$@"; do
		if [ -e "$SYS/pwmchip$off_chip/pwm$off_ch" ]; then
			echo 0 >"$SYS/pwmchip$off_chip/pwm$off_ch/enable" || bad "cannot switch off pwmchip$off_chip/pwm$off_ch"
		else
			run pwm-sweep -c "$off_chip" -p "$off_ch" -P 0
			[ "$rc" = 0 ] || bad "cannot switch off channel $off_ch: $err"
		fi
	done
}

# Fails the case if the background sweep had ended already, which would
# leave nothing tested.
still_running() { kill -0 "$bg" 2>/dev/null || bad "the background sweep ended too soon: $(cat /tmp/bg.err)"; }
wait_bg() {
	wait "$bg"
	expect "background sweep exit status" "$(cat /tmp/bg.rc)" 0
	expect "background sweep stderr" "$(cat /tmp/bg.err)" ""
}

# Chips are numbered in bind order: the harness loads mediatek first.
begin chips-found
expect "waveform ($W), bcm2835 chips" "$M $L" "0 1"
expect "npwm" "$(cat $SYS/pwmchip$M/npwm) $(cat $SYS/pwmchip$L/npwm)" "4 2"
[ -c /dev/pwmchip$M ] || bad "no /dev/pwmchip$M for the waveform chip"
[ -e /dev/pwmchip$L ] && bad "/dev/pwmchip$L exists for the legacy chip"
expect "leds-pwm" "$(ls /sys/class/leds | tr '\n' ' ')" "$LEDS"
finish

# --- the companion tools, on the chips as they came up ------------------------------
# Only looking: afterwards nothing is exported and every free channel of the
# waveform chip can still be requested.
nothing_taken() {
	[ -z "$(ls -d $SYS/pwmchip*/pwm* 2>/dev/null)" ] || bad "left exported: $(ls -d $SYS/pwmchip*/pwm*)"
	expect "GETWF of channel 0 afterwards" "$(getwf $M 0 | cut -c1)" "$FREE_GETWF"
}
begin tools-detect
run pwm-detect
show
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "output" "$out" "$DETECT"
finish
begin tools-info
run pwm-info
show
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "held by an LED" "$(echo "$out" | grep -c 'kernel consumer="led-')" "$(echo $LEDS | wc -w)"
expect "free" "$(echo "$out" | grep -c '	free	')" "$FREE_CHANNELS"
nothing_taken
finish
begin tools-info-rounding
run pwm-info -P 100000 $MDEV_NAME
show
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "free channels asked" "$(echo "$out" | grep -c 'rounded period=100000 ')" "$FREE_ON_M"
nothing_taken
finish

# Looking takes nothing, not even for a moment: pwm-info in a loop while the
# LED driver unbinds and binds again 150 times (its probe requests its
# channels) and channel 2 of the waveform chip is exported and unexported 500
# times. A channel requested by the looking would fail a probe or an export
# with EBUSY now and then.
begin looking-beside-binding
leds=/sys/bus/platform/drivers/leds_pwm
led_dev=
for e in "$leds"/*; do
	[ -L "$e" ] && [ "${e##*/}" != module ] && led_dev=${e##*/}
done
[ -n "$led_dev" ] || bad "no device bound to leds_pwm"
rm -f /tmp/stop-looking /tmp/looked /tmp/described /tmp/describing
# The tool, and where Python came along, the library in a loop of its own
# (many more descriptions a second than a process each).
(
	while [ ! -e /tmp/stop-looking ]; do
		(cd /q && ./ld.so --library-path /q/lib ./bin/pwm-info >/dev/null 2>&1) && echo >>/tmp/looked
	done
) &
looker=$!
describer=
if [ -x /q/bin/python3 ]; then
	(cd /q && ./ld.so --library-path /q/lib ./bin/python3 -c '
import os, quorvin
chips = [quorvin.Chip(n) for n in quorvin.chips()]
rounds = 0
open("/tmp/describing", "w").close()
while not os.path.exists("/tmp/stop-looking"):
    for chip in chips:
        for ch in range(chip.npwm):
            chip.info(ch)
    rounds += 1
print(rounds)' >/tmp/described 2>&1) &
	describer=$!
	# Its start-up takes seconds under emulation: the loops below wait for it.
	i=0
	while [ ! -e /tmp/describing ] && [ $i -lt 600 ]; do
		sleep 0.1
		i=$((i + 1))
	done
fi
probe_failed=0
i=0
while [ $i -lt 150 ]; do
	echo "$led_dev" >"$leds/unbind"
	echo "$led_dev" >"$leds/bind" 2>/dev/null || probe_failed=$((probe_failed + 1))
	i=$((i + 1))
done
export_failed=0
i=0
while [ $i -lt 500 ]; do
	echo 2 >"$SYS/pwmchip$M/export" 2>/dev/null || export_failed=$((export_failed + 1))
	echo 2 >"$SYS/pwmchip$M/unexport" 2>/dev/null
	i=$((i + 1))
done
touch /tmp/stop-looking
wait $looker $describer
looked=$(wc -l </tmp/looked)
echo "  pwm-info ran $looked times beside them"
[ "$looked" -gt 0 ] || bad "pwm-info never ran to the end"
if [ -n "$describer" ]; then
	echo "  and the library described every channel $(cat /tmp/described) times over"
	grep -qx '[1-9][0-9]*' /tmp/described || bad "the describing loop: $(cat /tmp/described)"
fi
expect "LED probes failed" "$probe_failed" 0
expect "exports failed" "$export_failed" 0
expect "LED bound at the end" "$([ -L "$leds/$led_dev" ] && echo yes)" yes
nothing_taken
finish

# --- sweeps through the character device --------------------------------------
# name | channel | tool options | final waveform read back with GETWF
# The device path leaves the channel out of sysfs. Multiples of 1000 ns are
# exact on both chips; other duties round down to a tick.
device_sweep_cases() {
	while IFS='|' read -r cname ch opts want; do
		begin "$cname"
		# shellcheck disable=SC2086 # options are split on purpose
		run pwm-sweep $opts
		expect "exit status" "$rc" 0
		expect "stderr" "$err" ""
		expect "stdout" "$out" ""
		expect "GETWF" "$(getwf $M "$ch")" "$want"
		[ -e $SYS/pwmchip$M/pwm$ch ] && bad "the sweep exported pwm$ch through sysfs"
		finish
	done
}
device_sweep_cases <<EOF2
device-sweep-up|0|-c $M -p 0 -P 100000 -S 3000|100000 99000 0
device-sweep-down|0|-c $M -p 0 -P 315000 -S -2000|315000 1000 0
device-duty-rounds-down|0|-c $M -p 0 -P 100000 -S 1001|$ROUNDED
device-other-channel|2|-c $M -p 2 $OTHER_CHANNEL
EOF2

# --- failures the tool must report ----------------------------------------------
# name | tool options | stderr line | what must hold afterwards
# A period below the chip's shortest: the device would turn the output off
# and call that success, so the tool must refuse it itself.
{
	cat <<EOF2
device-refused-waveform|-c $M -p 0 -P $TOO_SHORT -S 1|Failed to configure PWM: Invalid argument|expect "GETWF" "\$(getwf $M 0)" "$ROUNDED"
device-channel-at-npwm|-c $M -p 4|Failed to get pwm0: Invalid argument
sysfs-channel-at-npwm|-c $L -p 2|Failed to get pwm0: Invalid argument
sysfs-channel-driver-holds|-c $L -p 1 -P 1000 -S 500|Failed to get pwm0: Device or resource busy
missing-chip|-c 7|Failed to open pwmchip0: No such file or directory
EOF2
	[ "$W" = mediatek ] && echo "device-channel-driver-holds|-c $M -p 3 -P 1000 -S 500|Failed to get pwm0: Device or resource busy"
} | failure_cases

# --- sysfs: the legacy chip, and a channel of the waveform chip exported by hand ---
# On a waveform chip 7.x rounds what sysfs asks for as the device does, and
# sysfs goes on showing the request.
begin sysfs-export-on-device-chip
echo 1 > $SYS/pwmchip$M/export || bad "export pwmchip$M/pwm1 failed"
expect "fresh pwmchip$M/pwm1" "$(state $M 1) $(attr $M 1 polarity)" "$FRESH"
# The sysfs sweeps below set periods of their own.
shared_period_off $M 0 2
expect "GETWF of the exported channel" "$(getwf $M 1)" "<cdev-probe: PWM_IOCTL_REQUEST: Device or resource busy>"
finish

{
	sysfs_sweep_rows $L
	cat <<EOF2
sysfs-exported-device-channel|$M|1|-c $M -p 1 -P 200000 -S 30000|200000 180000 1|enable=$FRESH_ENABLE
sysfs-on-waveform-chip-rounds|$M|1|-c $M -p 1 -P 100000 -S 1001|100000 99099 1|enable=1|expect "hardware" "\$(dbg $M 1 actual)" "$ROUNDED_DBG"
EOF2
} | sweep_cases

refused_write_case $L 0

# --- one holder per channel -------------------------------------------------------
# name | chip | channel | how the final waveform is read | what it must be
# A second sweep of a channel that a first one holds must be turned away at
# once, and the first must finish undisturbed.
while IFS='|' read -r cname chip ch how want; do
	begin "$cname"
	[ "$chip" = "$M" ] && shared_period_off $M 1
	start_bg "$chip" "$ch"
	run pwm-sweep -c "$chip" -p "$ch" -P 200000 -S 70000
	still_running
	expect "second sweep exit status" "$rc" 1
	expect "second sweep stderr" "$err" "Failed to get pwm0: Device or resource busy"
	wait_bg
	expect "final waveform" "$($how "$chip" "$ch")" "$want"
	finish
done <<EOF2
device-two-sweeps-one-channel|$M|0|getwf|300000 300000 0
sysfs-two-sweeps-one-channel|$L|0|state|300000 300000 1
EOF2

# The device holds the channel for as long as the tool has the chip open.
begin sysfs-export-while-device-holds
start_bg $M 2
echo 2 > $SYS/pwmchip$M/export 2>/tmp/export.err && bad "export of pwmchip$M/pwm2 succeeded while the tool held it"
still_running
[ -e $SYS/pwmchip$M/pwm2 ] && bad "pwmchip$M/pwm2 appeared in sysfs"
wait_bg
expect "GETWF" "$(getwf $M 2)" "300000 300000 0"
finish

# --- what a sweep costs in system calls ---------------------------------------------
# The kernel's syscall tracing counts the tool's ioctls, by command:
#   0x7502     PWM_IOCTL_FREE at open: tells a PWM chip from another device
#   0x7501     PWM_IOCTL_REQUEST of the channel
#   0xc0207504 PWM_IOCTL_GETWF twice, for the first waveform: what the
#              channel ran before (put back if the call fails) and, after the
#              set, that the hardware runs what was promised
#   0xc0207503 PWM_IOCTL_ROUNDWF once, when the period is new: checks the
#              hardware can do it before anything is applied
#   0x40207506 PWM_IOCTL_SETEXACTWF once: sets the first waveform as checked
#   0x40207505 PWM_IOCTL_SETROUNDEDWF, one per further waveform: 100 for
#              -P 100000 -S 1000
begin ioctl-per-waveform
shared_period_off $M 0
T=/sys/kernel/tracing
if mount -t tracefs tracefs $T 2>/dev/null || [ -e $T/trace ]; then
	echo 0 >$T/tracing_on
	: >$T/trace
	echo 1 >$T/events/syscalls/sys_enter_ioctl/enable
	# Tracing starts once the pid filter names this shell, which then
	# becomes the tool.
	sh -c "echo \$\$ >$T/set_event_pid; echo 1 >$T/tracing_on; cd /q &&
		exec ./ld.so --library-path /q/lib ./bin/pwm-sweep -c $M -p 2 -P 100000 -S 1000" \
		</dev/null >/tmp/stdout 2>/tmp/stderr
	rc=$?
	echo 0 >$T/tracing_on
	: >$T/set_event_pid
	echo 0 >$T/events/syscalls/sys_enter_ioctl/enable
	counts=$(grep -o 'cmd: 0x[0-9a-f]*' $T/trace | sort | uniq -c | awk '{ printf "%s:%s ", $3, $1 }')
	echo "  ioctls by command: $counts"
	expect "exit status" "$rc" 0
	expect "stderr" "$(cat /tmp/stderr)" ""
	expect "ioctls" "$counts" "0x40207505:100 0x40207506:1 0x7501:1 0x7502:1 0xc0207503:1 0xc0207504:2 "
	expect "GETWF" "$(getwf $M 2)" "100000 100000 0"
else
	bad "no tracefs"
fi
finish

# --- stm32 only: its shortest period, a 32-bit kernel, one period per timer ---------
if [ "$W" = stm32 ]; then
	# Period 0 stops a channel: the timer's period is free again.
	begin all-channels-off
	shared_period_off $M 2
	expect "GETWF of channels 0 and 2" "$(getwf $M 0), $(getwf $M 2)" "0 0 0, 0 0 0"
	expect_state $M 1 "- - 0"
	finish

	# -c and -p take all 32 bits on a 32-bit target too (3000000000 is a
	# chip that is not there); 2^32 and a number past 64 bits are refused
	# before any chip opens, never cut to chip 0.
	device_sweep_cases <<EOF2
device-shortest-period|0|-c $M -p 0 -P 5 -S 5|5 5 0
device-200000|0|-c $M -p 0 -P 200000 -S 50000|200000 200000 0
EOF2
	failure_cases <<EOF2
device-below-one-tick|-c $M -p 0 -P 4 -S 1|Failed to configure PWM: Invalid argument|expect "GETWF" "\$(getwf $M 0)" "200000 200000 0"
chip-3000000000|-c 3000000000|Failed to open pwmchip0: No such file or directory
chip-and-channel-2^32-refused|-c 4294967296 -p 4294967296 -P 100000 -S 50000|Invalid chip number: Invalid argument|expect "GETWF" "\$(getwf $M 0)" "200000 200000 0"
chip-beyond-64-bits|-c 99999999999999999999|Invalid chip number: Invalid argument
EOF2

	# While channel 1 runs at 60 s, channel 0 can only have 60 s: a sweep
	# that asks for less must be refused before channel 0's output moves.
	begin shared-period-refused
	run pwm-sweep -c $M -p 0 -P 60000000000 -S 60000000000
	expect "channel 0 at 60 s" "$rc $(getwf $M 0)" "0 60000000000 60000000000 0"
	{ echo 60000000000 >$SYS/pwmchip$M/pwm1/period && echo 1000 >$SYS/pwmchip$M/pwm1/duty_cycle &&
		echo 1 >$SYS/pwmchip$M/pwm1/enable; } 2>/tmp/sysfs.err || bad "channel 1 at 60 s: $(cat /tmp/sysfs.err)"
	expect "channel 1, sysfs" "$(state $M 1)" "60000000000 1000 1"
	run pwm-sweep -c $M -p 0 -P 100000 -S 1000
	expect "exit status" "$rc" 1
	expect "stderr" "$err" "Failed to configure PWM: Invalid argument"
	expect "channel 0 afterwards" "$(getwf $M 0)" "60000000000 60000000000 0"
	finish
fi

# --- the waveform contract, call by call ---------------------------------------------
# name | chip | channel | wf-seq steps, in order on one handle | their answers
#   [| how the end state is read | that state [| a command run first]]
# getwf reads the hardware through the device; full_state is sysfs's
# "period duty enable polarity".
full_state() { echo "$(state "$1" "$2") $(attr "$1" "$2" polarity)"; }
D=/sys/kernel/debug
shared_period_off $M 0 1 2
{
	if [ "$W" = stm32 ]; then
		# stm32 makes an offset only where the active part ends at the
		# period's end: whether it can depends on the duty. Its channels
		# share one period. After an offset, then off, it runs the next
		# waveform with the old polarity until that is written again.
		cat <<EOF2
device-offset-checked-on-duty-step|$M|0|100000/50000/0 100000/50000/50000 100000/40000/50000|ok ok EOPNOTSUPP|getwf|100000 50000 50000
device-old-polarity-not-kept|$M|0|100000/50000/50000 100000/60000/40000 0/0/0 100000/0/0|ok ok ok ok|getwf|100000 0 0
device-period-is-the-reason|$M|2|100000/60000/40000 100000/60000/0|EINVAL EINVAL|getwf|0 0 0|shared_period_off $M 0; echo 300000 >$SYS/pwmchip$M/pwm1/period; echo 150000 >$SYS/pwmchip$M/pwm1/duty_cycle; echo 1 >$SYS/pwmchip$M/pwm1/enable
sysfs-refused-period-restored|$M|3|300000/250000/0 50000/10000/0|ok EINVAL|full_state|300000 250000 1 normal|echo 3 >$SYS/pwmchip$M/export
sysfs-inversed-dropped-refused|$M|3|100000/50000/0 100000/33333/66667|ok EOPNOTSUPP|full_state|100000 50000 1 normal|echo 0 >$SYS/pwmchip$M/pwm1/enable
sysfs-inversed-unseen-refused|$M|3|100000/25000/75000|EOPNOTSUPP|full_state|100000 50000 1 normal|umount $D
EOF2
	else
		# mediatek makes no offset, and runs duty 0 as off (its shortest
		# period, duty 0).
		cat <<EOF2
device-offset-checked-on-duty-step|$M|0|100000/50000/0 100000/50000/50000 100000/40000/50000|ok EOPNOTSUPP EOPNOTSUPP|getwf|100000 50000 0
device-old-polarity-not-kept|$M|0|100000/50000/50000 100000/60000/40000 0/0/0 100000/0/0|EOPNOTSUPP EOPNOTSUPP ok ok|getwf|39 0 0
sysfs-refused-period-restored|$M|1|100000/50000/0 30/10/0|ok EINVAL|full_state|100000 50000 1 normal
sysfs-inversed-dropped-refused|$M|1|100000/50000/0 100000/25000/75000|ok EOPNOTSUPP|full_state|100000 50000 1 normal
sysfs-inversed-unseen-refused|$M|1|100000/25000/75000|EOPNOTSUPP|full_state|100000 50000 1 normal|umount $D
EOF2
	fi
	# bcm2835 has no read-back: its inversed polarity is taken on its word.
	cat <<EOF2
sysfs-legacy-refused-period-restored|$L|0|100000/50000/0 30/10/0|ok EINVAL|full_state|100000 50000 1 normal|mount -t debugfs debugfs $D
sysfs-legacy-refused-after-polarity-restored|$L|0|100000/50000/0 100000/30000/70000 100000/50000/0 30/10/20|ok ok ok EINVAL|full_state|100000 50000 1 normal
sysfs-legacy-inversed|$L|0|100000/25000/75000|ok|full_state|100000 75000 1 inversed
EOF2
} | contract_cases

# A sibling switching on at ten times the period and off again, as fast as
# it can, through raw ioctls: no success may leave another period running.
if [ "$W" = stm32 ]; then
	begin device-sibling-races
	echo 0 >$SYS/pwmchip$M/pwm3/enable
	run race-check $M 0 2 1500 100000 50000
	echo "  $out"
	expect "race-check exit status" "$rc" 0
	expect "stderr" "$err" ""
	finish
fi

# --- chips by names that do not move; the hardware read back and asked -------------
# contract_cases rows; the chip by number or by name.
MDEV=$(basename "$(readlink $SYS/pwmchip$M/device)")
MNODE=$(sed -n 's/^OF_FULLNAME=//p' $SYS/pwmchip$M/device/uevent)
MDRV=$(basename "$(readlink $SYS/pwmchip$M/device/driver)")
LCHIP="pwmchip$L:4ff01000.pwm:bcm2835-pwm"
echo "  waveform chip's parent: $MDEV, node $MNODE, driver $MDRV"
shared_period_off $M 0 1 2
contract_cases <<EOF2
by-name-parent|4ff01000.pwm|0|chip|$LCHIP
by-name-node-path|/pwm@4ff01000|0|chip|$LCHIP
by-name-alias|boardpwm0|0|chip|$LCHIP
by-name-waveform-chip-parent|$MDEV|0|chip|pwmchip$M:$MDEV:$MDRV
by-name-waveform-chip-node-path|$MNODE|0|chip|pwmchip$M:$MDEV:$MDRV
by-name-pwmchipN|pwmchip$M|0|chip|pwmchip$M:$MDEV:$MDRV
by-name-sysfs-path|$SYS/pwmchip$M|0|chip|pwmchip$M:$MDEV:$MDRV
by-name-device-path|/dev/pwmchip$M|0|chip|pwmchip$M:$MDEV:$MDRV
device-read-back-and-rounding|$M|0|100000/99099/0 get round=100000/50001/0 round=$TOO_SHORT/0/0 get|ok $READ_BACK 100000/50000/0 $ROUND_UP/0/0 $READ_BACK
sysfs-read-back-no-rounding|$L|0|100000/50000/0 get round=100000/50001/0 get|ok 100000/50000/0 EOPNOTSUPP 100000/50000/0
EOF2

# --- figures: A/B medians over interleaved rounds ------------------------------------
# Not on the armhf guest, where a 200 000-waveform sweep takes 8 s or more.
# (a) the tool through the device against a bare loop of one SETROUNDEDWF per
#     waveform, same channel, same duties;
# (b) the tool through the device against the same tool on sysfs, on a
#     channel of the same chip exported by hand.
if [ "$W" = mediatek ]; then
	while IFS='|' read -r cname a b want_a want_b; do
		begin "$cname"
		# shellcheck disable=SC2086
		(cd /q && ./ld.so --library-path /q/lib ./bin/bench-pair 7 -- $(prog $a) -- $(prog $b)) </dev/null >/tmp/bench 2>&1
		rc=$?
		sed 's/^/  /' /tmp/bench
		echo "  (A = $a; B = $b)"
		[ "$cname" = figure-device-vs-bare-ioctl ] && echo "  (target: median A/B at most 1.05)"
		expect "bench-pair exit status" "$rc" 0
		expect "channel 0, GETWF" "$(getwf $M 0)" "$want_a"
		expect "channel 1, sysfs" "$(state $M 1)" "$want_b"
		finish
	done <<EOF2
figure-device-vs-bare-ioctl|pwm-sweep -c $M -p 0 -P 200000 -S 1|cdev-probe loop $M 0 200000 1|200000 200000 0|100000 50000 1
figure-device-vs-sysfs|pwm-sweep -c $M -p 0 -P 200000 -S 1|pwm-sweep -c $M -p 1 -P 200000 -S 1|200000 200000 0|200000 200000 1
EOF2
fi

# --- pwm-set on the legacy chip (sysfs only) ----------------------------------------
# It sets the waveform and exits; the channel stays exported and runs it.
begin set-legacy-runs-after-exit
run pwm-set -c "$L" -p 0 -P 100us -d 25%
expect "exit status, output" "$rc $out$err" "0 "
expect "sysfs" "$(state "$L" 0)" "100000 25000 1"
expect "debugfs" "$(dbg "$L" 0 requested)" "enabled, 25000/100000 ns, normal polarity"
finish
begin set-legacy-verbose
run pwm-set -c "$L" -p 0 -f 5kHz -d 50% -v
# pwm-bcm2835 cannot read its hardware back: -v shows what the kernel
# accepted, and says so.
expect "exit status, stderr" "$rc $err" "0 pwm-set: pwmchip$L: channel 0: the hardware cannot be read back, shown is what the kernel accepted: No data available"
expect "output" "$(echo "$out" | tr '\n' ' ')" "period_ns=200000 duty_ns=100000 offset_ns=0 frequency_hz=5000 duty_percent=50 "
expect "debugfs" "$(dbg "$L" 0 requested)" "enabled, 100000/200000 ns, normal polarity"
finish
# A hold keeps other programs out of the channel until a signal ends it.
begin set-legacy-hold
(cd /q && exec ./ld.so --library-path /q/lib ./bin/pwm-set -c "$L" -p 0 -P 1ms -d 10% --hold \
	</dev/null >/tmp/hold.out 2>/tmp/hold.err) &
holder=$!
i=0
until [ "$(attr "$L" 0 period)" = 1000000 ]; do
	i=$((i + 1))
	[ "$i" -gt 500 ] && { bad "the hold never set channel 0: $(cat /tmp/hold.err)"; break; }
	sleep 0.02
done
run pwm-set -c "$L" -p 0 -P 1ms -d 50%
expect "a second pwm-set" "$rc $err" "1 pwm-set: pwmchip$L: channel 0: Device or resource busy (held by another program or a kernel driver)"
run pwm-sweep -c "$L" -p 0 -P 1000000 -S 500000
expect "pwm-sweep" "$rc $err" "1 Failed to get pwm0: Device or resource busy"
kill -TERM "$holder"
wait "$holder"
expect "the hold's exit status, output" "$? $(cat /tmp/hold.out /tmp/hold.err)" "0 "
expect "sysfs after" "$(state "$L" 0)" "1000000 100000 1"
run pwm-set -c "$L" -p 0 --off
expect "free again: switched off" "$rc $err $(state "$L" 0)" "0  1000000 100000 0"
finish

# --- pwm-set on the waveform chip (mediatek): its own rounding ---------------------
# By default exported through sysfs, so the channel stays requested after
# the tool ends; -v prints what the hardware runs, as debugfs reads it back
# (not what sysfs accepted). A hold takes the channel through the device
# node until a signal. Channel 2, free since the holder cases.
if [ "$W" = mediatek ]; then
	# hw_of CHIP CHANNEL: debugfs's read-back as -v's first three lines.
	hw_of() { dbg "$1" "$2" actual | sed 's|^\([0-9]*\)/\([0-9]*\) \[+\([0-9]*\)\]$|period_ns=\2 duty_ns=\1 offset_ns=\3|'; }
	begin set-device-runs-after-exit
	run pwm-set -c "$M" -p 2 -P 20ms -d 1.5ms
	expect "exit status, output" "$rc $out$err" "0 "
	expect "sysfs" "$(state "$M" 2)" "20000000 1500000 1"
	expect "requested after the tool ended (exported)" "$(requested "$M" 2) $(dbg "$M" 2 requested)" \
		"yes enabled, 1500000/20000000 ns, normal polarity"
	finish
	begin set-device-verbose
	run pwm-set -c "$M" -p 2 -f 50Hz -d 7.5% -v
	expect "exit status, stderr" "$rc $err" "0 "
	expect "-v as debugfs reads the hardware" "$(echo "$out" | head -n 3 | tr '\n' ' ')" "$(hw_of "$M" 2) "
	show
	finish
	begin set-device-hold
	echo 2 >"$SYS/pwmchip$M/unexport" || bad "cannot unexport channel 2"
	(cd /q && exec ./ld.so --library-path /q/lib ./bin/pwm-set -c "$M" -p 2 -P 1ms -d 25% --hold \
		</dev/null >/tmp/hold.out 2>/tmp/hold.err) &
	holder=$!
	i=0
	until [ "$(requested "$M" 2)" = yes ]; do
		i=$((i + 1))
		[ "$i" -gt 500 ] && { bad "the hold never took channel 2: $(cat /tmp/hold.err)"; break; }
		sleep 0.02
	done
	run pwm-set -c "$M" -p 2 -P 1ms -d 50%
	expect "a second pwm-set" "$rc $err" "1 pwm-set: pwmchip$M: channel 2: Device or resource busy (held by another program or a kernel driver)"
	run pwm-sweep -c "$M" -p 2 -P 1000000 -S 500000
	expect "pwm-sweep" "$rc $err" "1 Failed to get pwm0: Device or resource busy"
	[ -e "$SYS/pwmchip$M/pwm2" ] && bad "channel 2 exported while the device holds it"
	kill -TERM "$holder"
	wait "$holder"
	expect "the hold's exit status, output" "$? $(cat /tmp/hold.out /tmp/hold.err)" "0 "
	# mediatek has no release callback: the output runs on, the channel free.
	expect "free after the signal" "$(requested "$M" 2)" no
	expect "GETWF after" "$(getwf "$M" 2)" "1000000 250000 0"
	finish
	# The C++ servo example (quorvin.hpp), on the chip by its parent's name:
	# 1 ms to 2 ms in 20 ms, then 1.5 ms, each step read back through the
	# device node at the hardware's rounding; mediatek keeps the last one
	# after the channel is given back.
	begin cxx-servo-example
	run quorvin-servo "$MDEV_NAME" 2 20
	expect "exit status, stderr" "$rc $err" "0 "
	expect "steps" "$(echo "$out" | wc -l)" 12
	expect "first and last" "$(echo "$out" | sed -n '1p;$p' | tr '\n' '|')" \
		"pulse 1000 us: period 20000000 ns, duty 999385 ns|pulse 1500 us: period 20000000 ns, duty 1499077 ns|"
	expect "debugfs after" "$(requested "$M" 2) $(dbg "$M" 2 actual)" "no 1499077/20000000 [+0]"
	finish
fi

# --- the Python package: Debian's python3 and the cross-built module ---------------
# name | Python statements | what they print [| a check afterwards]
# Each row's statements run after the prelude: c is the waveform chip opened
# by its parent's name; refusal(call, args...) gives the OSError that the
# call raises as its type and errno name.
if [ "$PY_ROWS" != 0 ]; then
	PY_PRELUDE="import errno, quorvin
def refusal(call, *args):
    try:
        call(*args)
    except OSError as e:
        return type(e).__name__, errno.errorcode[e.errno]
c = quorvin.Chip('$MDEV')"
	while IFS='|' read -r cname code want after; do
		begin "$cname"
		run python3 -c "$PY_PRELUDE
$code"
		expect "exit status" "$rc" 0
		expect "stderr" "$err" ""
		expect "output" "$out" "$want"
		[ -z "$after" ] || eval "$after"
		finish
	done <<EOF2
py-open-by-name|print(c.number, c.npwm, c.device_name, c.driver_name, c.device_node)|$M 4 $MDEV $MDRV True
py-set-get|ch = c.channel(0); ch.set_waveform(100000, 99099); print(*ch.get_waveform())|$ROUNDED|expect "GETWF" "\$(getwf $M 0)" "$ROUNDED"
py-round|ch = c.channel(0); print(*ch.round_waveform(100000, 50001), *ch.round_waveform($TOO_SHORT, 0))|100000 50000 0 $ROUND_UP 0 0|expect "GETWF" "\$(getwf $M 0)" "$ROUNDED"
py-refused-einval|print(*refusal(c.channel(0).set_waveform, $TOO_SHORT, 1))|OSError EINVAL|expect "GETWF" "\$(getwf $M 0)" "$ROUNDED"
py-led-holder|i = quorvin.Chip($LED_CHIP).info($LED_CH); print(repr(i.holder), i.label)|<Holder.KERNEL: 3> $LED_LABEL
py-off-reads-alike|print(*[tuple((ch.set_waveform(p, d), ch.get_waveform())[1]) for ch in (c.channel(1), quorvin.Chip($L).channel(0)) for p, d in ((100000, 50000), (100000, 0), (0, 0))])|(100000, 50000, 0) (0, 0, 0) (0, 0, 0) (100000, 50000, 0) (0, 0, 0) (0, 0, 0)
EOF2

	# The README's example as written there (the harness copies it); the
	# kernel labels a channel held through the device with the holder's pid.
	begin py-readme-example
	run python3 /q/readme-example.py
	expect "exit status" "$rc" 0
	expect "stderr" "$err" ""
	expect "output" "$(echo "$out" | sed 's/(pid=[0-9]*)/(pid=N)/')" "Waveform(period=50000, duty=50000, offset=0; 20 kHz, 100%)
ChannelInfo(channel=0, holder=<Holder.DEVICE: 2>, label='pwm-cdev (pid=N)', waveform=Waveform(period=50000, duty=50000, offset=0; 20 kHz, 100%))
EINVAL [Errno 22] Invalid argument
True Waveform(period=20000000, duty=1500000, offset=0; 50 Hz, 7.5%)"
	expect "GETWF" "$(getwf $M 0)" "50000 50000 0"
	finish
fi

echo END
