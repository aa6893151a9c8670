#!/bin/bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Runs pwm-sweep and libquorvin against real kernel PWM chips: Debian's own
# kernels booted under QEMU (TCG), all cases of a guest in one boot.
#
#   run-kernel-tests.sh --guest GUEST (--tool FILE [--prog FILE]... | --cross-build DIR --source DIR)
#                       [--cache DIR] [--work DIR] [--timeout SECS]
#
# GUEST is one of
#   x86-6.1   Debian 12's kernel (linux-image-amd64), two pwm-lpss chips from an extra ACPI table
#   x86-6.12  Debian 12's 6.12 (linux-image-6.12-amd64), same chips
#   x86-7     Debian 13 backports' 7.x (linux-image-amd64), same chips
#   x86-udev  the x86-6.1 guest with Debian 12's own systemd-udevd and the project's udev rule
#             (udev/): the tool run by users in and outside the rule's group
#   arm64-udev  the arm64-7 guest with Debian 13's own systemd-udevd and the same rule
#   arm64-7   Debian 13 backports' 7.x for arm64 on QEMU's virt board: pwm-mediatek (the
#             character device), pwm-bcm2835 (sysfs only) and leds-pwm holding one channel of each;
#             the quorvin Python package run by Debian 12's python3 for arm64
#   armhf-7   Debian 13 backports' 7.x armmp kernel, 32-bit, on QEMU's virt board: an STM32 timer's
#             pwm-stm32 (the character device; channels share one period), pwm-bcm2835, leds-pwm
#             holding a bcm2835 channel; the Python package as on arm64-7
#   arm64-drivers  the arm64-7 kernel with six more legacy drivers (sysfs only): pwm-imx27,
#             pwm-rockchip, pwm-sun4i, pwm-tiecap, pwm-mtk-disp, pwm-meson
#   armhf-drivers  the armhf-7 kernel with eleven more legacy chips: pwm-tiecap, pwm-tiehrpwm,
#             pwm-imx27, pwm-sun4i, pwm-rockchip, pwm-meson, pwm-samsung, pwm-vt8500, two
#             pwm-stm32-lp, pwm-omap-dmtimer
#   arm64-hats  the arm64-7 kernel with drivers Debian does not build for it, built here from
#             Debian's source of that kernel (build-oot-modules.sh): pwm-pca9685 and
#             pwm-argon-fan-hat on i2c-stub (the character device), pwm-gpio on the board's
#             GPIO line and pwm-axi-pwmgen on RAM
#   x86-hats  the x86-7 kernel with pwm-pca9685 on its own i2c-stub (the character device);
#             Debian does not build that driver for amd64: built here as for arm64-hats
#   arm64-census-BOOT  the arm64-7 kernel with every driver of census-drivers.tsv whose boot
#             is BOOT (1, 2), built here from Debian's source of that kernel, each on a
#             device-tree node of its own (census-harness.sh), checked by guest-tests-census.sh
# Every package name is resolved on each run and cached by the resolved name.
# Debian 13 packages come through an apt configuration of the harness's own,
# kept in the cache folder; the machine's apt setup is left as it is.
#
# --prog adds a helper program to the guest (next to the tool, in /q/bin).
# Programs run in the guest as built: their shared libraries are copied along
# and they are started through the copied dynamic loader (/q/ld.so).
# --cross-build configures and builds the project for the guest's
# architecture in DIR (with cmake/<triplet>.cmake from --source) and takes
# the tool and helpers from there.
# Exit status: 0 if every case passed, 1 if a case failed, 2 if the harness
# itself could not get a result (download, build of the guest, boot).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
guest=x86-6.1
tool=
progs=()
cross_build=
source_dir=
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvin-kernel
work=
qemu_timeout=150

usage() {
	echo "usage: $0 --guest x86-6.1|x86-6.12|x86-7|x86-udev|x86-hats|arm64-7|arm64-udev|armhf-7|arm64-drivers|armhf-drivers|arm64-hats|arm64-census-N (--tool FILE [--prog FILE]... | --cross-build DIR --source DIR) [--cache DIR] [--work DIR] [--timeout SECS]" >&2
	exit 2
}
while [ $# -gt 0 ]; do
	[ $# -ge 2 ] || usage
	case $1 in
	--guest) guest=$2 ;;
	--tool) tool=$2 ;;
	--prog) progs+=("$2") ;;
	--cross-build) cross_build=$2 ;;
	--source) source_dir=$2 ;;
	--cache) cache=$2 ;;
	--work) work=$2 ;;
	--timeout) qemu_timeout=$2 ;;
	*) usage ;;
	esac
	shift 2
done

t_start=$(date +%s.%N)
elapsed() { awk -v a="$t_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

die() {
	echo "HARNESS ERROR ($guest): $*"
	echo "kernel stage $guest: $(elapsed) s (aborted)"
	exit 2
}
note() { echo "[kernel $guest $(elapsed)s] $*"; }
last_case() { sed -n 's/^RUN //p' "$work/out.txt" | tail -n 1 | grep . || echo "none"; }

# --- what each guest is made of ------------------------------------------------
# apt: host (the machine's own sources) or private (Debian 13, own config).
# target_release: what resolves the kernel's meta package there.
# kernel_key: the cache name of a kernel shared with another guest.
# udev: whether the guest gets udev-payload.sh's udev, rule and users.
# python: whether it gets python-payload.sh's interpreter and the Python
# package (cross-built guests only).
# chips: how many PWM chips the guest waits for before its suite starts.
# dtsi: the fragments appended to QEMU's device tree (ARM guests);
# qemu_extra: more QEMU options.
# oot_sources: drivers built from Debian's source of the guest's kernel
# (build-oot-modules.sh), put beside its modules; oot_modules: those that
# /init loads, in order, after the kernel's own (modules).
# setup: a script /init runs once the modules are loaded, before it waits
# for the chips (devices the modules cannot find by themselves);
# setup_modules: the kernel's own modules that it loads itself (with
# parameters), put beside the others but not loaded by /init.
kernel_key=$guest
chips=2
dtsi=()
qemu_extra=()
# kernel_older: names of older kernels of the same flavour, tried newest first
# where the resolved one does not download.
kernel_older=
udev=
python=
oot_sources=()
oot_modules=()
setup=
setup_modules=()
# oot_ccflags: compiler flags of the whole out-of-tree build; dtsi_text:
# device-tree nodes made at run time, appended after dtsi; guest_env: more
# lines of /q/guest.env; payload: more files of this folder put in /q.
oot_ccflags=
dtsi_text=
guest_env=
payload=()
# Every module of the guests that share one kernel: a cache folder is filled
# with all of them, so that those guests do not take turns filling it anew.
arm64_drivers=(pwm-imx27 pwm-rockchip pwm-sun4i pwm-tiecap pwm-mtk-disp pwm-meson)
arm64_hats=(i2c-dev)
x86_hats=(i2c-dev i2c-stub)
armhf_drivers=(pwm-tiecap pwm-tiehrpwm pwm-imx27 pwm-sun4i pwm-rockchip pwm-meson pwm-samsung pwm-vt8500
	stm32-lptimer pwm-stm32-lp pwm-omap-dmtimer)
case $guest in
x86-6.1 | x86-6.12 | x86-7 | x86-udev | x86-hats)
	arch=amd64
	triplet=x86_64-linux-gnu
	qemu="qemu-system-x86_64"
	modules=(pwm-lpss pwm-lpss-platform)
	busybox_apt=host
	busybox_pkg=busybox-static
	suite="guest-tests-x86.sh"
	guest_out=/dev/ttyS1
	host_pkgs=(qemu-system-x86:qemu-system-x86_64 acpica-tools:iasl cpio:cpio)
	case $guest in
	x86-6.1) kernel_apt=host meta=linux-image-amd64 target_release= ;;
	x86-6.12) kernel_apt=host meta=linux-image-6.12-amd64 target_release= ;;
	x86-7 | x86-hats)
		kernel_apt=private meta=linux-image-amd64 target_release=trixie-backports
		kernel_key=x86-7 key_modules=("${modules[@]}" "${x86_hats[@]}")
		;;
	x86-udev)
		kernel_apt=host meta=linux-image-amd64 kernel_key=x86-6.1 target_release=
		suite="guest-tests-udev.sh" udev=1
		;;
	esac
	if [ "$guest" = x86-hats ]; then
		# Debian builds i2c-stub and i2c-dev for amd64, not pwm-pca9685.
		# No pwm-lpss: the ACPI table's chips stay without a driver.
		modules=(i2c-dev)
		setup_modules=(i2c-stub)
		oot_sources=(drivers/pwm/pwm-pca9685.c)
		oot_modules=(pwm-pca9685)
		setup="guest-setup-hats.sh"
		suite="guest-tests-hats.sh" chips=1
		host_pkgs+=(gcc:gcc make:make xz-utils:xz)
	fi
	;;
arm64-7 | arm64-udev | arm64-drivers | arm64-hats | arm64-census-[0-9]*)
	arch=arm64
	triplet=aarch64-linux-gnu
	qemu="qemu-system-aarch64"
	modules=(pwm-mediatek pwm-bcm2835 leds-pwm)
	key_modules=("${modules[@]}" "${arm64_drivers[@]}" "${arm64_hats[@]}")
	kernel_apt=private meta=linux-image-arm64:arm64 target_release=trixie-backports
	busybox_apt=private
	busybox_pkg=busybox-static:arm64
	suite="guest-tests-arm64.sh"
	kernel_key=arm64-7
	[ "$guest" = arm64-udev ] && suite="guest-tests-udev-arm64.sh" udev=1
	[ "$guest" = arm64-7 ] && python=1
	if [ "$guest" = arm64-drivers ]; then
		# Load order is chip order (pwmchip0..5).
		modules=("${arm64_drivers[@]}")
		suite="guest-tests-drivers.sh" chips=6 dtsi=(pwm-chips-drivers-arm64.dtsi)
	fi
	guest_out=/dev/vport0p1
	host_pkgs=(qemu-system-arm:qemu-system-aarch64 device-tree-compiler:dtc cpio:cpio
		g++-aarch64-linux-gnu:aarch64-linux-gnu-g++)
	if [ "$guest" = arm64-hats ]; then
		# i2c-stub is loaded by the setup script (it takes the addresses
		# of its chips as a parameter), which then declares the two I2C
		# chips; pwm-gpio and pwm-axi-pwmgen bind their device-tree nodes.
		# Debian's i2c-dev lets busybox's i2cget read the stub's registers.
		modules=("${arm64_hats[@]}")
		oot_sources=(drivers/i2c/i2c-stub.c drivers/pwm/pwm-gpio.c drivers/pwm/pwm-axi-pwmgen.c
			drivers/pwm/pwm-pca9685.c drivers/pwm/pwm-argon-fan-hat.c)
		oot_modules=(pwm-gpio pwm-axi-pwmgen pwm-pca9685 pwm-argon-fan-hat)
		setup="guest-setup-hats.sh"
		suite="guest-tests-hats.sh" chips=4 dtsi=(pwm-chips-hats-arm64.dtsi)
		# axi-pwmgen's probe checks its core's version and magic registers,
		# and reads its number of channels: RAM holds what the core would.
		# shellcheck disable=SC2054 # one QEMU option each, commas and all
		qemu_extra=(-device loader,addr=0x4ff01000,data=0x00020100,data-len=4
			-device loader,addr=0x4ff0100c,data=0x601a3471,data-len=4
			-device loader,addr=0x4ff01014,data=4,data-len=4)
		host_pkgs+=(gcc-aarch64-linux-gnu:aarch64-linux-gnu-gcc gcc:gcc make:make xz-utils:xz)
	fi
	if [[ $guest == arm64-census-* ]]; then
		. "$here/census-harness.sh"
		host_pkgs+=(gcc-aarch64-linux-gnu:aarch64-linux-gnu-gcc gcc:gcc make:make xz-utils:xz)
	fi
	;;
armhf-7 | armhf-drivers)
	arch=armhf
	triplet=arm-linux-gnueabihf
	qemu="qemu-system-arm"
	modules=(stm32-timers pwm-stm32 pwm-bcm2835 leds-pwm)
	key_modules=("${modules[@]}" "${armhf_drivers[@]}")
	kernel_key=armhf-7
	kernel_apt=private meta=linux-image-armmp:armhf target_release=trixie-backports
	# The lists may name a newer armmp kernel than the archive serves yet.
	kernel_older='^linux-image-7\.[0-9.]+\+deb[0-9]+-armmp$'
	busybox_apt=private
	busybox_pkg=busybox-static:armhf
	suite="guest-tests-arm64.sh"
	guest_out=/dev/vport0p1
	host_pkgs=(qemu-system-arm:qemu-system-arm device-tree-compiler:dtc cpio:cpio
		g++-arm-linux-gnueabihf:arm-linux-gnueabihf-g++)
	[ "$guest" = armhf-7 ] && python=1
	if [ "$guest" = armhf-drivers ]; then
		# stm32-lptimer is pwm-stm32-lp's parent; the others need only
		# what is built in.
		modules=("${armhf_drivers[@]}")
		suite="guest-tests-drivers.sh" chips=11 dtsi=(pwm-chips-drivers-armhf.dtsi)
		# The status bits that the low-power timer's enable waits for
		# (compare and auto-reload written), in the first timer's status
		# register: RAM does not set them by itself.
		# shellcheck disable=SC2054 # one QEMU option, commas and all
		qemu_extra=(-device loader,addr=0x4ff07000,data=0x00080018,data-len=4)
	fi
	;;
*) usage ;;
esac
[ -n "${key_modules+x}" ] || key_modules=("${modules[@]}")
[ ${#dtsi[@]} -gt 0 ] || [ "$arch" = amd64 ] || dtsi=(pwm-chips-arm-common.dtsi "pwm-chips-$arch.dtsi")

if [ -n "$cross_build" ]; then
	[ -n "$source_dir" ] || die "--cross-build needs --source"
	[ -f "$source_dir/cmake/$triplet.cmake" ] || die "no toolchain file $source_dir/cmake/$triplet.cmake"
else
	[ -n "$tool" ] || usage
	[ "$arch" = amd64 ] || die "$guest runs cross-built programs: give --cross-build and --source"
	[ -x "$tool" ] || die "tool not found or not executable: $tool (build the project first)"
	for p in "${progs[@]}"; do [ -x "$p" ] || die "helper program not found: $p"; done
fi
[ -f "$here/$suite" ] || die "guest script not found: $here/$suite"
[ -z "$setup" ] || [ -f "$here/$setup" ] || die "guest setup script not found: $here/$setup"
[ -n "$work" ] || work=$(mktemp -d /tmp/quorvin-kernel.XXXXXX)
mkdir -p "$cache" "$work" || die "cannot create $cache or $work"
cache=$(cd "$cache" && pwd)
work=$(cd "$work" && pwd)
# Left by an interrupted download (an hour untouched: another run's fetch
# in progress is not this run's to remove).
find "$cache" -maxdepth 1 -name '.fetch.*' -mmin +60 -exec rm -rf {} +
# Folders of the single-kernel layout this cache once had.
rm -rf "$cache"/linux-image-* "$cache"/busybox-static_*

export DEBIAN_FRONTEND=noninteractive

# --- host tools ------------------------------------------------------------
missing=()
for pc in "${host_pkgs[@]}"; do
	command -v "${pc#*:}" >/dev/null || missing+=("${pc%%:*}")
done
host_updated=
host_update() {
	[ -n "$host_updated" ] && return 0
	host_updated=1
	note "apt-get update"
	apt-get update -qq >"$work/apt-update.log" 2>&1 || die "apt-get update failed (see $work/apt-update.log)"
}
if [ ${#missing[@]} -gt 0 ]; then
	[ "$(id -u)" = 0 ] || die "missing host packages (${missing[*]}); install them as root: apt-get install --no-install-recommends ${missing[*]}"
	note "installing ${missing[*]}"
	if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$work/apt-install.log" 2>&1; then
		host_update
		apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$work/apt-install.log" 2>&1 ||
			die "apt-get install ${missing[*]} failed (see $work/apt-install.log)"
	fi
fi
for c in "$qemu" cpio dpkg-deb timeout gzip xz; do
	command -v "$c" >/dev/null || die "host command $c not found"
done

# --- apt: the machine's own, or the private one for Debian 13 ----------------
papt=$cache/apt
archive=$(awk '$1 == "URIs:" { for (i = 2; i <= NF; i++) print $i }' /etc/apt/sources.list.d/*.sources 2>/dev/null |
	grep -v security | head -n 1)
archive=${archive:-http://deb.debian.org/debian}
papt_opts=(-o "Dir::Etc::sourcelist=$papt/sources.list" -o Dir::Etc::sourceparts=-
	-o "Dir::State::Lists=$papt/lists" -o "Dir::Cache=$papt/cache" -o Dir::State::status=/dev/null
	-o APT::Sandbox::User=root -o APT::Architectures::=amd64 -o APT::Architectures::=arm64
	-o APT::Architectures::=armhf)
papt_updated=
papt_update() {
	[ -n "$papt_updated" ] && return 0
	papt_updated=1
	note "apt-get update (private Debian 13 lists)"
	mkdir -p "$papt/lists/partial" "$papt/cache/archives/partial" || die "cannot create $papt"
	apt-get "${papt_opts[@]}" update -qq >"$work/papt-update.log" 2>&1 ||
		die "private apt-get update failed (see $work/papt-update.log)"
	touch "$papt/updated"
}
if [ "$kernel_apt" = private ] || [ "$busybox_apt" = private ]; then
	sources="deb [arch=amd64,arm64,armhf signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive"
	want=$(printf '%s trixie-backports main\n%s trixie main\n' "$sources" "$sources")
	mkdir -p "$papt"
	if [ "$(cat "$papt/sources.list" 2>/dev/null)" != "$want" ]; then
		echo "$want" >"$papt/sources.list"
		rm -f "$papt/updated"
	fi
	# Lists a day old still name what the archive has, mostly; a package
	# that has left it is caught at download and the lists are renewed.
	[ -n "$(find "$papt/updated" -mmin -1440 2>/dev/null)" ] || papt_update
fi

# apt_cmd WHICH PROGRAM ARGS...: run an apt program with the right configuration.
apt_cmd() {
	local which=$1 prog=$2
	shift 2
	if [ "$which" = private ]; then
		"$prog" "${papt_opts[@]}" "$@"
	else
		"$prog" -o APT::Sandbox::User=root "$@"
	fi
}
apt_refresh() { if [ "$1" = private ]; then papt_update; else host_update; fi; }

# depends WHICH PKG [RELEASE]: the direct dependencies of PKG's candidate.
# (Each apt-cache call reads the package lists anew, a second or two on the
# private ones, so each package is asked about once.)
depends() {
	local rel=()
	[ -n "${3:-}" ] && rel=(-t "$3")
	apt_cmd "$1" apt-cache "${rel[@]}" depends "$2" 2>/dev/null | awk '$1 == "Depends:" { print $2 }'
}
# pick REGEX: the first line of stdin that matches.
pick() { grep -m 1 -E "$1"; }
candidate() {
	apt_cmd "$1" apt-cache policy "$2" 2>/dev/null | awk '/Candidate:/ { print $2; exit }' | grep -v '^(none)$'
}
# candidates WHICH PKG...: sets versions (the caller's) to a "PKG VERSION"
# line for each package's candidate, from one apt-cache call (each reads
# the lists anew), renewing the lists once where a package has none. Fails
# where one still has none.
candidates() {
	local which=$1 round
	shift
	for round in 1 2; do
		versions=$(apt_cmd "$which" apt-cache policy "$@" 2>/dev/null |
			awk '/^[^ ]/ { p = $1 } /Candidate:/ && $2 != "(none)" { print p, $2 }')
		[ "$(wc -l <<<"$versions")" = "$#" ] && return 0
		[ "$round" = 1 ] && apt_refresh "$which"
	done
	return 1
}

# Moves the folder filled in $tmp/out into the cache as DIR, and drops the
# older folders of its kind (the same name up to "--"): once a package name
# moved on, the older one is never used again.
cache_fill() {
	local dir=$1 old
	touch "$tmp/out/complete"
	rm -rf "$dir"
	mv "$tmp/out" "$dir" || die "cannot fill cache $dir"
	rm -rf "$tmp"
	for old in "${dir%--*}--"*; do
		[ "$old" = "$dir" ] || rm -rf "$old"
	done
}

# Download packages into DIR; a stale list gives a 404, so retry once after
# an update.
download() {
	local which=$1 dir=$2
	shift 2
	(cd "$dir" && apt_cmd "$which" apt-get download -q "$@") >"$work/download.log" 2>&1 && return 0
	apt_refresh "$which"
	(cd "$dir" && apt_cmd "$which" apt-get download -q "$@") >"$work/download.log" 2>&1 ||
		die "apt-get download $* failed (see $work/download.log)"
}

# --- the kernel, cached by its resolved package name ----------------------------
# Debian renames a kernel package whenever its ABI number moves, so the
# name is resolved on every run: META -> linux-image-V, and on 7.x, whose
# image package is split, -> linux-binary-V, linux-base-V, linux-modules-V.
resolve_image() { depends "$kernel_apt" "$meta" "$target_release" | pick '^linux-image-[0-9]'; }
kpkg=$(resolve_image)
[ -n "$kpkg" ] || { apt_refresh "$kernel_apt"; kpkg=$(resolve_image); }
[ -n "$kpkg" ] || die "cannot resolve the kernel package behind $meta"
kpkg=${kpkg%:*}
kcands=("$kpkg")
tmp=
[ -z "$kernel_older" ] || mapfile -t -O 1 kcands < <(apt_cmd "$kernel_apt" apt-cache pkgnames linux-image- 2>/dev/null |
	grep -E "$kernel_older" | grep -vxF "$kpkg" | sort -rV)
for kpkg in "${kcands[@]}"; do
	akpkg=$kpkg
	[ "$arch" = amd64 ] || akpkg=$kpkg:$arch
	kparts=("$akpkg")
	kdeps=$(depends "$kernel_apt" "$akpkg")
	binary=$(pick '^linux-binary-' <<<"$kdeps")
	if [ -n "$binary" ]; then
		kparts=("$binary")
		for part in base modules; do
			p=$(pick "^linux-$part-[0-9]" <<<"$kdeps")
			[ -n "$p" ] || die "$kpkg has no linux-$part package"
			kparts+=("$p")
		done
	fi
	kdir=$cache/kernel-$kernel_key--$kpkg
	# A folder filled before a module joined the list lacks it: fill it again.
	for m in "${key_modules[@]}"; do [ -f "$kdir/$m.ko" ] || rm -f "$kdir/complete"; done
	[ -f "$kdir/complete" ] && break
	[ ${#kcands[@]} -gt 1 ] || break
	# A candidate that does not download gives way to the next older one.
	note "trying ${kparts[*]}"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	(cd "$tmp" && apt_cmd "$kernel_apt" apt-get download -q "${kparts[@]}") >"$work/download.log" 2>&1 && break
	rm -rf "$tmp"
	tmp=
done
[ -f "$kdir/complete" ] || [ ${#kcands[@]} -eq 1 ] || [ -n "$tmp" ] || die "no kernel of ${kcands[*]} downloads (see $work/download.log)"

if [ ! -f "$kdir/complete" ]; then
	note "fetching ${kparts[*]}"
	if [ -z "$tmp" ]; then
		tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
		download "$kernel_apt" "$tmp" "${kparts[@]}"
	fi
	mkdir -p "$tmp/x" "$tmp/out"
	pats=('*/vmlinuz*' '*/config-*' '*/modules/*/config')
	for m in "${key_modules[@]}"; do pats+=("*/$m.ko*"); done
	# Not every package has every pattern; what counts is checked below.
	for deb in "$tmp"/*.deb; do
		dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp/x" --wildcards "${pats[@]}" 2>/dev/null
	done
	f=$(find "$tmp/x" -name 'vmlinuz*' -type f | head -n 1)
	[ -n "$f" ] && cp "$f" "$tmp/out/vmlinuz" || die "$kpkg has no vmlinuz"
	f=$(find "$tmp/x" \( -name 'config-*' -o -path '*/modules/*/config' \) -type f | head -n 1)
	[ -n "$f" ] && cp "$f" "$tmp/out/config" || die "$kpkg has no config"
	for m in "${key_modules[@]}"; do
		f=$(find "$tmp/x" -name "$m.ko*" | head -n 1)
		[ -n "$f" ] || die "$kpkg has no $m module"
		case $f in
		*.ko) cp "$f" "$tmp/out/$m.ko" ;;
		*.ko.xz) xz -dc "$f" >"$tmp/out/$m.ko" ;;
		*.ko.zst) zstd -qdc "$f" >"$tmp/out/$m.ko" ;;
		*) die "unknown module format: $f" ;;
		esac || die "cannot unpack $f"
	done
	cache_fill "$kdir"
fi
# 6.1 has a switch for the sysfs interface; from 6.12 it is part of the core.
grep -qx 'CONFIG_PWM=y' "$kdir/config" || die "$kpkg: kernel lacks CONFIG_PWM=y"
if grep -q '^# CONFIG_PWM_SYSFS is not set' "$kdir/config"; then die "$kpkg: kernel lacks the PWM sysfs interface"; fi

bbver=$(candidate "$busybox_apt" "$busybox_pkg")
[ -n "$bbver" ] || { apt_refresh "$busybox_apt"; bbver=$(candidate "$busybox_apt" "$busybox_pkg"); }
[ -n "$bbver" ] || die "$busybox_pkg has no candidate version"
bbdir=$cache/busybox-$arch--${bbver//:/_}
if [ ! -f "$bbdir/complete" ]; then
	note "fetching $busybox_pkg $bbver"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	download "$busybox_apt" "$tmp" "$busybox_pkg"
	mkdir -p "$tmp/x" "$tmp/out"
	# /bin on Debian 12, /usr/bin from Debian 13 on.
	dpkg-deb --fsys-tarfile "$tmp"/*.deb | tar -x -C "$tmp/x" --wildcards '*bin/busybox' ||
		die "unpacking $busybox_pkg failed"
	f=$(find "$tmp/x" -name busybox -type f | head -n 1)
	[ -n "$f" ] && cp "$f" "$tmp/out/busybox" || die "cannot copy busybox"
	cache_fill "$bbdir"
fi
if [ -n "$udev" ]; then
	. "$here/udev-payload.sh"
	udev_fetch
fi
note "kernel ${kparts[*]}, $busybox_pkg $bbver${udev:+, udev from $(basename "$udevdir")} (cache $cache)"
if [ ${#oot_sources[@]} -gt 0 ]; then
	. "$here/build-oot-modules.sh"
	oot_fetch
	note "modules built from Debian's source: $(basename "$ootdir")"
fi

# --- the programs: as given, or cross-built here ------------------------------------
if [ -n "$cross_build" ]; then
	note "cross-building for $arch in $cross_build"
	mkdir -p "$cross_build" || die "cannot create $cross_build"
	# Also a folder configured before (by CI, with its own options) gets the guest's programs.
	cmake -S "$source_dir" -B "$cross_build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/$triplet.cmake" \
		-DQUORVIN_KERNEL_TESTS=ON >"$work/cross-configure.log" 2>&1 ||
		die "configuring the $arch build failed (see $work/cross-configure.log)"
	cmake --build "$cross_build" -j2 --target kernel_guest_programs >"$work/cross-build.log" 2>&1 ||
		die "the $arch build failed (see $work/cross-build.log)"
	list=$cross_build/tests/kernel/guest-programs.txt
	[ -f "$list" ] || die "the $arch build left no $list"
	tool=$(sed -n 's/^tool //p' "$list")
	mapfile -t progs < <(sed -n 's/^prog //p' "$list")
	pymod=$(sed -n 's/^python //p' "$list")
fi
if [ -n "$python" ]; then
	[ -n "${pymod:-}" ] || die "the $arch build has no Python module: it needs libpython3-dev:$arch (dpkg --add-architecture $arch)"
	. "$here/python-payload.sh"
	python_fetch
	note "python$pyver from ${py_pkgs[*]}"
fi

# --- the board: ACPI table (x86) or device tree (arm64, armhf) ----------------------------
board=()
case $arch in
amd64)
	rm -rf "$work/acpi" && mkdir -p "$work/acpi"
	cp "$here/pwm-chips.asl" "$work/acpi/pwm-chips.asl"
	(cd "$work/acpi" && iasl -p pwm-chips pwm-chips.asl) >"$work/iasl.log" 2>&1 ||
		die "iasl failed on pwm-chips.asl (see $work/iasl.log)"
	board=(-acpitable file="$work/acpi/pwm-chips.aml")
	;;
arm64 | armhf)
	# QEMU's own tree for this machine, plus the guest's PWM chips.
	# The 32-bit kernel wants its RAM and devices below 4 GiB (highmem=off).
	vm=(-machine virt -accel tcg -cpu "max,pauth=off" -m 256M -smp 1)
	[ "$arch" = armhf ] && vm=(-machine virt,highmem=off -accel tcg -cpu cortex-a15 -m 256M -smp 1)
	# (-nodefaults as at boot: the default network card wants a ROM file
	# that a machine without QEMU's recommended packages lacks.)
	"$qemu" "${vm[@]}" -display none -nodefaults -machine dumpdtb="$work/virt.dtb" >"$work/dumpdtb.log" 2>&1 ||
		die "dumping QEMU's device tree failed (see $work/dumpdtb.log)"
	{ dtc -q -I dtb -O dts "$work/virt.dtb" && (cd "$here" && cat "${dtsi[@]}") && echo "$dtsi_text"; } >"$work/board.dts" &&
		dtc -q -I dts -O dtb -o "$work/board.dtb" "$work/board.dts" 2>"$work/dtc.log" ||
		die "building the device tree failed (see $work/dtc.log)"
	board=(-dtb "$work/board.dtb")
	;;
esac

# --- initramfs ---------------------------------------------------------------
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,modules,proc,sys,dev,tmp,q/bin,q/lib}
cp "$bbdir/busybox" "$root/bin/busybox"
for m in "${modules[@]}" "${setup_modules[@]}"; do cp "$kdir/$m.ko" "$root/modules/"; done
[ ${#oot_sources[@]} -eq 0 ] || cp "$ootdir"/*.ko "$root/modules/" || die "cannot copy the built modules"
cp "$here/guest-init.sh" "$root/init"
[ -z "$setup" ] || cp "$here/$setup" "$root/q/guest-setup.sh"
cp "$here/guest-lib.sh" "$root/q/guest-lib.sh"
cp "$here/$suite" "$root/q/guest-tests.sh"
cat >"$root/q/guest.env" <<EOF
GUEST_OUT=$guest_out
GUEST_MODULES="${modules[*]} ${oot_modules[*]}"
GUEST_CHIPS=$chips
EOF
[ -z "$guest_env" ] || echo "$guest_env" >>"$root/q/guest.env"
for f in "${payload[@]}"; do cp "$here/$f" "$root/q/" || die "cannot copy $f"; done
chmod 755 "$root/init" "$root/bin/busybox"
[ -z "$udev" ] || udev_install "$root"

# Bring a dynamically linked program and every library it loads. Native
# programs ask ldd; cross-built ones are walked through their DT_NEEDED
# entries in their own folder and the cross runtime.
loader=
cross_libdir=/usr/$triplet/lib
bring_lib() { # NAME [FOLDER OF THE PROGRAM THAT NEEDS IT]
	local lib=$1 d
	[ -e "$root/q/lib/$lib" ] && return 0
	for d in ${2:+"$2"} "$(dirname "$tool")" "$cross_libdir"; do
		if [ -e "$d/$lib" ]; then
			cp -L "$d/$lib" "$root/q/lib/$lib" || die "cannot copy $d/$lib"
			needed "$root/q/lib/$lib" "$d"
			return 0
		fi
	done
	die "library $lib not found"
}
needed() { # FILE FOLDER
	local lib
	for lib in $("$triplet-readelf" -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
		bring_lib "$lib" "$2"
	done
}
bring() {
	local prog=$1 line lib path
	cp "$prog" "$root/q/bin/" || die "cannot copy $prog"
	if [ "$arch" != amd64 ]; then
		needed "$prog" "$(dirname "$prog")"
		loader=$cross_libdir/$("$triplet-readelf" -l "$prog" | sed -n 's/.*interpreter: .*\/\(.*\)\]/\1/p')
		return
	fi
	ldd "$prog" >"$work/ldd.out" 2>&1 || die "ldd $prog failed: $(cat "$work/ldd.out")"
	while read -r line; do
		case $line in
		*'not found'*) die "$prog: library $line" ;;
		*' => '/*)
			lib=${line%% =>*}
			path=${line#*=> }
			path=${path%% (*}
			cp -L "$path" "$root/q/lib/$lib" || die "cannot copy $path"
			;;
		/*ld-linux*) loader=${line%% (*} ;;
		esac
	done <"$work/ldd.out"
}
bring "$tool"
for p in "${progs[@]}"; do bring "$p"; done
[ -n "$loader" ] && cp -L "$loader" "$root/q/ld.so" || die "no dynamic loader found for the programs"
[ -z "$python" ] || python_install "$root"

(cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet | gzip -1) >"$work/initrd" ||
	die "building the initramfs failed"
note "guest prepared ($(du -k "$work/initrd" | cut -f1) KiB initrd)"

# --- boot ----------------------------------------------------------------------
: >"$work/console.log"
: >"$work/out.log"
case $arch in
amd64)
	machine=(-accel tcg -machine pc -m 256M -smp 1)
	console=ttyS0
	out=(-serial file:"$work/console.log" -serial file:"$work/out.log")
	;;
arm64 | armhf)
	# virt has one UART: the suite's own output goes to a virtio-serial port.
	machine=("${vm[@]}")
	console=ttyAMA0
	out=(-serial file:"$work/console.log" -device virtio-serial-pci
		-chardev "file,id=out,path=$work/out.log" -device "virtserialport,chardev=out,name=out")
	;;
esac
t_boot=$(date +%s.%N)
timeout -k 5 "$qemu_timeout" "$qemu" "${machine[@]}" -nodefaults -no-user-config -display none -no-reboot \
	-kernel "$kdir/vmlinuz" -initrd "$work/initrd" "${board[@]}" \
	-append "console=$console quiet loglevel=3 panic=-1" "${out[@]}" "${qemu_extra[@]}" \
	</dev/null >"$work/qemu.log" 2>&1
qrc=$?
boot_s=$(awk -v a="$t_boot" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

# --- results -------------------------------------------------------------------
tr -d '\r' <"$work/out.log" >"$work/out.txt"
cat "$work/out.txt"
echo

status=$(tr -d '\r' <"$work/console.log" | sed -n 's/.*QUORVIN-GUEST-STATUS //p' | tail -n 1)
if [ "$qrc" = 124 ] || [ "$qrc" = 137 ]; then
	echo "--- console (last 20 lines) ---"
	tail -n 20 "$work/console.log"
	die "guest did not finish within ${qemu_timeout} s (boot or a case hung; last case started: $(last_case))"
fi
[ "$qrc" = 0 ] || {
	cat "$work/qemu.log"
	die "qemu exited with status $qrc"
}
if [ -z "$status" ]; then
	echo "--- console (last 20 lines) ---"
	tail -n 20 "$work/console.log"
	die "guest powered off without a status (kernel panic or a crash in /init)"
fi
case $status in setup:*) die "guest $status" ;; esac
grep -qx 'END' "$work/out.txt" || die "guest suite stopped early (status $status, last case started: $(last_case))"

passed=$(grep -c '^PASS ' "$work/out.txt")
failed=$(grep -c '^FAIL ' "$work/out.txt")
planned=$(sed -n 's/^PLAN //p' "$work/out.txt" | head -n 1)
echo "kernel stage $guest: $(elapsed) s (boot and suite ${boot_s} s)"
if [ -n "$planned" ] && [ "$((passed + failed))" != "$planned" ]; then
	die "guest planned $planned cases but reported $((passed + failed))"
fi
if [ "$failed" -gt 0 ]; then
	echo "failed cases:"
	grep '^FAIL ' "$work/out.txt"
fi
echo "$guest: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ] && [ "$status" = 0 ]
