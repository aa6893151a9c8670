# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Setup step of the arm64-hats guest, run by /init (busybox sh) once the
# modules are loaded: i2c-stub, an SMBus adapter whose chips are plain
# register files at the given addresses (registers 0 at load), and on it
# the two I2C PWM chips, declared as a board file or an overlay would.
# Each chip binds as it is declared.
set -e
insmod /modules/i2c-stub.ko chip_addr=0x1a,0x40
adapter=
for a in /sys/bus/i2c/devices/i2c-*; do
	[ "$(cat "$a/name")" = "SMBus stub driver" ] && adapter=$a
done
[ -n "$adapter" ] || { echo "no i2c-stub adapter"; exit 1; }
echo "pca9685 0x40" >"$adapter/new_device"
echo "fan-hat 0x1a" >"$adapter/new_device"
