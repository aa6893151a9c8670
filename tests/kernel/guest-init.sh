#!/bin/busybox sh
# /init of the test guest: bring up the PWM drivers, run the suite with its
# output on the second serial port (kept apart from kernel messages), leave
# the exit status on the console, power off.
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

stty -F /dev/ttyS1 raw -echo || marker "setup: no second serial port"
exec 3> /dev/ttyS1

insmod /modules/pwm-lpss.ko || marker "setup: insmod pwm-lpss.ko failed"
insmod /modules/pwm-lpss-platform.ko || marker "setup: insmod pwm-lpss-platform.ko failed"

# The platform driver binds asynchronously; give both chips up to ~5 s.
i=0
while [ ! -e /sys/class/pwm/pwmchip0/npwm ] || [ ! -e /sys/class/pwm/pwmchip4/npwm ]; do
	i=$((i + 1))
	[ "$i" -gt 50 ] && marker "setup: PWM chips did not appear: $(ls /sys/class/pwm 2>&1 | tr '\n' ' ')"
	sleep 0.1
done

cd /q || marker "setup: payload missing"
sh /q/guest-tests.sh >&3 2>&3
marker "$?"
