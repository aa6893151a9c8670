# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the census guests (busybox sh, run by /init from /q): every
# driver of /q/census-drivers.tsv whose boot is this guest's (CENSUS_BOOT),
# each checked the same way, data-driven from the table, in table order
# (chips whose checks are known to hang last):
#   DRIVER-bound    the driver bound a chip (found by its module, never by
#                   number)
#   DRIVER-listed   pwm-detect and pwm-info list it
#   DRIVER-sweep    a pwm-sweep at the row's period (duty 0, half, whole)
#                   exits 0; where debugfs shows the hardware, it runs at
#                   or below the last waveform asked (a sweep column of
#                   !PERIOD/STEP: one the driver cannot make, refused, and
#                   nothing longer left running)
#   DRIVER-made     the row's waveform through the library: ok, sysfs as
#                   asked, the hardware at or below it where it shows it
#   DRIVER-refused  2 ns (below any driver's shortest period): refused,
#                   the output as it was (sysfs and hardware)
# Each chip's rows run in a process of their own under a timeout: a chip
# that never returns is reported, skipped where the table says it hangs,
# and the others go on. Rows the table marks known-failing print XFAIL
# (XPASS, and the suite fails, once they pass: the table is to be changed).
# Then one machine-readable line a driver (CENSUS key=value ..., read by
# census-table.py): what binds, its device, the shortest and longest period
# the library took, its rounding, read-back, offsets, polarity, and what the
# hardware does once the channel is given back.
# Where the guest has the register-file bus that I2C chips of the table sit
# on (tests/kernel/modules/i2c-regfile.c), its rows (regfile-*) check the
# bus itself first, on its device that no driver takes (scratch@50 in
# census-boot-2.dtsi: 0x5a prefilled at 0x00, bits 0xf0 of 0x30
# self-clearing), through busybox's I2C tools and Debian's i2c-dev, and
# that the buses there that describe no register files are refused.
. /q/guest-lib.sh
. /q/guest.env
TABLE=/q/census-drivers.tsv
DBG=/sys/kernel/debug/pwm
CHIP_TIMEOUT=40
HANG_TIMEOUT=10

# rows: "driver|period|sweep|channel" of this boot, in table order (the
# sweep, where the table gives none: the period's PERIOD/DUTY, as period
# and step).
rows() {
	awk -F'\t' -v b="$CENSUS_BOOT" '$1 !~ /^#/ && $2 == b {
		split($8, w, "/"); print $1 "|" $8 "|" ($9 == "-" ? w[1] "/" w[2] : $9) "|" $10 }' $TABLE
}
# known DRIVER ROW: the reason the table gives for that row, if any.
known() {
	awk -F'\t' -v d="$1" -v r="$2" '$1 == d {
		n = split($11, k, / ; /)
		for (i = 1; i <= n; i++) if (index(k[i], r "=") == 1) { print substr(k[i], length(r) + 2); exit } }' $TABLE
}
# chip_of_module MODULE: the chip whose device's driver is that module's.
chip_of_module() {
	cm=$(echo "$1" | tr - _)
	for c in $SYS/pwmchip*; do
		[ "$(basename "$(readlink "$c/device/driver/module" 2>/dev/null)")" = "$cm" ] && echo "${c##*pwmchip}"
	done | head -n 1
}

# snap CHIP CHANNEL: "PERIOD DUTY ENABLE POLARITY | HARDWARE" (the hardware
# of a stopped output only "disabled").
snap() {
	sd=$SYS/pwmchip$1/pwm$2
	hw=$(actual "$1" "$2")
	case $hw in disabled,*) hw=disabled ;; esac
	if [ -d "$sd" ]; then
		echo "$(cat "$sd/period" "$sd/duty_cycle" "$sd/enable" "$sd/polarity" | tr '\n' ' ')| $hw"
	else
		echo "unexported | $hw"
	fi
}
# made HARDWARE PERIOD DUTY [inverse]: where the hardware shows itself, it
# runs the waveform or the nearest below: enabled, period in (0, PERIOD],
# an active part of at most DUTY and at most the period, the polarity asked
# (the inversed polarity's duty shown is the inactive part).
made() {
	case $1 in '' | *error*) return 0 ;; esac
	echo "$1" | awk -v p="$2" -v d="$3" -v pol="${4:-normal}" '{
		split($2, x, "/"); D = x[1] + 0; P = x[2] + 0
		if (pol == "inverse") D = P - D
		exit !($1 == "enabled," && $4 == pol && P > 0 && P <= p + 0 && D >= 0 && D <= d + 0 && D <= P) }' ||
		bad "for $2/$3 the hardware runs '$1'"
}

# --- one chip's rows (a process of its own: guest-tests.sh chip ...) -----------------
check_chip() { # driver chip period/duty[/offset] [!]sweep channel
	drv=$1 c=$2 sw=${4#!} ch=$5
	# (An offset: the inversed polarity's, for a driver that runs only that.)
	P=${3%%/*} D=${3#*/} O=0
	case $D in */*) O=${D#*/} D=${D%/*} ;; esac
	SP=${sw%/*} SS=${sw#*/}
	# "!": a sweep the driver cannot make, which the tool must refuse.
	sweep_rc=0
	[ "$sw" = "$4" ] || sweep_rc=1
	dev=$(basename "$(readlink "$SYS/pwmchip$c/device")")
	if [ -c "/dev/pwmchip$c" ]; then iface=/dev/pwmchip$c; else iface=sysfs; fi

	begin "$drv-listed"
	line=$(grep "^pwmchip$c " /tmp/detect.out)
	case $line in
	"pwmchip$c [$dev] ("*") "*" $iface") ;;
	*) bad "pwm-detect: '$line' (want pwmchip$c [$dev] ... $iface)" ;;
	esac
	run pwm-info "$c"
	expect "pwm-info exit status" "$rc" 0
	expect "pwm-info stderr" "$err" ""
	echo "$out" | grep -q "^pwmchip$c - [0-9]* channel" || bad "pwm-info: $(echo "$out" | head -n 1)"
	finish

	begin "$drv-sweep"
	run pwm-sweep -c "$c" -p "$ch" -P "$SP" -S "$SS"
	expect "exit status" "$rc" "$sweep_rc"
	if [ "$sweep_rc" = 1 ]; then
		[ -n "$err" ] || bad "refused without a word on stderr"
		hw=$(actual "$c" "$ch")
		echo "  refused: $err; hardware $hw"
		# Nothing longer than asked left running.
		case $hw in enabled,*) made "$hw" "$SP" "$SP" ;; esac
	elif [ "$iface" = sysfs ]; then
		expect "stderr" "$err" ""
		last=$((SP / SS * SS))
		expect "sysfs" "$(state "$c" "$ch")" "$SP $last 1"
		made "$(actual "$c" "$ch")" "$SP" "$last"
	else
		expect "stderr" "$err" ""
	fi
	finish

	begin "$drv-made"
	run wf-seq "$c" "$ch" "$P/$D/$O" get
	hw=$(actual "$c" "$ch")
	echo "  $P/$D/$O: $out; hardware $hw"
	expect "exit status" "$rc" 0
	expect "answer" "${out%% *}" ok
	if [ "$iface" = sysfs ] && [ "$O" = 0 ]; then
		expect "sysfs" "$(state "$c" "$ch") $(attr "$c" "$ch" polarity)" "$P $D 1 normal"
		made "$hw" "$P" "$D"
	elif [ "$iface" = sysfs ]; then
		expect "sysfs" "$(state "$c" "$ch") $(attr "$c" "$ch" polarity)" "$P $O 1 inversed"
		made "$hw" "$P" "$D" inverse
	else
		# What the chip says it runs (the device's read-back).
		got=${out#* }
		echo "$got" | awk -F/ -v p="$P" -v d="$D" '{ exit !($1 > 0 && $1 <= p && $2 <= d && $2 <= $1 && $3 == 0) }' ||
			bad "the chip runs $got for $P/$D/0"
	fi
	finish

	begin "$drv-refused"
	# From the waveform made (the device's channel is given back at each
	# exit: asked again on the same handle).
	before=$(snap "$c" "$ch")
	if [ "$iface" = sysfs ]; then
		run wf-seq "$c" "$ch" 2/1/0
		after=$(snap "$c" "$ch")
	else
		run wf-seq "$c" "$ch" "$P/$D/$O" get 2/1/0 get
		# shellcheck disable=SC2086 # the four answers
		set -- $out
		expect "read back before and after" "$4" "$2"
		out=$3
		after=$(snap "$c" "$ch")
	fi
	echo "  2/1/0: $out; before $before; after $after"
	expect "exit status" "$rc" 0
	[ "$out" != ok ] || bad "2/1/0: got ok, want a refusal"
	expect "output after the refusal" "$after" "$before"
	finish

	echo ROWS-DONE
	measure "$drv" "$c" "$ch" "$P" "$D" "$dev" "$iface" "$O"
	echo DONE
}

# wave PERIOD DUTY: that waveform in the row's polarity (O, an offset or 0).
wave() {
	if [ "$O" = 0 ]; then echo "$1/$2/0"; else echo "$1/$2/$(($1 - $2))"; fi
}

# measure DRIVER CHIP CHANNEL PERIOD DUTY DEVICE IFACE OFFSET: the CENSUS line
# (waveforms in the row's polarity).
measure() {
	m_drv=$1 c=$2 ch=$3 P=$4 D=$5 O=$8
	# (Up to 1 s: some drivers wait for a period to end.)
	ladder="10 100 1000 10000 100000 1000000 10000000 100000000 1000000000"
	args=
	for p in $ladder; do args="$args $(wave "$p" $((p / 2)))"; done
	# shellcheck disable=SC2086 # one waveform each
	run wf-seq "$c" "$ch" $args
	shortest=- longest=- i=0
	for a in $out; do
		i=$((i + 1))
		p=$(echo "$ladder" | cut -d' ' -f"$i")
		if [ "$a" = ok ]; then
			[ "$shortest" = - ] && shortest=$p
			longest=$p
		fi
	done
	# Read-back and rounding: a waveform between the steps of any clock.
	run wf-seq "$c" "$ch" "$(wave 33333 11111)" get
	rd=$(actual "$c" "$ch")
	answer=${out%% *}
	case $rd in
	*error* | '') readback=no rounding= ;;
	*) readback=yes rounding="$(echo "$rd" | cut -d, -f1-2 | tr -d ' ')" ;;
	esac
	# The device's own read-back, where it has one.
	[ "$7" = sysfs ] || rounding="${out#* }"
	rounding=$(echo "$answer${rounding:+:$rounding}" | tr ' ' ',')
	# An offset other than the inversed polarity's, then the inversed polarity.
	q=$((P / 4))
	run wf-seq "$c" "$ch" "$P/$q/$q"
	offsets=$out
	run wf-seq "$c" "$ch" "$P/$q/$((P - q))"
	polarity=$out
	rd=$(actual "$c" "$ch")
	case $rd in *inverse*) polarity="$polarity,hardware-inversed" ;; *normal*) polarity="$polarity,hardware-normal" ;; esac
	# Given back running: what the hardware does then.
	run wf-seq "$c" "$ch" "$(wave "$P" "$D")"
	[ "$7" = sysfs ] && echo "$ch" >"$SYS/pwmchip$c/unexport"
	rd=$(actual "$c" "$ch")
	case $rd in
	*error* | '') release=unknown ;;
	disabled*) release=disabled ;;
	*) release="runs:$(echo "$rd" | cut -d, -f2 | tr -d ' ')" ;;
	esac
	echo "CENSUS driver=$m_drv boot=$CENSUS_BOOT bind=yes chip=$c device=$6 iface=$7" \
		"npwm=$(cat "$SYS/pwmchip$c/npwm") channel=$ch period=$(wave "$P" "$D" | sed 's|/0$||') shortest=$shortest longest=$longest" \
		"rounding=33333/11111->$rounding readback=$readback offsets=$offsets polarity=$polarity release=$release"
}

if [ "${1:-}" = chip ]; then
	shift
	check_chip "$@"
	exit 0
fi

# regfile_rows: NAME|SETUP|CHECK|WANT, in order (each sees the ones before);
# CHECK prints what WANT is.
regfile_rows() {
	cat <<'EOF'
prefilled|:|i2cget -y $bus 0x50 0x00|0x5a
byte|i2cset -y $bus 0x50 0x10 0xa5|i2cget -y $bus 0x50 0x10|0xa5
word|i2cset -y $bus 0x50 0x20 0x1234 w|i2ctransfer -y $bus w1@0x50 0x20 r2|0x34 0x12
word-read|:|i2cget -y $bus 0x50 0x20 w|0x1234
block|i2cset -y $bus 0x50 0x40 1 2 3 i|i2ctransfer -y $bus w1@0x50 0x40 r3|0x01 0x02 0x03
pointer-kept|i2ctransfer -y $bus w1@0x50 0x41|i2ctransfer -y $bus r2@0x50|0x02 0x03
wrap|i2ctransfer -y $bus w3@0x50 0xff 0x11 0x22|i2ctransfer -y $bus w1@0x50 0xff r2|0x11 0x22
self-clearing|i2cset -y $bus 0x50 0x30 0xff|i2cget -y $bus 0x50 0x30|0x0f
absent|:|! i2cget -y $bus 0x51 0x00 2>/dev/null && echo refused|refused
refuses-odd|:|cd /sys/bus/platform/devices/i2c-regfile-odd && test ! -e driver && echo refused|refused
refuses-twice|:|cd /sys/bus/platform/devices/i2c-regfile-twice && test ! -e driver && echo refused|refused
refuses-wide|:|cd /sys/bus/platform/devices/i2c-regfile-wide && test ! -e driver && echo refused|refused
EOF
}
regfile_bus() {
	for a in /sys/bus/i2c/devices/i2c-*; do
		[ "$(cat "$a/name" 2>/dev/null)" = "register-file bus" ] && echo "${a##*-}"
	done | head -n 1
}

# --- the boot's drivers -----------------------------------------------------------------
uname -r
mount -t debugfs debugfs /sys/kernel/debug 2>/dev/null
ALL=$(rows)
# Hanging chips last: their checks never return, and the chip's lock stays
# taken.
ORDER="$(echo "$ALL" | while read -r l; do [ -n "$(known "${l%%|*}" hang)" ] || echo "$l"; done)
$(echo "$ALL" | while read -r l; do [ -z "$(known "${l%%|*}" hang)" ] || echo "$l"; done)"
ORDER=$(echo "$ORDER" | grep .)

# PLAN: a bound row a driver, four more where it does not hang, less the
# known-failing ones.
n=0
for d in $(echo "$ORDER" | cut -d'|' -f1); do
	for r in bound listed sweep made refused; do
		[ "$r" != bound ] && [ -n "$(known "$d" hang)" ] && continue
		[ -n "$(known "$d" "$r")" ] || n=$((n + 1))
	done
done
bus=$(regfile_bus)
[ -z "$bus" ] || n=$((n + $(regfile_rows | wc -l)))
echo "PLAN $n"

if [ -n "$bus" ]; then
	regfile_rows | while IFS='|' read -r r setup check want; do
		begin "regfile-$r"
		eval "$setup" >/tmp/setup.out 2>&1 || bad "$setup: $(cat /tmp/setup.out)"
		expect "$check" "$(eval "$check" 2>&1)" "$want"
		finish
	done
fi

# Drivers may bind late (deferred probes, the I2C MFDs): up to 10 s for all.
i=0
while [ "$i" -lt 100 ]; do
	missing=0
	for d in $(echo "$ORDER" | cut -d'|' -f1); do [ -n "$(chip_of_module "$d")" ] || missing=$((missing + 1)); done
	[ "$missing" = 0 ] && break
	i=$((i + 1))
	sleep 0.1
done
run pwm-detect
echo "$out" >/tmp/detect.out
echo "pwm-detect (exit status $rc):"
show

status=0
# report DRIVER ROW LINE: a row's line, as the table expects it.
report() {
	k=$(known "$1" "$2")
	if [ -z "$k" ]; then
		echo "$3"
		return
	fi
	case $3 in
	FAIL\ *) echo "XFAIL ${3#FAIL } (known: $k)" ;;
	PASS\ *)
		echo "XPASS ${3#PASS }: known-failing in census-drivers.tsv ($k), passes now: change the table"
		status=1
		;;
	esac
}

echo "$ORDER" | {
	while IFS='|' read -r d per sw ch; do
		hang=$(known "$d" hang)
		c=$(chip_of_module "$d")
		begin "$d-bound"
		if [ -z "$c" ]; then
			bad "no chip of module $d ($( [ -d "/sys/module/$(echo "$d" | tr - _)" ] && echo loaded || echo "not loaded"))"
			report "$d" bound "$(finish)"
			echo "CENSUS driver=$d boot=$CENSUS_BOOT bind=no"
			continue
		fi
		echo "  pwmchip$c: $(basename "$(readlink "$SYS/pwmchip$c/device")")"
		report "$d" bound "$(finish)"
		t=$CHIP_TIMEOUT
		[ -z "$hang" ] || t=$HANG_TIMEOUT
		timeout -s KILL "$t" sh /q/guest-tests.sh chip "$d" "$c" "$per" "$sw" "$ch" >/tmp/chip.out 2>&1
		if [ -n "$hang" ]; then
			sed 's/^\(PASS\|FAIL\|RUN\) /  (not counted) \1 /' /tmp/chip.out
			if grep -qx DONE /tmp/chip.out; then
				echo "XPASS $d: its checks returned, yet census-drivers.tsv says they hang ($hang): change the table"
				status=1
			else
				echo "SKIP $d: its checks did not return within $t s: $hang"
				echo "CENSUS driver=$d boot=$CENSUS_BOOT bind=yes chip=$c device=$(basename "$(readlink "$SYS/pwmchip$c/device")") hangs=yes"
			fi
			continue
		fi
		while read -r l; do
			case $l in
			PASS\ * | FAIL\ *)
				r=${l#* }
				r=${r%%:*}
				report "$d" "${r#"$d-"}" "$l"
				;;
			DONE | ROWS-DONE) ;;
			*) echo "$l" ;;
			esac
		done </tmp/chip.out
		if grep -qx ROWS-DONE /tmp/chip.out && ! grep -qx DONE /tmp/chip.out; then
			echo "  (the measurements did not return within $t s)"
			echo "CENSUS driver=$d boot=$CENSUS_BOOT bind=yes chip=$c device=$(basename "$(readlink "$SYS/pwmchip$c/device")") measured=timeout"
		elif ! grep -qx DONE /tmp/chip.out; then
			for r in listed sweep made refused; do
				grep -q "^\(PASS\|FAIL\) $d-$r\(:\|$\)" /tmp/chip.out ||
					report "$d" "$r" "FAIL $d-$r: not reached: the chip's checks did not return within $t s"
			done
			echo "CENSUS driver=$d boot=$CENSUS_BOOT bind=yes chip=$c hangs=yes"
		fi
	done
	echo END
	exit $status
}
