# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the arm64-drivers and armhf-drivers guests (busybox sh, run
# by /init from /q): the legacy PWM drivers of the common boards, sysfs only,
# on plain RAM. Every chip gets the same rows: a sweep with the tool, then
# through the library a period below its shortest and above its longest, a
# waveform it refuses, a change of polarity, a period and duty between its
# steps, off and on again and, where it has two channels, a second period
# beside the first.
# Each row records the library's answer and what the hardware runs, where
# the driver reads it back (debugfs's "actual configuration"). Known driver
# faults have rows of their own.
# Chips are found by driver (and node, for two of one kind), never by number.
. /q/guest-lib.sh

uname -r
mount -t debugfs debugfs /sys/kernel/debug 2>/dev/null
DBG=/sys/kernel/debug/pwm

# find_chip DRIVER[@NODE]: the chip that driver bound (on that node).
find_chip() {
	for fc in $(chip_of "${1%@*}"); do
		case $1 in
		*@*) case $(basename "$(readlink "$SYS/pwmchip$fc/device")") in "${1#*@}"*) echo "$fc" ;; esac ;;
		*) echo "$fc" ;;
		esac
	done
}

# snap CHIP CHANNEL: sysfs's four attributes and the hardware's read-back,
# "PERIOD DUTY ENABLE POLARITY | READ-BACK" (of a stopped output only that it
# is stopped: what its registers hold then makes no difference). One
# process: this runs twice a call.
snap() {
	sd=$SYS/pwmchip$1/pwm$2
	[ -d "$sd" ] || { echo "unexported | $(actual "$1" "$2")"; return; }
	awk -v chip="$1:" -v ch="pwm-$2" -v dbg=$DBG '
		FILENAME != dbg { s = s (s == "" ? "" : " ") $0; next }
		/^[0-9]+: / { c = $1 }
		c == chip && $1 == ch { f = 1; next }
		f && /actual configuration:/ { sub(/.*actual configuration: */, ""); a = $0 }
		/^ pwm-/ { f = 0 }
		END { if (a ~ /^disabled,/) a = "disabled"; print s " | " a }' \
		"$sd/period" "$sd/duty_cycle" "$sd/enable" "$sd/polarity" $DBG
}

# made READ-BACK PERIOD DUTY OFFSET: where the hardware can be read back,
# whether it runs the waveform or the nearest below it: enabled, a period
# above 0 and at most the one asked, the duty at most the one asked and at
# most the period, the polarity that sysfs makes the offset with.
made() {
	case $1 in '' | *error*) return 0 ;; esac
	if [ "$4" = 0 ]; then mpol=normal mduty=$3; else mpol=inverse mduty=$4; fi
	echo "$1" | awk -v p="$2" -v d="$mduty" -v pol="$mpol" '{
		split($2, x, "/"); D = x[1] + 0; P = x[2] + 0
		exit !($1 == "enabled," && $4 == pol && P > 0 && P <= p + 0 && D <= d + 0 && D <= P) }' ||
		bad "for $2/$3/$4 the hardware runs '$1'"
}

# step CHIP CHANNEL WAVEFORM WANT: applies one waveform through the library
# (a process of its own, as a program would) and checks its answer against
# WANT (ok, an errno's name, "refused" for any errno, "any") and against the
# contract: a success leaves sysfs as asked and the hardware making it, a
# refusal leaves sysfs and the hardware exactly as they were.
step() {
	s_before=$(snap "$1" "$2")
	run wf-seq "$1" "$2" "$3"
	[ "$rc" = 0 ] || bad "wf-seq $3: exit status $rc: $err"
	answer=$out
	s_after=$(snap "$1" "$2")
	echo "  pwmchip$1/pwm$2 $3: $answer; now $s_after"
	case $4 in
	any) ;;
	refused) [ "$answer" != ok ] || bad "$3: got ok, want a refusal" ;;
	*) expect "$3" "$answer" "$4" ;;
	esac
	s_sysfs=${s_after%% |*} s_hw=${s_after#*| }
	s_p=${3%%/*} s_rest=${3#*/}
	s_d=${s_rest%%/*} s_o=${s_rest#*/}
	if [ "$answer" != ok ]; then
		expect "output after the refused $3" "$s_after" "$s_before"
	elif [ "$s_p" = 0 ]; then
		# shellcheck disable=SC2086 # split into its four fields
		expect "enable after $3" "$(set -- $s_sysfs; echo "$3")" 0
		case $s_hw in '' | *error*) ;; *) expect "hardware after $3" "${s_hw%%,*}" disabled ;; esac
	elif [ "$s_o" = 0 ]; then
		expect "sysfs after $3" "$s_sysfs" "$s_p $s_d 1 normal"
		made "$s_hw" "$s_p" "$s_d" 0
	else
		expect "sysfs after $3" "$s_sysfs" "$s_p $s_o 1 inversed"
		made "$s_hw" "$s_p" "$s_d" "$s_o"
	fi
}
# From a known running output, the waveforms in turn.
KNOWN=100000/50000/0
from_known() { step "$1" "$2" $KNOWN ok; }

# What pwm-imx27 runs for a long period that it makes, and for a longer one
# (its clock is 66 MHz on armhf, 24 MHz on arm64): ASKED=DUTY/PERIOD.
IMX27_LONG="4000000000/2000000000/0=1999971182/3999942364 10000000000/5000000000/0=932866561/1865733122"
[ "$(uname -m)" = aarch64 ] &&
	IMX27_LONG="10000000000/5000000000/0=4999995000/9999990000 60000000000/30000000000/0=2038380459/4076760917"
if [ "$(uname -m)" = aarch64 ]; then
	# driver[@node] | npwm
	CHIPS="pwm-imx27|1
rockchip-pwm|1
sun4i-pwm|1
ecap|1
mediatek-disp-pwm|1
meson-pwm|2"
else
	CHIPS="ecap|1
ehrpwm|2
pwm-imx27|1
sun4i-pwm|2
rockchip-pwm|1
meson-pwm|2
samsung-pwm|5
vt8500-pwm|2
stm32-pwm-lp@4ff07000|1
omap-dmtimer-pwm|1"
	# The second low-power timer, without its status bits: only its own row.
	LP_BAD=$(find_chip stm32-pwm-lp@4ff09000)
fi
keys() { echo "$CHIPS" | cut -d'|' -f1; }

# --- the library's answers, chip by chip ---------------------------------------------
# name | chip | channel | waveforms in turn, from 100000/50000/0 | answers
# Below the shortest period (10 ns) and above the longest; a waveform each
# chip refuses, with a polarity change on top where the chip takes one, so
# that the library has something to put back (it switches the output off
# before it turns the polarity); the polarity there and back again.
# Where the kernel takes a period below the shortest, the library must not
# report it made: EINVAL.
if [ "$(uname -m)" = aarch64 ]; then
	ANSWERS="shortest|pwm-imx27|0|10/5/0|EINVAL
longest|pwm-imx27|0|1099511627776/549755813888/0|any
refused|pwm-imx27|0|10/5/5|EINVAL
polarity|pwm-imx27|0|100000/25000/75000 $KNOWN|ok ok
shortest|rockchip-pwm|0|10/5/0|ok
shortest-by-half|rockchip-pwm|0|5/2/0|EINVAL
longest|rockchip-pwm|0|1099511627776/549755813888/0|ok
refused|rockchip-pwm|0|5/2/3|EINVAL
polarity|rockchip-pwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|sun4i-pwm|0|10/5/0|EINVAL
longest|sun4i-pwm|0|1099511627776/549755813888/0|EINVAL
refused|sun4i-pwm|0|10/5/5|EINVAL
polarity|sun4i-pwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|ecap|0|10/5/0|ok
longest|ecap|0|4000000000/2000000000/0|ERANGE
refused|ecap|0|4000000000/1000000000/3000000000|ERANGE
polarity|ecap|0|100000/25000/75000 $KNOWN|ok ok
shortest|mediatek-disp-pwm|0|10/5/0|EINVAL
longest|mediatek-disp-pwm|0|4000000000/2000000000/0|EINVAL
refused|mediatek-disp-pwm|0|100000/25000/75000|EINVAL
polarity|mediatek-disp-pwm|0|100000/25000/75000 $KNOWN|EINVAL ok
refused-while-off|mediatek-disp-pwm|0|0/0/0 200000/50000/150000|ok EINVAL
shortest|meson-pwm|0|10/5/0|ok
longest|meson-pwm|0|4000000000/2000000000/0|EINVAL
refused|meson-pwm|0|4000000000/1000000000/3000000000|EINVAL
polarity|meson-pwm|0|100000/25000/75000 $KNOWN|ok ok"
else
	ANSWERS="shortest|ecap|0|10/5/0|ok
longest|ecap|0|4000000000/2000000000/0|ERANGE
refused|ecap|0|4000000000/1000000000/3000000000|ERANGE
polarity|ecap|0|100000/25000/75000 $KNOWN|ok ok
shortest|ehrpwm|0|10/5/0|ok
longest|ehrpwm|0|4000000000/2000000000/0|ERANGE
refused|ehrpwm|0|4000000000/1000000000/3000000000|ERANGE
polarity|ehrpwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|pwm-imx27|0|10/5/0|EINVAL
longest|pwm-imx27|0|1099511627776/549755813888/0|any
refused|pwm-imx27|0|10/5/5|EINVAL
polarity|pwm-imx27|0|100000/25000/75000 $KNOWN|ok ok
shortest|sun4i-pwm|0|10/5/0|EINVAL
longest|sun4i-pwm|0|1099511627776/549755813888/0|EINVAL
refused|sun4i-pwm|0|10/5/5|EINVAL
polarity|sun4i-pwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|rockchip-pwm|0|10/5/0|ok
shortest-by-half|rockchip-pwm|0|5/2/0|EINVAL
longest|rockchip-pwm|0|1099511627776/549755813888/0|ok
refused|rockchip-pwm|0|5/2/3|EINVAL
polarity|rockchip-pwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|meson-pwm|0|10/5/0|ok
longest|meson-pwm|0|4000000000/2000000000/0|EINVAL
refused|meson-pwm|0|4000000000/1000000000/3000000000|EINVAL
polarity|meson-pwm|0|100000/25000/75000 $KNOWN|EOPNOTSUPP ok
shortest|samsung-pwm|0|10/5/0|ERANGE
longest|samsung-pwm|0|4000000000/2000000000/0|ERANGE
refused|samsung-pwm|0|4000000000/1000000000/3000000000|ERANGE
polarity|samsung-pwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|vt8500-pwm|0|10/5/0|ok
longest|vt8500-pwm|0|4000000000/2000000000/0|EINVAL
refused|vt8500-pwm|0|4000000000/1000000000/3000000000|EINVAL
polarity|vt8500-pwm|0|100000/25000/75000 $KNOWN|ok ok
shortest|stm32-pwm-lp@4ff07000|0|10/5/0|ok
longest|stm32-pwm-lp@4ff07000|0|4000000000/2000000000/0|EINVAL
refused|stm32-pwm-lp@4ff07000|0|4000000000/1000000000/3000000000|EINVAL
polarity|stm32-pwm-lp@4ff07000|0|100000/25000/75000 $KNOWN|ok ok
shortest|omap-dmtimer-pwm|0|10/5/0|EINVAL
longest|omap-dmtimer-pwm|0|1099511627776/549755813888/0|EINVAL
refused|omap-dmtimer-pwm|0|10/5/5|EINVAL
polarity|omap-dmtimer-pwm|0|100000/25000/75000 $KNOWN|ok ok"
fi

# The longest period made and the next refused, where they were found; on
# rockchip a period above the longest runs as the longest.
if [ "$(uname -m)" = aarch64 ]; then
	ANSWERS="$ANSWERS
longest-made|mediatek-disp-pwm|0|161000000/80500000/0|ok
above-longest|mediatek-disp-pwm|0|162000000/81000000/0|EINVAL
longest-made|meson-pwm|0|349000000/174500000/0|ok
above-longest|meson-pwm|0|350000000/175000000/0|EINVAL
longest-made|ecap|0|1000000000/500000000/0|ok
above-longest|ecap|0|1500000000/750000000/0|ERANGE
longest-made|rockchip-pwm|0|42949672950/21474836470/0|ok
above-longest|rockchip-pwm|0|60000000000/30000000000/0|ok"
else
	ANSWERS="$ANSWERS
longest-made|ecap|0|1000000000/500000000/0|ok
above-longest|ecap|0|1500000000/750000000/0|ERANGE
longest-made|ehrpwm|0|1000000000/500000000/0|ok
above-longest|ehrpwm|0|1500000000/750000000/0|ERANGE
longest-made|samsung-pwm|0|1000000000/500000000/0|ok
above-longest|samsung-pwm|0|1500000000/750000000/0|ERANGE
longest-made|vt8500-pwm|0|161000000/80500000/0|ok
above-longest|vt8500-pwm|0|349000000/174500000/0|EINVAL
longest-made|meson-pwm|0|349000000/174500000/0|ok
above-longest|meson-pwm|0|350000000/175000000/0|EINVAL
longest-made|rockchip-pwm|0|42949672950/21474836470/0|ok
above-longest|rockchip-pwm|0|60000000000/30000000000/0|ok"
fi

# And on every chip a period and duty between the hardware's steps: what it
# makes must be at or below them; the output off, and on again at another
# period (writes to a stopped output are where drivers slip).
ANSWERS="$ANSWERS
$(for key in $(keys); do
	echo "rounding|$key|0|33333/11111/0|ok"
	echo "off-and-on|$key|0|0/0/0 200000/50000/0|ok ok"
done)"

# --- a second channel beside the first ---------------------------------------------
# name | chip | channel 0's waveform | channel 1's | channel 1's answer
# Channel 0 first, then channel 1; channel 0 must keep running as it was.
if [ "$(uname -m)" = aarch64 ]; then
	SHARED="other-period|meson-pwm|$KNOWN|200000/100000/0|ok"
else
	# eHRPWM's two channels share one period: on 7.2 it stays channel 0's
	# even once channel 0 is off (it is free only once channel 0 is
	# unexported).
	SHARED="other-period|ehrpwm|$KNOWN|200000/100000/0|EINVAL
same-period|ehrpwm|$KNOWN|100000/30000/0|ok
other-period-sibling-off|ehrpwm|0/0/0|200000/100000/0|EINVAL
other-period-sibling-unexported|ehrpwm|unexport|200000/100000/0|ok
other-period|sun4i-pwm|$KNOWN|200000/100000/0|ok
other-period|meson-pwm|$KNOWN|200000/100000/0|ok
other-period|samsung-pwm|$KNOWN|200000/100000/0|ok
other-period|vt8500-pwm|$KNOWN|200000/100000/0|ok"
fi

# Driver faults shown as they are, one case each, and what the library
# must answer where it can see one.
LIES="imx27-long-periods-wrap sun4i-long-duties-wrap"
if [ "$(uname -m)" = aarch64 ]; then LIES="$LIES mtk-disp-writes-to-disabled"; else
	LIES="$LIES meson8b-inversed-dropped samsung-channel-4-without-output vt8500-ubsan stm32-lp-enable-times-out
		stm32-lp-off-while-running"
fi

n_chips=$(keys | wc -l)
n_answers=$(echo "$ANSWERS" | wc -l)
n_shared=$(echo "$SHARED" | wc -l)
n_lies=$(echo "$LIES" | wc -w)
echo "PLAN $((1 + n_chips + n_answers + n_shared + n_lies))"

# --- the chips -------------------------------------------------------------------------
begin chips-found
for key in $(keys); do
	want=$(echo "$CHIPS" | awk -F'|' -v k="$key" '$1 == k { print $2 }')
	c=$(find_chip "$key")
	case $c in
	'' | *[!0-9]*) bad "$key: chips '$c'" ;;
	*) expect "$key npwm" "$(cat "$SYS/pwmchip$c/npwm")" "$want" ;;
	esac
	echo "  pwmchip$c: $key, $(basename "$(readlink "$SYS/pwmchip$c/device")"), npwm $want"
done
extra=0
if [ "$(uname -m)" != aarch64 ]; then
	extra=1
	case $LP_BAD in '' | *[!0-9]*) bad "stm32-pwm-lp@4ff09000: chips '$LP_BAD'" ;; esac
fi
expect "chips" "$(chips | wc -l)" "$((n_chips + extra))"
finish

# --- a sweep with the tool on each chip, from a fresh export ---------------------------------
# Several fresh exports read inversed (rockchip, sun4i): the sweep must
# leave the polarity normal.
for key in $(keys); do
	begin "sweep-$key"
	c=$(find_chip "$key")
	[ -e "$SYS/pwmchip$c/pwm0" ] && bad "pwm0 exported already"
	run pwm-sweep -c "$c" -p 0 -P 100000 -S 25000
	expect "exit status" "$rc" 0
	expect "stderr" "$err" ""
	expect "sysfs" "$(state "$c" 0) $(attr "$c" 0 polarity)" "100000 100000 1 normal"
	echo "  hardware: $(actual "$c" 0)"
	finish
done

# --- driver faults ------------------------------------------------------------------------
for lie in $LIES; do
	begin "$lie"
	case $lie in
	imx27-long-periods-wrap)
		# A long period is made, a longer one runs as a few seconds
		# (the prescaler overflows): at or below what was asked, yet
		# far from the longest. The library cannot tell.
		c=$(find_chip pwm-imx27)
		for w in $IMX27_LONG; do
			run wf-seq "$c" 0 "${w%%=*}"
			expect "${w%%=*}" "$out | $(actual "$c" 0)" "ok | enabled, ${w#*=} ns, normal polarity"
		done
		;;
	sun4i-long-duties-wrap)
		# 4 s is made exactly; at 10 s the period is kept and the duty
		# wraps: 2.691 s for 5 s.
		c=$(find_chip sun4i-pwm)
		step "$c" 0 4000000000/2000000000/0 ok
		run wf-seq "$c" 0 10000000000/5000000000/0
		expect "10 s" "$out | $(actual "$c" 0)" "ok | enabled, 2691000000/10000000000 ns, normal polarity"
		;;
	mtk-disp-writes-to-disabled)
		# Each write to a disabled channel switches the hardware on
		# with the new values, or off again, by turns.
		c=$(find_chip mediatek-disp-pwm)
		echo 0 >"$SYS/pwmchip$c"/pwm0/enable
		seq="$(actual "$c" 0 | cut -d, -f1 | tr -d ' ') "
		for w in period:300000 duty_cycle:50000 period:200000; do
			echo "${w#*:}" >"$SYS/pwmchip$c/pwm0/${w%:*}" || bad "writing $w refused"
			seq="$seq$(actual "$c" 0 | cut -d, -f1 | tr -d ' ') "
		done
		expect "sysfs" "$(state "$c" 0)" "200000 50000 0"
		expect "hardware when switched off, then after each write" "$seq" "disabled enabled disabled enabled "
		;;
	meson8b-inversed-dropped)
		# No polarity bit: sysfs takes inversed and shows it, the
		# hardware runs normal polarity.
		c=$(find_chip meson-pwm)
		echo 1 >"$SYS/pwmchip$c"/export
		{ echo 100000 >"$SYS/pwmchip$c"/pwm1/period && echo 33333 >"$SYS/pwmchip$c"/pwm1/duty_cycle &&
			echo inversed >"$SYS/pwmchip$c"/pwm1/polarity && echo 1 >"$SYS/pwmchip$c"/pwm1/enable; } 2>/tmp/lie.err ||
			bad "sysfs refused: $(cat /tmp/lie.err)"
		expect "sysfs" "$(state "$c" 1) $(attr "$c" 1 polarity)" "100000 33333 1 inversed"
		expect "hardware" "$(actual "$c" 1)" "enabled, 66666/100000 ns, normal polarity"
		echo 0 >"$SYS/pwmchip$c"/pwm1/enable
		echo normal >"$SYS/pwmchip$c"/pwm1/polarity
		;;
	samsung-channel-4-without-output)
		# npwm counts the timer without an output pin; it cannot be had.
		c=$(find_chip samsung-pwm)
		echo 4 >"$SYS/pwmchip$c"/export 2>/tmp/lie.err && bad "export of channel 4 succeeded"
		run wf-seq "$c" 4 $KNOWN
		expect "wf-seq" "$rc $err" "1 wf-seq: channel: Invalid argument"
		;;
	vt8500-ubsan)
		# Switching channel 1 on shifts by 256 (UBSAN reports it once a
		# boot); the call still succeeds.
		c=$(find_chip vt8500-pwm)
		from_known "$c" 1
		dmesg | grep -q 'UBSAN: shift-out-of-bounds in .*pwm-vt8500.c:61' || bad "no UBSAN report from pwm-vt8500.c:61"
		;;
	stm32-lp-enable-times-out)
		# Without its status bits the enable gives up: ETIMEDOUT, sysfs
		# says disabled, and the hardware runs. Nothing through sysfs
		# can switch it off again: the kernel holds it as off already.
		c=$LP_BAD
		run wf-seq "$c" 0 $KNOWN
		expect "answer" "$rc $out" "0 ETIMEDOUT"
		expect "sysfs" "$(state "$c" 0) $(attr "$c" 0 polarity)" "10 0 0 normal"
		expect "hardware" "$(actual "$c" 0)" "enabled, 50000/100000 ns, normal polarity"
		;;
	stm32-lp-off-while-running)
		# The same output switched off through the library: sysfs is
		# off already, so nothing reaches the driver, and the hardware
		# goes on running. That is not a success.
		step "$LP_BAD" 0 0/0/0 refused
		;;
	esac
	finish
done

# --- the library's answers -----------------------------------------------------------------
echo "$ANSWERS" | while IFS='|' read -r cname key ch wfs wants; do
	begin "$cname-$key"
	c=$(find_chip "$key")
	from_known "$c" "$ch"
	for wf in $wfs; do
		want=${wants%% *}
		wants=${wants#* }
		step "$c" "$ch" "$wf" "$want"
	done
	finish
done

# "unexport" for channel 0: running, then given back to the kernel.
echo "$SHARED" | while IFS='|' read -r cname key wf0 wf1 want; do
	begin "$cname-$key"
	c=$(find_chip "$key")
	echo 1 >"$SYS/pwmchip$c"/export 2>/dev/null
	from_known "$c" 0
	if [ "$wf0" = unexport ]; then
		echo 0 >"$SYS/pwmchip$c"/unexport || bad "unexport of channel 0 refused"
	else
		step "$c" 0 "$wf0" ok
	fi
	s0=$(snap "$c" 0)
	step "$c" 1 "$wf1" "$want"
	expect "channel 0 afterwards" "$(snap "$c" 0)" "$s0"
	# Channel 1 off again, so that the next row finds the period free.
	run wf-seq "$c" 1 0/0/0
	finish
done

echo END
