# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Helpers of the guest suites (busybox sh), sourced from /q.
# Output protocol read by run-kernel-tests.sh:
#   PLAN n, RUN name, PASS name, FAIL name: why, free text, END.

SYS=/sys/class/pwm

# run PROG ARGS...: a program brought along, started through the copied loader;
# as the user RUN_AS where that is set (busybox su: that user's ids and groups;
# ARGS are joined with blanks).
run() {
	prog=$1
	shift
	if [ -n "${RUN_AS:-}" ]; then
		su -s /bin/sh "$RUN_AS" -c "cd /q && ./ld.so --library-path /q/lib ./bin/$prog $*" </dev/null >/tmp/stdout 2>/tmp/stderr
	else
		(cd /q && ./ld.so --library-path /q/lib "./bin/$prog" "$@") </dev/null >/tmp/stdout 2>/tmp/stderr
	fi
	rc=$?
	out=$(cat /tmp/stdout)
	err=$(cat /tmp/stderr)
}
# prog PROG ARGS...: the command line that run uses, for programs that start others.
prog() {
	p=$1
	shift
	echo "/q/ld.so --library-path /q/lib /q/bin/$p $*"
}

# getwf CHIP CHANNEL: what the hardware holds, read back with PWM_IOCTL_GETWF
# as root on a file of our own (requests the channel, so only while no one
# else holds it).
getwf() {
	RUN_AS=
	run cdev-probe get "$1" "$2"
	[ "$rc" = 0 ] && echo "$out" || echo "<$err>"
}

# The chips by number, and the chip a given driver bound: the kernel's
# numbering changed in 6.12, so no suite names a chip by its number.
chips() { ls $SYS | sed -n 's/^pwmchip//p' | sort -n; }
chip_of() {
	for c in $SYS/pwmchip*; do
		[ "$(basename "$(readlink "$c/device/driver")")" = "$1" ] && echo "${c##*pwmchip}"
	done
}
# kernel_at_least MAJOR MINOR
kernel_at_least() {
	[ "$(uname -r | awk -F. '{ print $1 * 1000 + $2 }')" -ge $(($1 * 1000 + $2)) ]
}

# attr CHIP CHANNEL NAME
attr() { cat "$SYS/pwmchip$1/pwm$2/$3" 2>&1; }
state() { echo "$(attr "$1" "$2" period) $(attr "$1" "$2" duty_cycle) $(attr "$1" "$2" enable)"; }

# actual CHIP CHANNEL: what the driver reads back from the hardware, as
# debugfs shows it ("enabled, DUTY/PERIOD ns, normal polarity", or on a chip
# that describes waveforms "DUTY/PERIOD [+OFFSET]"), or "read out error: ..."
# where it cannot.
actual() {
	awk -v chip="$1:" -v ch="pwm-$2" '
		/^[0-9]+: / { c = $1 }
		c == chip && $1 == ch { f = 1; next }
		f && /actual configuration:/ { sub(/.*actual configuration: */, ""); print; exit }
		/^ pwm-/ { f = 0 }' /sys/kernel/debug/pwm
}

# requested CHIP CHANNEL: whether debugfs shows the channel held (yes or
# no), found without taking it.
requested() {
	awk -v chip="$1:" -v ch="pwm-$2" '/^[0-9]+: / { c = $1 } c == chip && $1 == ch { print (index($0, " requested") ? "yes" : "no"); exit }' \
		/sys/kernel/debug/pwm
}

begin() {
	name=$1
	why=
	echo "RUN $name"
}
bad() { why="${why:+$why; }$*"; }
# The last run's output, indented under the row.
show() { echo "$out" | sed 's/^/  | /'; }

expect() { # what got want
	[ "$2" = "$3" ] || bad "$1: got '$2', want '$3'"
}
finish() {
	if [ -z "$why" ]; then echo "PASS $name"; else echo "FAIL $name: $why"; fi
}

# Compares "period duty enable" with a pattern where '-' means any value.
expect_state() { # chip channel want
	got=$(state "$1" "$2")
	# shellcheck disable=SC2086 # both are split into their three fields
	set -- $got $3
	[ "$4" = - ] || [ "$1" = "$4" ] || bad "period: got '$1', want '$4'"
	[ "$5" = - ] || [ "$2" = "$5" ] || bad "duty_cycle: got '$2', want '$5'"
	[ "$6" = - ] || [ "$3" = "$6" ] || bad "enable: got '$3', want '$6'"
}

# Sweeps that must succeed, one table row a line on stdin:
#   name | chip | channel | tool options | final "period duty enable" in sysfs | precondition
#   [| a further check, run after the sweep]
# Preconditions: absent (channel not exported yet), period<N, duty>N, enable=N.
sweep_cases() {
	while IFS='|' read -r cname chip ch opts want pre after; do
		begin "$cname"
		case $pre in
		absent) [ -e "$SYS/pwmchip$chip/pwm$ch" ] && bad "precondition: pwm$ch already exported" ;;
		'period<'*) [ "$(attr "$chip" "$ch" period)" -lt "${pre#period<}" ] 2>/dev/null || bad "precondition $pre: state is $(state "$chip" "$ch")" ;;
		'duty>'*) [ "$(attr "$chip" "$ch" duty_cycle)" -gt "${pre#duty>}" ] 2>/dev/null || bad "precondition $pre: state is $(state "$chip" "$ch")" ;;
		'enable='*) [ "$(attr "$chip" "$ch" enable)" = "${pre#enable=}" ] || bad "precondition $pre: state is $(state "$chip" "$ch")" ;;
		esac
		# shellcheck disable=SC2086 # options are split on purpose
		run pwm-sweep $opts
		expect "exit status" "$rc" 0
		expect "stderr" "$err" ""
		expect "stdout" "$out" ""
		expect_state "$chip" "$ch" "$want"
		[ -z "$after" ] || eval "$after"
		finish
	done
}

# The sweeps every guest runs on channel 0 of a sysfs chip, in order, from a
# channel not yet exported: rows for sweep_cases.
sysfs_sweep_rows() { # chip
	cat <<EOF
fresh-export-sweep|$1|0|-c $1 -p 0 -P 100000 -S 3000|100000 99000 1|absent
downward-larger-period|$1|0|-c $1 -P 500000 -S -3001|500000 1834 1|period<500000
period-below-previous-duty|$1|0|-c $1 -P 1000 -S 100|1000 1000 1|duty>1000
period-zero-turns-off|$1|0|-c $1 -P 0|- - 0|enable=1
sweep-turns-on-again|$1|0|-c $1 -P 20000 -S 20000|20000 20000 1|enable=0
default-sweep|$1|0|-c $1|50000 50000 1|enable=1
EOF
}

# contract_cases: one wf-seq run a row, read as
#   name | chip | channel | wf-seq steps, in order on one handle | their answers
#   [| how the end state is read (a function of chip and channel) | that state
#   [| a command run first]]
contract_cases() {
	while IFS='|' read -r cname chip ch wfs want how want_state pre; do
		begin "$cname"
		[ -z "$pre" ] || eval "$pre"
		# shellcheck disable=SC2086 # the waveforms are split on purpose
		run wf-seq "$chip" "$ch" $wfs
		expect "exit status" "$rc" 0
		expect "stderr" "$err" ""
		expect "answers" "$out" "$want"
		[ -z "$how" ] || expect "end state" "$($how "$chip" "$ch")" "$want_state"
		finish
	done
}

# Failures the tool must report, one row a line on stdin:
#   name | tool options | stderr line [| a further check, run after the tool]
# The tool must give up at once: within MAX_FAIL_S seconds (a wait for a
# channel that never comes would take a second or more).
MAX_FAIL_S=0.5
uptime_s() { cut -d' ' -f1 /proc/uptime; }
failure_cases() {
	while IFS='|' read -r cname opts want after; do
		begin "$cname"
		t0=$(uptime_s)
		# shellcheck disable=SC2086
		run pwm-sweep $opts
		t=$(awk -v a="$t0" -v b="$(uptime_s)" 'BEGIN { printf "%.2f", b - a }')
		expect "exit status" "$rc" 1
		expect "stderr" "$err" "$want"
		expect "stdout" "$out" ""
		awk -v t="$t" -v m="$MAX_FAIL_S" 'BEGIN { exit !(t <= m) }' || bad "took $t s, want at most $MAX_FAIL_S s"
		[ -z "$after" ] || eval "$after"
		finish
	done
}

# refused-write-check on one sysfs channel: the library recovers after the
# kernel refused a write that its stale view of the channel made.
refused_write_case() { # chip channel
	begin refused-write-recovery
	run refused-write-check "$1" "$2"
	[ -n "$out" ] && echo "$out"
	[ -n "$err" ] && echo "$err"
	[ "$rc" = 0 ] || bad "refused-write-check exit status $rc:$(echo "$out" | sed -n 's/^ *\(.*FAIL.*\)$/ \1;/p' | tr -d '\n')"
	finish
}

# --- the udev guests: Debian's systemd-udevd and the project's rule ----------------
# perms FILE...: "group mode" of each, blank-separated.
perms() {
	for f in "$@"; do stat -c '%G %a' "$f" 2>&1; done | tr '\n' ' ' | sed 's/ $//'
}
secs_since() { awk -v a="$1" -v b="$(uptime_s)" 'BEGIN { printf "%.2f", b - a }'; }
# Waits (up to 2 s) until udev's queue holds events; "yes" if it did.
queue_busy() {
	i=0
	while [ ! -e /run/udev/queue ] && [ "$i" -lt 400 ]; do
		i=$((i + 1))
		sleep 0.005
	done
	if [ -e /run/udev/queue ]; then echo yes; else echo no; fi
}
# The case that starts udev and replays every device as at boot; CHIP is
# the chip whose add must run the rule's command.
udev_start_case() { # chip
	begin udev-starts
	mount -t tmpfs -o mode=755 tmpfs /run && mkdir -p /run/udev || bad "mounting /run failed"
	/lib/systemd/systemd-udevd --daemon >/tmp/udevd.out 2>&1 || bad "systemd-udevd did not start: $(cat /tmp/udevd.out)"
	i=0
	until udevadm control --ping 2>/dev/null; do
		i=$((i + 1))
		[ "$i" -gt 100 ] && { bad "systemd-udevd does not answer"; break; }
		sleep 0.1
	done
	echo "  udevadm $(udevadm --version), $(udevadm trigger --dry-run --verbose | wc -l) devices"
	t0=$(uptime_s)
	udevadm trigger --type=subsystems --action=add && udevadm trigger --type=devices --action=add ||
		bad "udevadm trigger failed"
	udevadm settle --timeout=60 || bad "udevadm settle timed out"
	echo "  replayed and settled in $(secs_since "$t0") s"
	# udev reads on past a line it cannot use, with a warning naming the line.
	udevadm test --action=add "$SYS/pwmchip$1" >/tmp/udev-test 2>&1
	complaints=$(grep -i -E '60-quorvin-pwm\.rules:[0-9]+ .*(invalid|ignor|error|unknown|fail)' /tmp/udev-test)
	[ -z "$complaints" ] || bad "udev complains about the rule: $complaints"
	# (udev 252 prints "run: 'COMMAND'", 257 "RUN{program} : COMMAND".)
	grep -q -E "^(run: '| *RUN\{program\} : )/bin/sh -c 'cd /sys/devices/[^ ]*/pwmchip$1 [|][|] exit 0; " /tmp/udev-test ||
		bad "the chip's add does not run the rule's command: $(grep -i -E '^ *run' /tmp/udev-test)"
	finish
}
