# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Setup step of the census guests, run by /init (busybox sh) once the
# modules that the drivers need are loaded: the I2C MFDs whose drivers the
# guest loaded, on i2c-stub (register files, 0 at load), declared as a board
# file would; then the PWM drivers of the boot's rows of the table, in its
# order, each whether the one before loaded or not (the suite reports a
# driver that did not as not bound); then the PCI functions given to their
# drivers.
# - MAX7360 at 0x38: its probe reads nothing that 0 fails.
# - The Netronix EC at 0x43: its probe reads the 16-bit big-endian version
#   register 0x00 and wants a model with a PWM (0xe135); the stub's SMBus
#   word is little-endian, so 0x35e1 is written there (busybox i2cset
#   through Debian's i2c-dev) before the chip is declared.
set -e
. /q/guest.env
set --
[ -d /sys/module/max7360 ] && set -- "$@" "max7360 0x38"
[ -d /sys/module/ntxec ] && set -- "$@" "ntxec 0x43"
if [ $# -gt 0 ]; then
	addrs=
	for c in "$@"; do addrs=${addrs:+$addrs,}${c#* }; done
	insmod /modules/i2c-stub.ko chip_addr="$addrs"
	adapter=
	for a in /sys/bus/i2c/devices/i2c-*; do
		[ "$(cat "$a/name")" = "SMBus stub driver" ] && adapter=$a
	done
	[ -n "$adapter" ] || { echo "no i2c-stub adapter"; exit 1; }
	for c in "$@"; do
		[ "${c% *}" = ntxec ] && i2cset -y "${adapter##*-}" 0x43 0x00 0x35e1 w
		echo "$c" >"$adapter/new_device"
	done
fi
for d in $(awk -F'\t' -v b="$CENSUS_BOOT" '$1 !~ /^#/ && $2 == b { print $1 }' /q/census-drivers.tsv); do
	insmod "/modules/$d.ko" || echo "$d: insmod failed"
done
# The PCI drivers of this boot: QEMU's function (ids VENDOR:DEVICE) is
# given to the driver as one of its own, with the match data of the id
# table's entry named (a symbol, its address from the kernel's table;
# the kernel takes only the match data of an entry of the driver's). One
# that cannot be given is reported by the suite as not bound.
awk -F'\t' -v b="$CENSUS_BOOT" '$1 !~ /^#/ && $2 == b && $4 ~ /^pci:/ { print $1, $6 }' /q/census-drivers.tsv |
	while read -r drv ids sym; do
		drvdir=$(ls -d /sys/module/"$(echo "$drv" | tr - _)"/drivers/pci:* 2>/dev/null) ||
			{ echo "$drv: no PCI driver loaded"; continue; }
		addr=$(awk -v s="$sym" '$3 == s { print $1; exit }' /proc/kallsyms)
		[ -n "$addr" ] && [ "$addr" != 0000000000000000 ] || { echo "$drv: no address of $sym"; continue; }
		echo "${ids%:*} ${ids#*:} ffffffff ffffffff 0 0 $addr" >"$drvdir/new_id"
	done
