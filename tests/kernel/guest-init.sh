#!/bin/busybox sh
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# /init of the test guest: bring up the PWM drivers, run the suite with its
# output on a port of its own (kept apart from kernel messages), leave the
# exit status on the console, power off. /q/guest.env names the port, the
# modules, in load order (chips are numbered in the order they bind), and
# how many chips they make.
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /tmp
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

marker() {
	echo "QUORVIN-GUEST-STATUS $*" > /dev/console
	poweroff -f
}

. /q/guest.env || marker "setup: payload missing"

i=0
while [ ! -e "$GUEST_OUT" ]; do
	i=$((i + 1))
	[ "$i" -gt 50 ] && marker "setup: no output port $GUEST_OUT"
	sleep 0.1
done
case $GUEST_OUT in /dev/ttyS*) stty -F "$GUEST_OUT" raw -echo || marker "setup: stty $GUEST_OUT failed" ;; esac
exec 3> "$GUEST_OUT"

for m in $GUEST_MODULES; do
	insmod "/modules/$m.ko" || marker "setup: insmod $m.ko failed"
done

# A guest's own step once the modules are in: devices that they cannot
# find by themselves (/q/guest-setup.sh, where the guest has one).
if [ -f /q/guest-setup.sh ]; then
	sh /q/guest-setup.sh >/tmp/setup.log 2>&1 || marker "setup: guest-setup.sh failed: $(tr '\n' ' ' </tmp/setup.log)"
fi

# Drivers may bind asynchronously; give the guest's chips (GUEST_CHIPS)
# up to ~5 s.
i=0
while [ "$(ls -d /sys/class/pwm/pwmchip* 2>/dev/null | wc -l)" -lt "${GUEST_CHIPS:-2}" ]; do
	i=$((i + 1))
	[ "$i" -gt 50 ] && marker "setup: PWM chips did not appear: $(ls /sys/class/pwm 2>&1 | tr '\n' ' ')"
	sleep 0.1
done

cd /q || marker "setup: payload missing"
sh /q/guest-tests.sh >&3 2>&3
marker "$?"
