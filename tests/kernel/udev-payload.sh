# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Sourced by run-kernel-tests.sh for guests that run Debian 12's own
# systemd-udevd: the udev package and the libraries its binary loads, the
# project's rule, and users in and outside the group the rule names.
# Uses the harness's die, note, apt_cmd, download and cache_fill.

# udevadm carries systemd's shared code itself, so neither libsystemd-shared
# nor libudev1 is needed; libssl3 is for libkmod's signature support.
udev_pkgs=(udev libkmod2 libacl1 libblkid1 libcap2 libselinux1 libpcre2-8-0 liblzma5 libzstd1 libssl3 libc6)

# udev_fetch: fills the cache folder udevdir with the guest's part of the
# packages. The folder is named by udev's version and a checksum of all
# versions, so that a library's update also fetches anew.
udev_fetch() {
	local versions ver sum loader
	# One apt-cache call for all of them: each call reads the lists anew.
	versions=$(apt_cmd host apt-cache policy "${udev_pkgs[@]}" 2>/dev/null |
		awk '/^[^ ]/ { p = $1 } /Candidate:/ && $2 != "(none)" { print p, $2 }')
	if [ "$(wc -l <<<"$versions")" != "${#udev_pkgs[@]}" ]; then
		host_update
		versions=$(apt_cmd host apt-cache policy "${udev_pkgs[@]}" 2>/dev/null |
			awk '/^[^ ]/ { p = $1 } /Candidate:/ && $2 != "(none)" { print p, $2 }')
	fi
	[ "$(wc -l <<<"$versions")" = "${#udev_pkgs[@]}" ] ||
		die "not every one of ${udev_pkgs[*]} has a candidate: $(tr '\n' ' ' <<<"$versions")"
	ver=$(awk '$1 == "udev:" { print $2 }' <<<"$versions")
	sum=$(cksum <<<"$versions" | cut -d' ' -f1)
	udevdir=$cache/udev-$arch--${ver//:/_}-$sum
	[ -f "$udevdir/complete" ] && return 0

	note "fetching udev $ver and the libraries it loads"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	download host "$tmp" "${udev_pkgs[@]}"
	mkdir -p "$tmp/x" "$tmp/out"
	for deb in "$tmp"/*.deb; do
		dpkg-deb -x "$deb" "$tmp/x" || die "unpacking $deb failed"
	done
	# The daemon (a link to udevadm), Debian's own rules, the loader and the
	# shared libraries; not the rest of libc6 (locales, gconv, helpers).
	# shellcheck disable=SC2046 # library file names have no blanks
	(cd "$tmp/x" && tar -c bin/udevadm lib/systemd/systemd-udevd lib/udev/rules.d lib64 \
		$(find "lib/$triplet" "usr/lib/$triplet" -maxdepth 1 -name '*.so*')) |
		tar -x -C "$tmp/out" || die "copying udev's files failed"
	# Every library udevadm loads must come from the packages, not the host.
	loader=$tmp/out/lib/$triplet/ld-linux-x86-64.so.2
	"$loader" --library-path "$tmp/out/lib/$triplet:$tmp/out/usr/lib/$triplet" --list "$tmp/out/bin/udevadm" \
		>"$work/udev-ldd.out" 2>&1 || die "udevadm does not load: $(cat "$work/udev-ldd.out")"
	if awk -v d="$tmp/out/" '/=>/ && index($3, d) != 1 { bad = 1 } END { exit !bad }' "$work/udev-ldd.out"; then
		die "udevadm needs a library outside ${udev_pkgs[*]}: $(cat "$work/udev-ldd.out")"
	fi
	cache_fill "$udevdir"
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
