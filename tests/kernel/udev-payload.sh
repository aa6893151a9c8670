# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Sourced by run-kernel-tests.sh for guests that run Debian's own
# systemd-udevd: the udev package and the libraries its binary loads, the
# project's rule, and users in and outside the group the rule names.
# Uses the harness's die, note, apt_cmd, download, cache_fill, arch, triplet.

case $arch in
amd64)
	# Debian 12 (252): udevadm carries systemd's shared code itself, so
	# neither libsystemd-shared nor libudev1 is needed; libssl3 is for
	# libkmod's signature support.
	udev_apt=host
	udev_pkgs=(udev libkmod2 libacl1 libblkid1 libcap2 libselinux1 libpcre2-8-0 liblzma5 libzstd1 libssl3 libc6)
	;;
arm64)
	# Debian 13 (257), as the kernel: udevadm loads libsystemd-shared,
	# and loads libkmod only when asked to load a module.
	udev_apt=private
	udev_pkgs=()
	for p in udev libsystemd-shared libblkid1 libc6 libacl1 libcap2 libcrypt1 libmount1 libssl3t64 libpam0g \
		libseccomp2 libselinux1 libpcre2-8-0 libaudit1 libcap-ng0 libzstd1 zlib1g; do
		udev_pkgs+=("$p:arm64")
	done
	;;
esac

# udev_fetch: fills the cache folder udevdir with the guest's part of the
# packages. The folder is named by udev's version and a checksum of all
# versions, so that a library's update also fetches anew.
udev_fetch() {
	local versions ver sum
	candidates "$udev_apt" "${udev_pkgs[@]}" ||
		die "not every one of ${udev_pkgs[*]} has a candidate: $(tr '\n' ' ' <<<"$versions")"
	ver=$(awk 'NR == 1 { print $2 }' <<<"$versions")
	# (The layout number changes when this script lays the folder out anew.)
	sum=$(printf 'layout 2\n%s\n' "$versions" | cksum | cut -d' ' -f1)
	udevdir=$cache/udev-$arch--${ver//:/_}-$sum
	[ -f "$udevdir/complete" ] && return 0

	note "fetching udev $ver and the libraries it loads"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	download "$udev_apt" "$tmp" "${udev_pkgs[@]}"
	mkdir -p "$tmp/x" "$tmp/out"
	for deb in "$tmp"/*.deb; do
		dpkg-deb -x "$deb" "$tmp/x" || die "unpacking $deb failed"
	done
	# The daemon (a link to udevadm), Debian's own rules, the loader and the
	# shared libraries; not the rest of libc6 (locales, gconv, helpers).
	# Debian 12 keeps them in /bin and /lib, Debian 13 in /usr only.
	# shellcheck disable=SC2046 # file names here have no blanks
	(cd "$tmp/x" && tar -c $(ls -d bin/udevadm usr/bin/udevadm lib/systemd/systemd-udevd \
		usr/lib/systemd/systemd-udevd lib/udev/rules.d usr/lib/udev/rules.d lib64 usr/lib/ld-linux-* 2>/dev/null) \
		$(find "lib/$triplet" "usr/lib/$triplet" "usr/lib/$triplet/systemd" -maxdepth 1 -name '*.so*' 2>/dev/null)) |
		tar -x -C "$tmp/out" || die "copying udev's files failed"
	# A /usr-only layout needs /lib (the loader's path) and udevadm on the guest's PATH.
	[ -e "$tmp/out/lib" ] || ln -s usr/lib "$tmp/out/lib"
	[ -e "$tmp/out/bin/udevadm" ] || { mkdir -p "$tmp/out/bin" && ln -s ../usr/bin/udevadm "$tmp/out/bin/udevadm"; }
	# Its loader, and every library udevadm loads and theirs, must come
	# from the packages.
	local interp
	interp=$(readelf -l "$tmp/out/bin/udevadm" | sed -n 's/.*interpreter: \(.*\)\]/\1/p')
	[ -e "$tmp/out$interp" ] || die "udevadm's loader $interp is not in ${udev_pkgs[*]}"
	udev_closure "$tmp/out" "$tmp/out/bin/udevadm"
	cache_fill "$udevdir"
}

# udev_closure ROOT FILE: dies unless each library FILE needs, and each that
# those need, is in ROOT's library folders.
udev_closure() {
	local r=$1 lib d found
	for lib in $(readelf -d "$2" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
		[[ " ${udev_seen:-} " == *" $lib "* ]] && continue
		udev_seen="${udev_seen:-} $lib"
		found=
		for d in "lib/$triplet" "usr/lib/$triplet" "usr/lib/$triplet/systemd"; do
			[ -e "$r/$d/$lib" ] && { found=$r/$d/$lib; break; }
		done
		[ -n "$found" ] || die "udevadm needs $lib, which none of ${udev_pkgs[*]} has"
		udev_closure "$r" "$found"
	done
}

# udev_install ROOT: udev, the project's rule and the users into the guest.
udev_install() {
	local r=$1
	cp -a "$udevdir"/. "$r/" && rm -f "$r/complete" || die "cannot copy udev into the guest"
	mkdir -p "$r/etc/udev/rules.d" "$r/run"
	cp "$here/../../udev/60-quorvin-pwm.rules" "$r/etc/udev/rules.d/" || die "the project's udev rule is missing"
	# insider is in the group pwm, outsider is not.
	cat >"$r/etc/passwd" <<-EOF
		root:x:0:0:root:/root:/bin/sh
		insider:x:1000:1000::/tmp:/bin/sh
		outsider:x:1001:1001::/tmp:/bin/sh
	EOF
	cat >"$r/etc/group" <<-EOF
		root:x:0:
		pwm:x:998:insider
		insider:x:1000:
		outsider:x:1001:
	EOF
}
