#!/bin/bash
# Runs pwm-sweep and libquorvin against a real kernel PWM chip: Debian's own
# kernel booted under QEMU (TCG) with two LPSS PWM controllers declared in an
# extra ACPI table. Everything is fetched from Debian's package registry and
# cached; one boot runs the whole guest suite.
#
#   run-kernel-tests.sh --tool build/pwm-sweep [--prog FILE]... [--cache DIR]
#                       [--work DIR] [--timeout SECS] [--guest-script FILE]
#
# --prog adds a helper program to the guest (next to the tool, in /q/bin).
# Programs run in the guest as built: their shared libraries (from ldd) are
# copied along and they are started through the copied dynamic loader.
# Exit status: 0 if every case passed, 1 if a case failed, 2 if the harness
# itself could not get a result (download, build of the guest, boot).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tool=
progs=()
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvin-kernel
work=
qemu_timeout=100
guest_script=$here/guest-tests.sh

while [ $# -gt 0 ]; do
	case $1 in
	--tool) tool=$2; shift 2 ;;
	--prog) progs+=("$2"); shift 2 ;;
	--cache) cache=$2; shift 2 ;;
	--work) work=$2; shift 2 ;;
	--timeout) qemu_timeout=$2; shift 2 ;;
	--guest-script) guest_script=$2; shift 2 ;;
	*) echo "usage: $0 --tool FILE [--prog FILE]... [--cache DIR] [--work DIR] [--timeout SECS] [--guest-script FILE]" >&2; exit 2 ;;
	esac
done

t_start=$(date +%s.%N)
elapsed() { awk -v a="$t_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

die() {
	echo "HARNESS ERROR: $*"
	echo "kernel stage: $(elapsed) s (aborted)"
	exit 2
}
note() { echo "[kernel $(elapsed)s] $*"; }
last_case() { sed -n 's/^RUN //p' "$work/out.txt" | tail -n 1 | grep . || echo "none"; }

[ -n "$tool" ] && { [ -x "$tool" ] || die "tool not found or not executable: $tool (build the project first)"; }
for p in "${progs[@]}"; do [ -x "$p" ] || die "helper program not found: $p"; done
[ -f "$guest_script" ] || die "guest script not found: $guest_script"
[ -n "$work" ] || work=$(mktemp -d /tmp/quorvin-kernel.XXXXXX)
mkdir -p "$cache" "$work" || die "cannot create $cache or $work"
cache=$(cd "$cache" && pwd)
work=$(cd "$work" && pwd)
rm -rf "$cache"/.fetch.*  # left by an interrupted download

export DEBIAN_FRONTEND=noninteractive
apt_updated=
apt_update() {
	[ -n "$apt_updated" ] && return 0
	apt_updated=1
	note "apt-get update"
	apt-get update -qq >"$work/apt-update.log" 2>&1 || die "apt-get update failed (see $work/apt-update.log)"
}

# --- host tools ------------------------------------------------------------
missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
command -v iasl >/dev/null || missing+=(acpica-tools)
command -v cpio >/dev/null || missing+=(cpio)
if [ ${#missing[@]} -gt 0 ]; then
	[ "$(id -u)" = 0 ] || die "missing host packages (${missing[*]}); install them as root: apt-get install --no-install-recommends ${missing[*]}"
	note "installing ${missing[*]}"
	if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$work/apt-install.log" 2>&1; then
		apt_update
		apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$work/apt-install.log" 2>&1 ||
			die "apt-get install ${missing[*]} failed (see $work/apt-install.log)"
	fi
fi
for c in qemu-system-x86_64 iasl cpio dpkg-deb ldd timeout gzip; do
	command -v "$c" >/dev/null || die "host command $c not found"
done

# --- packages from the registry, cached by name (and version for busybox) ----
# Debian renames the kernel package whenever its ABI number moves, so the
# name is resolved on every run.
kernel_pkg() {
	apt-cache depends linux-image-amd64 2>/dev/null |
		awk '$1 ~ /Depends:$/ && $2 ~ /^linux-image-/ { print $2; exit }'
}
kpkg=$(kernel_pkg)
[ -n "$kpkg" ] || { apt_update; kpkg=$(kernel_pkg); }
[ -n "$kpkg" ] || die "cannot resolve the kernel package behind linux-image-amd64"

bb_version() { apt-cache policy busybox-static 2>/dev/null | awk '/Candidate:/ { print $2; exit }'; }
bbver=$(bb_version)
case $bbver in '' | '(none)') apt_update; bbver=$(bb_version) ;; esac
case $bbver in '' | '(none)') die "busybox-static has no candidate version" ;; esac

# Download one package into DIR; a stale package list gives a 404, so retry
# once after an update.
download() {
	local pkg=$1 dir=$2
	(cd "$dir" && apt-get download -q -o APT::Sandbox::User=root "$pkg") >"$work/download-$pkg.log" 2>&1 && return 0
	apt_update
	(cd "$dir" && apt-get download -q -o APT::Sandbox::User=root "$pkg") >"$work/download-$pkg.log" 2>&1 ||
		die "apt-get download $pkg failed (see $work/download-$pkg.log)"
}

kdir=$cache/$kpkg
if [ ! -f "$kdir/complete" ]; then
	note "fetching $kpkg"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	download "$kpkg" "$tmp"
	mkdir -p "$tmp/x"
	dpkg-deb --fsys-tarfile "$tmp"/*.deb | tar -x -C "$tmp/x" --wildcards \
		'./boot/vmlinuz-*' './boot/config-*' './lib/modules/*/kernel/drivers/pwm/pwm-lpss*' ||
		die "unpacking $kpkg failed"
	mkdir -p "$tmp/out"
	cp "$tmp"/x/boot/vmlinuz-* "$tmp/out/vmlinuz" || die "$kpkg has no vmlinuz"
	cp "$tmp"/x/boot/config-* "$tmp/out/config" || die "$kpkg has no config"
	for m in pwm-lpss pwm-lpss-platform; do
		f=$(find "$tmp/x/lib/modules" -name "$m.ko*" | head -n 1)
		[ -n "$f" ] || die "$kpkg has no $m module"
		case $f in
		*.ko) cp "$f" "$tmp/out/$m.ko" ;;
		*.ko.xz) xz -dc "$f" >"$tmp/out/$m.ko" ;;
		*.ko.zst) zstd -qdc "$f" >"$tmp/out/$m.ko" ;;
		*) die "unknown module format: $f" ;;
		esac || die "cannot unpack $f"
	done
	grep -qx 'CONFIG_PWM_SYSFS=y' "$tmp/out/config" || die "$kpkg: kernel lacks CONFIG_PWM_SYSFS=y"
	grep -qx 'CONFIG_PWM_LPSS_PLATFORM=m' "$tmp/out/config" || die "$kpkg: kernel lacks CONFIG_PWM_LPSS_PLATFORM=m"
	touch "$tmp/out/complete"
	rm -rf "$kdir"
	mv "$tmp/out" "$kdir" || die "cannot fill cache $kdir"
	rm -rf "$tmp"
	# Older kernels are never used again once the name moved on.
	for old in "$cache"/linux-image-*; do
		[ "$old" = "$kdir" ] || rm -rf "$old"
	done
fi

bbdir=$cache/busybox-static_${bbver//:/_}
if [ ! -f "$bbdir/complete" ]; then
	note "fetching busybox-static $bbver"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	download busybox-static "$tmp"
	mkdir -p "$tmp/x" "$tmp/out"
	dpkg-deb --fsys-tarfile "$tmp"/*.deb | tar -x -C "$tmp/x" ./bin/busybox || die "unpacking busybox-static failed"
	cp "$tmp/x/bin/busybox" "$tmp/out/busybox" && touch "$tmp/out/complete" || die "cannot copy busybox"
	rm -rf "$bbdir"
	mv "$tmp/out" "$bbdir" || die "cannot fill cache $bbdir"
	rm -rf "$tmp"
	for old in "$cache"/busybox-static_*; do
		[ "$old" = "$bbdir" ] || rm -rf "$old"
	done
fi
note "kernel $kpkg, busybox-static $bbver (cache $cache)"

# --- ACPI table --------------------------------------------------------------
rm -rf "$work/acpi" && mkdir -p "$work/acpi"
cp "$here/pwm-chips.asl" "$work/acpi/pwm-chips.asl"
(cd "$work/acpi" && iasl -p pwm-chips pwm-chips.asl) >"$work/iasl.log" 2>&1 ||
	die "iasl failed on pwm-chips.asl (see $work/iasl.log)"

# --- initramfs ---------------------------------------------------------------
root=$work/root
rm -rf "$root"
mkdir -p "$root"/{bin,modules,proc,sys,dev,tmp,q/bin,q/lib}
cp "$bbdir/busybox" "$root/bin/busybox"
cp "$kdir/pwm-lpss.ko" "$kdir/pwm-lpss-platform.ko" "$root/modules/"
cp "$here/guest-init.sh" "$root/init"
cp "$guest_script" "$root/q/guest-tests.sh"
chmod 755 "$root/init" "$root/bin/busybox"

# Bring a dynamically linked program and everything ldd says it loads.
loader=
bring() {
	local prog=$1 line lib path
	cp "$prog" "$root/q/bin/" || die "cannot copy $prog"
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
		/*ld-linux*)
			path=${line%% (*}
			loader=$path
			;;
		esac
	done <"$work/ldd.out"
}
[ -n "$tool" ] && bring "$tool"
for p in "${progs[@]}"; do bring "$p"; done
if [ -n "$loader" ]; then
	cp -L "$loader" "$root/q/ld-linux-x86-64.so.2" || die "cannot copy $loader"
fi

(cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet | gzip -1) >"$work/initrd" ||
	die "building the initramfs failed"
note "guest prepared ($(du -k "$work/initrd" | cut -f1) KiB initrd)"

# --- boot ----------------------------------------------------------------------
: >"$work/console.log"
: >"$work/out.log"
t_boot=$(date +%s.%N)
timeout -k 5 "$qemu_timeout" qemu-system-x86_64 -accel tcg -nodefaults -no-user-config \
	-machine pc -m 256M -smp 1 -display none -no-reboot \
	-kernel "$kdir/vmlinuz" -initrd "$work/initrd" \
	-append "console=ttyS0 quiet loglevel=3 panic=-1" \
	-acpitable file="$work/acpi/pwm-chips.aml" \
	-serial file:"$work/console.log" -serial file:"$work/out.log" \
	</dev/null >"$work/qemu.log" 2>&1
qrc=$?
boot_s=$(awk -v a="$t_boot" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

# --- results -------------------------------------------------------------------
tr -d '\r' <"$work/out.log" >"$work/out.txt"
cat "$work/out.txt"
echo

status=$(tr -d '\r' <"$work/console.log" | sed -n 's/.*QUORVIN-GUEST-STATUS //p' | tail -n 1)
if [ "$qrc" = 124 ] || [ "$qrc" = 137 ]; then
	echo "--- console (last 20 lines) ---"; tail -n 20 "$work/console.log"
	die "guest did not finish within ${qemu_timeout} s (boot or a case hung; last case started: $(last_case))"
fi
[ "$qrc" = 0 ] || { cat "$work/qemu.log"; die "qemu exited with status $qrc"; }
if [ -z "$status" ]; then
	echo "--- console (last 20 lines) ---"; tail -n 20 "$work/console.log"
	die "guest powered off without a status (kernel panic or a crash in /init)"
fi
case $status in setup:*) die "guest $status" ;; esac
grep -qx 'END' "$work/out.txt" || die "guest suite stopped early (status $status, last case started: $(last_case))"

passed=$(grep -c '^PASS ' "$work/out.txt")
failed=$(grep -c '^FAIL ' "$work/out.txt")
planned=$(sed -n 's/^PLAN //p' "$work/out.txt" | head -n 1)
echo "kernel stage: $(elapsed) s (boot and suite ${boot_s} s)"
if [ -n "$planned" ] && [ "$((passed + failed))" != "$planned" ]; then
	die "guest planned $planned cases but reported $((passed + failed))"
fi
if [ "$failed" -gt 0 ]; then
	echo "failed cases:"
	grep '^FAIL ' "$work/out.txt"
fi
echo "kernel: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ] && [ "$status" = 0 ]
