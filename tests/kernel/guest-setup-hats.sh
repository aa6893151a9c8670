# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Setup step of the hats guests, run by /init (busybox sh) once the modules
# are loaded: i2c-stub, an SMBus adapter whose chips are plain register
# files at the given addresses (registers 0 at load), and on it the I2C PWM
# chips whose drivers the guest loaded, declared as a board file or an
# overlay would. Each chip binds as it is declared, in this order.
set -e
# "name address" of each chip to declare.
set --
[ -d /sys/module/pwm_pca9685 ] && set -- "$@" "pca9685 0x40"
[ -d /sys/module/pwm_argon_fan_hat ] && set -- "$@" "fan-hat 0x1a"
[ $# -gt 0 ] || { echo "no I2C PWM driver loaded"; exit 1; }
addrs=
for c in "$@"; do addrs=${addrs:+$addrs,}${c#* }; done
insmod /modules/i2c-stub.ko chip_addr="$addrs"
adapter=
for a in /sys/bus/i2c/devices/i2c-*; do
	[ "$(cat "$a/name")" = "SMBus stub driver" ] && adapter=$a
done
[ -n "$adapter" ] || { echo "no i2c-stub adapter"; exit 1; }
for c in "$@"; do echo "$c" >"$adapter/new_device"; done
