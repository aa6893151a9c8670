# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Guest suite of the hats guests (busybox sh, run by /init from /q):
# drivers Debian does not build for the guest's architecture, built from its
# source of the booted kernel (build-oot-modules.sh). arm64-hats has them
# all, x86-hats pwm-pca9685 alone: the rows of a driver the guest does not
# load (/q/guest.env) are left out, those of one it loads must pass.
# - pwm-pca9685 on i2c-stub (/dev/pwmchipN, 17 channels, the 17th driving
#   all 16 outputs at once): one prescaler for all channels (periods of
#   163840 ns times 4 to 256, a 4096-step counter), offsets made; asleep
#   (MODE1's SLEEP bit, all outputs stopped) while no channel is requested;
# - pwm-argon-fan-hat on the same stub (/dev/pwmchipN): a fixed period of
#   33333 ns, the duty in percent in register 0x80, nothing read back;
# - pwm-gpio on line 1 of the board's PL061 (sysfs only);
# - pwm-axi-pwmgen on RAM (/dev/pwmchipN, 10 ns steps).
# The I2C chips' registers are read with busybox's i2cget through Debian's
# i2c-dev, beside the driver that holds the address (-f). Rows on one chip
# run in order, each from the state the previous one left.
. /q/guest-lib.sh
. /q/guest.env

loads() { case " $GUEST_MODULES " in *" $1 "*) return 0 ;; esac; return 1; }
# 13 rows on the pca9685 and all chips, 2 more on each other driver and a
# third on pwm-gpio.
n=13
for m in pwm-argon-fan-hat pwm-axi-pwmgen pwm-gpio; do loads $m && n=$((n + 2)); done
loads pwm-gpio && n=$((n + 1))
echo "PLAN $n"
uname -r
mount -t debugfs debugfs /sys/kernel/debug 2>/dev/null

G=$(chip_of pwm-gpio) A=$(chip_of axi-pwmgen) P=$(chip_of pca9685-pwm) F=$(chip_of argon-fan-hat)
BUS=
for a in /sys/bus/i2c/devices/i2c-*; do
	[ "$(cat "$a/name")" = "SMBus stub driver" ] && BUS=${a##*-}
done
# A register of a chip on the stub: "0x.." or i2cget's complaint. (i2cget
# reads a bare number as hexadecimal.)
reg() { i2cget -f -y "$BUS" "$1" "$(printf '0x%02x' "$2")" 2>&1; }
mode1() { reg 0x40 0x00; }
# pca CHANNEL: PRESCALE and the channel's ON_L ON_H OFF_L OFF_H, what its
# output runs once the chip is awake.
pca() {
	r=$((6 + 4 * $1))
	echo "$(reg 0x40 0xfe) $(reg 0x40 $r) $(reg 0x40 $((r + 1))) $(reg 0x40 $((r + 2))) $(reg 0x40 $((r + 3)))"
}
# 20 ms / 1.5 ms as the chip makes it: prescale 0x79 (4880 ns steps), on at
# 0, off at 307 = 0x133.
SERVO="0x79 0x00 0x00 0x33 0x01"

begin chips-found
if loads pwm-gpio; then
	expect "chips (pwm-gpio, axi-pwmgen, pca9685, fan HAT), in load order" "$G $A $P $F" "0 1 2 3"
	expect "npwm" "$(cat $SYS/pwmchip$G/npwm) $(cat $SYS/pwmchip$A/npwm) $(cat $SYS/pwmchip$P/npwm) $(cat $SYS/pwmchip$F/npwm)" "1 4 17 1"
	for c in $A $F; do [ -c /dev/pwmchip$c ] || bad "no /dev/pwmchip$c"; done
	[ -e /dev/pwmchip$G ] && bad "/dev/pwmchip$G exists for pwm-gpio"
else
	expect "chips (the pca9685 alone)" "$(chips | tr '\n' ' ')$P" "0 0"
	expect "npwm" "$(cat $SYS/pwmchip$P/npwm)" 17
fi
[ -c /dev/pwmchip$P ] || bad "no /dev/pwmchip$P"
expect "i2c-stub's adapter" "${BUS:-none}" 0
# The stub's registers start at 0: the prescaler too (a real chip's powers
# up at 0x1e). The probe sets auto-increment and leaves the chip asleep.
expect "pca9685 MODE1, PRESCALE after probe" "$(mode1) $(reg 0x40 0xfe)" "0x30 0x00"
finish

# --- the companion tools ---------------------------------------------------------
begin tools-detect
run pwm-detect
show
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "output" "$out" "$(
	loads pwm-gpio && echo "pwmchip$G [pwm-gpio] (1 channel) pwm-gpio sysfs"
	loads pwm-axi-pwmgen && echo "pwmchip$A [4ff01000.pwm] (4 channels) axi-pwmgen /dev/pwmchip$A"
	echo "pwmchip$P [$BUS-0040] (17 channels) pca9685-pwm /dev/pwmchip$P"
	loads pwm-argon-fan-hat && echo "pwmchip$F [$BUS-001a] (1 channel) argon-fan-hat /dev/pwmchip$F"
)"
finish
# The pca9685 named by its parent: every channel rounds 20 ms alike. The fan
# HAT's channel cannot be read back.
begin tools-info
run pwm-info -P 20000000 "$BUS-0040"
show
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "channels at 19988480 ns in 4880 ns steps" \
	"$(echo "$out" | grep -c '	free	disabled	rounded period=19988480 duty-step=4880$')" 17
run pwm-info
expect "exit status of pwm-info" "$rc" 0
loads pwm-argon-fan-hat && expect "the fan HAT" "$(echo "$out" | grep -A1 "^pwmchip$F ")" "pwmchip$F - 1 channel:
	channel 0:	free	unreadable"
[ -z "$(ls -d $SYS/pwmchip*/pwm* 2>/dev/null)" ] || bad "left exported: $(ls -d $SYS/pwmchip*/pwm*)"
finish

# --- the library through the device node: wf-seq, one process a row ---------------------
# name | chip | channel | wf-seq steps | their answers | how the end state is
#   read | that state
# (the channel is released as each process ends; the registers keep what
# was written).
pca_ch() { pca "$2"; }
getwf_of() { getwf "$1" "$2"; }
fan_duty() { reg 0x1a 0x80; }
{
	cat <<EOF
pca-made-as-rounded|$P|0|20000000/1500000/0 get|ok 19988480/1498160/0|pca_ch|$SERVO
pca-offset-made|$P|3|20000000/5000000/2500000 get|ok 19988480/4997120/2498560|pca_ch|0x79 0x00 0x02 0x00 0x06
pca-below-shortest-refused|$P|0|600000/300000/0 get|EINVAL 19988480/1498160/0|pca_ch|$SERVO
EOF
	loads pwm-argon-fan-hat && cat <<EOF
fan-exact-set|$F|0|33333/10000/0 get|ok EOPNOTSUPP|fan_duty|0x1e
fan-other-period-refused|$F|0|20000/5000/0|EINVAL|fan_duty|0x1e
EOF
	loads pwm-axi-pwmgen &&
		echo "axi-made-read-back|$A|0|100000/50000/0 get 100000/30000/20000 get|ok 100000/50000/0 ok 100000/30000/20000|getwf_of|100000 30000 20000"
} | contract_cases

# --- one prescaler for all pca9685 channels ------------------------------------------------
# While channel 0 runs 20 ms for another process, channel 1 cannot have
# 10 ms: refused, channel 0 and channel 1 as they were.
begin pca-second-period-refused-while-held
rm -f /tmp/release
(cd /q && exec ./ld.so --library-path /q/lib ./bin/wf-seq "$P" 0 20000000/1500000/0 wait=/tmp/release \
	</dev/null >/tmp/hold.out 2>/tmp/hold.err) &
holder=$!
i=0
until [ "$(cat /tmp/hold.out)" = "ok " ]; do
	i=$((i + 1))
	[ "$i" -gt 500 ] && { bad "the holder never set channel 0: $(cat /tmp/hold.out /tmp/hold.err)"; break; }
	sleep 0.02
done
expect "MODE1 while held (awake)" "$(mode1)" 0x20
ch1_before=$(pca 1)
run wf-seq "$P" 1 10000000/1000000/0
expect "channel 1's 10 ms" "$rc $out$err" "0 EINVAL"
expect "channel 0" "$(pca 0)" "$SERVO"
expect "channel 1" "$(pca 1)" "$ch1_before"
kill -0 "$holder" 2>/dev/null || bad "the holder ended too soon"
touch /tmp/release
wait "$holder"
expect "holder" "$(cat /tmp/hold.out /tmp/hold.err)" "ok waited"
finish

# --- what runs once the program has ended -------------------------------------------------
# Through the device node the channel is freed at exit; pca9685's release
# puts the chip to sleep once no channel is requested: every output stops,
# the registers keep the waveform.
begin pca-release-sleeps
[ -z "$(ls -d $SYS/pwmchip$P/pwm* 2>/dev/null)" ] || bad "precondition: a channel is exported"
run wf-seq "$P" 5 20000000/1500000/0
expect "answer" "$rc $out$err" "0 ok"
m=$(mode1)
echo "  MODE1 after the program: $m"
[ $((m & 0x10)) != 0 ] || bad "MODE1 $m: SLEEP not set after the release"
expect "channel 5's registers" "$(pca 5)" "$SERVO"
finish
# Taken with pwm_chip_export_pwm, the channel stays exported, so requested:
# the chip stays awake and the output runs on.
begin pca-exported-keeps-running
run wf-seq -x "$P" 2 20000000/1500000/0 get
expect "answers" "$rc $out$err" "0 ok 20000000/1500000/0"
m=$(mode1)
echo "  MODE1 after the program: $m"
expect "MODE1 (awake, auto-increment)" "$m" 0x20
expect "channel 2's registers" "$(pca 2)" "$SERVO"
expect "sysfs" "$(state "$P" 2)" "20000000 1500000 1"
finish
# The exported channel holds the prescaler as a process would.
begin pca-second-period-refused-while-exported
run wf-seq "$P" 1 10000000/1000000/0
expect "channel 1's 10 ms" "$rc $out$err" "0 EINVAL"
expect "channel 2" "$(pca 2) $(state "$P" 2)" "$SERVO 20000000 1500000 1"
finish
# A sweep through the device node at the running period, to full on; the
# exported channel keeps the chip awake after it.
begin pca-sweep
run pwm-sweep -c "$P" -p 4 -P 20000000 -S 5000000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "GETWF" "$(getwf "$P" 4)" "19988480 19988480 0"
expect "channel 4's registers (full on)" "$(pca 4)" "0x79 0x00 0x10 0x00 0x00"
expect "MODE1" "$(mode1)" 0x20
finish

# --- pwm-set: the waveform runs on after it exits; a hold keeps others out --------
# By default the channel is taken through sysfs and stays exported: the
# pca9685 stays awake and runs the servo's 1.5 ms in 20 ms, as asked in Hz
# and percent, after the tool has ended.
begin set-pca-runs-after-exit
run pwm-set -c "$P" -p 6 -f 50Hz -d 7.5%
expect "exit status, output" "$rc $out$err" "0 "
expect "channel 6's registers" "$(pca 6)" "$SERVO"
expect "sysfs" "$(state "$P" 6)" "20000000 1500000 1"
expect "held after the tool ended (exported)" "$(requested "$P" 6)" yes
finish
# --hold takes the channel through the device node until a signal: another
# pwm-set and pwm-sweep find it busy; SIGTERM ends the hold with status 0,
# the channel free again and its output as set (the exported channels keep
# the chip awake).
begin set-pca-hold
(cd /q && exec ./ld.so --library-path /q/lib ./bin/pwm-set -c "$P" -p 8 -P 20ms -d 1.5ms --hold \
	</dev/null >/tmp/hold.out 2>/tmp/hold.err) &
holder=$!
i=0
until [ "$(requested "$P" 8)" = yes ]; do
	i=$((i + 1))
	[ "$i" -gt 500 ] && { bad "the hold never took channel 8: $(cat /tmp/hold.err)"; break; }
	sleep 0.02
done
run pwm-set -c "$P" -p 8 -P 20ms -d 50%
expect "a second pwm-set" "$rc $err" "1 pwm-set: pwmchip$P: channel 8: Device or resource busy (held by another program or a kernel driver)"
run pwm-sweep -c "$P" -p 8 -P 20000000 -S 10000000
expect "pwm-sweep" "$rc $err" "1 Failed to get pwm0: Device or resource busy"
expect "channel 8 while held" "$(pca 8)" "$SERVO"
kill -TERM "$holder"
wait "$holder"
expect "the hold's exit status, output" "$? $(cat /tmp/hold.out /tmp/hold.err)" "0 "
expect "held after the signal" "$(requested "$P" 8)" no
expect "channel 8 after" "$(pca 8)" "$SERVO"
finish

# --- sysfs: pwm-gpio, and a sweep on axi-pwmgen ----------------------------------
if loads pwm-gpio; then
# name | chip | channel | tool options | final "period duty enable" | precondition
sweep_cases <<EOF
gpio-sweep|$G|0|-c $G -P 20000000 -S 5000000|20000000 20000000 1|absent
EOF
begin gpio-set-runs-after-exit
run pwm-set -c "$G" -p 0 -P 10ms -d 50%
expect "exit status, output" "$rc $out$err" "0 "
expect "sysfs" "$(state "$G" 0)" "10000000 5000000 1"
finish
begin gpio-set-read-back
run wf-seq "$G" 0 20000000/5000000/0 get
expect "answers" "$rc $out$err" "0 ok 20000000/5000000/0"
expect "sysfs" "$(state "$G" 0)" "20000000 5000000 1"
# The line, sampled: a quarter high (measured 20-26 %); stuck high or low
# would be 0 or 200.
high=0
i=0
while [ $i -lt 200 ]; do
	grep 'pwm-gpio' /sys/kernel/debug/gpio | grep -q ' hi' && high=$((high + 1))
	i=$((i + 1))
done
echo "  line high in $high of 200 samples"
[ "$high" -ge 20 ] && [ "$high" -le 80 ] || bad "line high in $high of 200 samples: $(grep 'pwm-gpio' /sys/kernel/debug/gpio)"
finish
fi
if loads pwm-axi-pwmgen; then
begin axi-sweep
run pwm-sweep -c "$A" -p 1 -P 100000 -S 10000
expect "exit status" "$rc" 0
expect "stderr" "$err" ""
expect "GETWF" "$(getwf "$A" 1)" "100000 100000 0"
finish
fi

echo END
