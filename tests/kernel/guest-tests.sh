# Guest side of the kernel suite (busybox sh, run by /init from /q).
# Output protocol read by run-kernel-tests.sh:
#   PLAN n, RUN name, PASS name, FAIL name: why, free text, END.
# Cases on one channel run in order and each starts from the state the
# previous one left; each checks its own starting state where it matters.

SYS=/sys/class/pwm

echo "PLAN 17"
uname -r

# run PROG ARGS...: a program brought along, started through the copied loader.
run() {
	prog=$1
	shift
	(cd /q && ./ld-linux-x86-64.so.2 --library-path /q/lib "./bin/$prog" "$@") </dev/null >/tmp/stdout 2>/tmp/stderr
	rc=$?
	out=$(cat /tmp/stdout)
	err=$(cat /tmp/stderr)
}

# attr CHIP CHANNEL NAME
attr() { cat "$SYS/pwmchip$1/pwm$2/$3" 2>&1; }
state() { echo "$(attr "$1" "$2" period) $(attr "$1" "$2" duty_cycle) $(attr "$1" "$2" enable)"; }

begin() {
	name=$1
	why=
	echo "RUN $name"
}
bad() { why="${why:+$why; }$*"; }
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

# --- the kernel's own starting point -------------------------------------------
# The sweeps below rely on what a fresh export looks like on this kernel.
begin kernel-initial-state
echo 3 > $SYS/pwmchip4/export || bad "export pwmchip4/pwm3 failed"
expect "fresh pwmchip4/pwm3" "$(state 4 3) $(attr 4 3 polarity)" "1000000000 1000000000 0 normal"
echo 3 > $SYS/pwmchip4/unexport || bad "unexport pwmchip4/pwm3 failed"
[ -e $SYS/pwmchip4/pwm3 ] && bad "pwmchip4/pwm3 still there after unexport"
finish

# --- sweeps that must succeed ----------------------------------------------------
# name | chip | channel | tool options | final "period duty enable" | precondition
# Preconditions: absent (channel not exported yet), period<N, duty>N, enable=N.
while IFS='|' read -r cname chip ch opts want pre; do
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
	finish
done <<'EOF'
fresh-export-sweep|0|0|-c 0 -p 0 -P 100000 -S 3000|100000 99000 1|absent
downward-larger-period|0|0|-P 500000 -S -3001|500000 1834 1|period<500000
period-below-previous-duty|0|0|-P 1000 -S 100|1000 1000 1|duty>1000
period-zero-turns-off|0|0|-P 0|- - 0|enable=1
sweep-turns-on-again|0|0|-P 20000 -S 20000|20000 20000 1|enable=0
default-sweep|0|0||50000 50000 1|enable=1
second-chip|4|2|-c 4 -p 2 -P 80000 -S 16000|80000 80000 1|absent
EOF

# The sweep on pwmchip4 must not have touched the same channel of pwmchip0.
begin second-chip-leaves-first-alone
[ -e $SYS/pwmchip0/pwm2 ] && bad "pwmchip0/pwm2 got exported by a sweep of pwmchip4"
expect "pwmchip0 channels" "$(attr 0 0 period) $(attr 0 0 duty_cycle)" "50000 50000"
finish

# --- failures the tool must report ----------------------------------------------
# name | tool options | stderr line
while IFS='|' read -r cname opts want; do
	begin "$cname"
	# shellcheck disable=SC2086
	run pwm-sweep $opts
	expect "exit status" "$rc" 1
	expect "stderr" "$err" "$want"
	expect "stdout" "$out" ""
	finish
done <<'EOF'
channel-at-npwm|-p 4|Failed to get pwm0: Invalid argument
channel-beyond-npwm|-c 4 -p 9|Failed to get pwm0: Invalid argument
missing-chip|-c 7|Failed to open pwmchip0: No such file or directory
missing-chip-between-chips|-c 1|Failed to open pwmchip0: No such file or directory
EOF

# --- channels someone else set up ------------------------------------------------
# Exported and enabled by the shell with a duty above the coming period: the
# first waveform only gets in if the duty goes down before the period.
begin takeover-shell-channel
c=$SYS/pwmchip0
echo 1 > $c/export && echo 800000 > $c/pwm1/duty_cycle && echo 900000 > $c/pwm1/period &&
	echo 1 > $c/pwm1/enable || bad "shell setup of pwmchip0/pwm1 failed"
expect "state left by the shell" "$(state 0 1)" "900000 800000 1"
run pwm-sweep -p 1 -P 600000 -S 50000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect_state 0 1 "600000 600000 1"
finish

# Left inversed: the waveform asked for is active for duty_length_ns from the
# start of the period, so the output must end up normal.
begin takeover-inversed-channel
c=$SYS/pwmchip4
echo 1 > $c/export && echo 100000 > $c/pwm1/duty_cycle && echo 400000 > $c/pwm1/period &&
	echo inversed > $c/pwm1/polarity && echo 1 > $c/pwm1/enable || bad "shell setup of pwmchip4/pwm1 failed"
expect "state left by the shell" "$(state 4 1) $(attr 4 1 polarity)" "400000 100000 1 inversed"
run pwm-sweep -c 4 -p 1 -P 400000 -S 100000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "final state" "$(state 4 1) $(attr 4 1 polarity)" "400000 400000 1 normal"
finish

# --- the library after a refused write --------------------------------------------
begin refused-write-recovery
run refused-write-check 0 2
[ -n "$out" ] && echo "$out"
[ -n "$err" ] && echo "$err"
[ "$rc" = 0 ] || bad "refused-write-check exit status $rc:$(echo "$out" | sed -n 's/^ *\(.*FAIL.*\)$/ \1;/p' | tr -d '\n')"
finish

# --- timing row: the tool against a bare pwrite loop, same file, same duties ---------
begin timing-row
(cd /q && ./ld-linux-x86-64.so.2 --library-path /q/lib ./bin/bench-pair 7 \
	-- /q/ld-linux-x86-64.so.2 --library-path /q/lib /q/bin/pwm-sweep -p 3 -P 300000 -S 1 \
	-- /q/ld-linux-x86-64.so.2 --library-path /q/lib /q/bin/pwrite-loop $SYS/pwmchip0/pwm3 300000 1) \
	>/tmp/bench 2>&1
rc=$?
sed 's/^/  /' /tmp/bench
echo "  (A = pwm-sweep -P 300000 -S 1, B = bare pwrite loop; 300001 duty writes each)"
expect "bench-pair exit status" "$rc" 0
expect_state 0 3 "300000 300000 1"
finish

echo END
