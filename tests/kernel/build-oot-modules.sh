# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Sourced by run-kernel-tests.sh for guests that run drivers Debian does not
# build for their kernel: builds them from Debian's own source of that very
# kernel as out-of-tree modules, the way DKMS builds modules, with nothing
# installed on the machine:
# - linux-headers-RELEASE (the prepared tree of that build: .config,
#   autoconf.h, asm-offsets.h, Module.symvers), its -common part,
#   linux-kbuild-VERSION (Kbuild's host programs, amd64) and
#   linux-source-X.Y (the drivers' .c files), all at the version of the
#   kernel package the guest boots, each unpacked with dpkg-deb;
# - the headers' Makefile points at /usr/src: pointed at the unpacked copy;
# - Kbuild's fixdep and modpost are rebuilt from the same source with the
#   host's gcc (Debian 13's binaries want a newer glibc than Debian 12 has),
#   with modpost's generated headers made as Kbuild makes them;
# - make M=... modules with the cross compiler (arm64) or the host's own
#   (amd64). Debian 12's gcc (12) is older than the kernel's (14): it lacks
#   -fmin-function-alignment, so Kbuild is told the compiler has none (it
#   falls back to -falign-functions); without the kernel's pahole the
#   modules carry no BTF, and on amd64 without a runnable objtool none of
#   its tables (they load without either). Nothing else of Debian's
#   configuration changes, and every module's vermagic is checked against
#   the release.
# The modules are unsigned: loading them taints the kernel, which Debian's
# kernel allows.
# The built modules are cached by guest, release, package version and the
# list of sources (oot-GUEST--RELEASE-VERSION-SUM), so a new Debian kernel, or
# a new source in the list, builds anew; the prepared tree is not kept.
# Uses the harness's die, note, apt_cmd, candidate, depends, download,
# cache_fill, cache, work, kpkg, akpkg, kernel_apt, arch, guest; oot_sources is the
# list of source paths (drivers/pwm/pwm-gpio.c, ...: Debian's source; a path
# that names a file of this repository, from its top folder, is that file);
# oot_ccflags, where set,
# compiler flags of the whole list (Kbuild's ccflags-y): a header whose
# declarations hang on an MFD that Debian does not build declares the real
# functions once that MFD is built beside its PWM driver.

# oot_fetch: sets ootdir to the cache folder holding NAME.ko for each of
# oot_sources, building them first where it is not complete.
oot_fetch() {
	local krel kver srcver sum oot_cross karch
	case $arch in
	arm64) oot_cross=aarch64-linux-gnu- karch=arm64 ;;
	amd64) oot_cross= karch=x86 ;;
	*) die "out-of-tree modules are built for arm64 and amd64 guests only" ;;
	esac
	krel=${kpkg#linux-image-}
	[[ $krel =~ ^([0-9]+)\.([0-9]+)\.[0-9]+.*-$arch$ ]] || die "cannot tell the source series of $kpkg"
	srcver=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}
	kver=$(candidate "$kernel_apt" "$akpkg")
	[ -n "$kver" ] || die "$akpkg has no candidate version"
	# (The layout number changes when this script builds differently; the
	# repository's own sources count by their contents.)
	local top p
	top=$(cd "$here/../.." && pwd)
	sum=$({
		printf 'layout 2\n%s\n' "${oot_sources[@]}" ${oot_ccflags:+"ccflags $oot_ccflags"}
		for p in "${oot_sources[@]}"; do [ ! -f "$top/$p" ] || cat "$top/$p"; done
	} | cksum | cut -d' ' -f1)
	# One folder a guest: guests with other lists keep theirs (a new list
	# of the same guest replaces its older folder). Folders of the layout
	# shared by all the guests of an architecture are dropped.
	rm -rf "$cache/oot-$arch--"*
	ootdir=$cache/oot-$guest--$krel-${kver//[:~]/_}-$sum
	[ -f "$ootdir/complete" ] && return 0

	local t0=$SECONDS hdeps common kbuild
	# (An arch-all dependency is named as a virtual package of the arch: <...>.)
	hdeps=$(depends "$kernel_apt" "linux-headers-$krel:$arch" | tr -d '<>')
	common=$(pick '^linux-headers-.*-common' <<<"$hdeps")
	kbuild=$(pick '^linux-kbuild-' <<<"$hdeps")
	[ -n "$common" ] && [ -n "$kbuild" ] || die "cannot resolve what linux-headers-$krel depends on"
	# Every part at the very version of the kernel that boots; Kbuild's
	# programs run here.
	local pkgs=("linux-headers-$krel:$arch=$kver" "${common%:*}=$kver" "${kbuild%:*}:amd64=$kver"
		"linux-source-$srcver=$kver")
	note "building ${oot_sources[*]##*/} for $krel from ${pkgs[*]}"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	mkdir -p "$tmp/deb" "$tmp/x" "$tmp/out" "$tmp/dto" "$tmp/m"
	download "$kernel_apt" "$tmp/deb" "${pkgs[@]}"
	local d
	for d in "$tmp/deb"/*.deb; do dpkg-deb -x "$d" "$tmp/x" || die "unpacking $d failed"; done
	rm -rf "$tmp/deb"
	local H=$tmp/x/usr/src/linux-headers-$krel S=linux-source-$srcver tarball
	[ -f "$H/.config" ] && [ -f "$H/Makefile" ] && [ -f "$H/Module.symvers" ] ||
		die "linux-headers-$krel has no prepared tree"
	tarball=$(find "$tmp/x/usr/src" -maxdepth 1 -name "$S.tar.*" | head -n 1)
	[ -n "$tarball" ] || die "linux-source-$srcver has no source tarball"
	local dirs=()
	for p in "${oot_sources[@]}"; do [ -f "$top/$p" ] || dirs+=("$S/$(dirname "$p")"); done
	# shellcheck disable=SC2046 # one folder a line
	tar -xf "$tarball" -C "$tmp" "$S/scripts/mod" "$S/scripts/include" "$S/scripts/basic/fixdep.c" \
		"$S/include/linux/mod_devicetable.h" "$S/include/linux/license.h" "$S/include/linux/module_symbol.h" \
		"$S/include/linux/device-id" $(printf '%s\n' "${dirs[@]}" | sort -u) ||
		die "$S's tarball lacks a needed file"
	rm -f "$tarball"
	sed -i "s|/usr/src/|$tmp/x/usr/src/|g" "$H/Makefile"

	# The compiler and the make-line overrides.
	local ccmajor CC ovr=() want_pahole have_pahole
	ccmajor=$(($(sed -n 's/^CONFIG_GCC_VERSION=\([0-9]*\)$/\1/p' "$H/.config") / 10000))
	if command -v "${oot_cross}gcc-$ccmajor" >/dev/null; then
		CC=${oot_cross}gcc-$ccmajor
	else
		CC=${oot_cross}gcc
		[ "$($CC -dumpversion | cut -d. -f1)" -lt 14 ] &&
			grep -q '^CONFIG_CC_HAS_MIN_FUNCTION_ALIGNMENT=y' "$H/.config" &&
			ovr+=(CONFIG_CC_HAS_MIN_FUNCTION_ALIGNMENT=)
	fi
	# Without -fmin-function-alignment cold functions (__init ones, such as
	# a probe of platform_driver_probe) are not aligned, and where ftrace
	# keeps a pointer before each function their patch site is misaligned:
	# the kernel BUGs loading the module. Such modules get no ftrace sites.
	local noftrace=
	[[ " ${ovr[*]} " == *" CONFIG_CC_HAS_MIN_FUNCTION_ALIGNMENT= "* ]] &&
		grep -q '^CONFIG_DYNAMIC_FTRACE_WITH_CALL_OPS=y' "$H/.config" && noftrace=1
	want_pahole=$(sed -n 's/^CONFIG_PAHOLE_VERSION=\([0-9]*\)$/\1/p' "$H/.config")
	have_pahole=$(pahole --version 2>/dev/null | tr -dc 0-9)
	grep -q '^CONFIG_DEBUG_INFO_BTF_MODULES=y' "$H/.config" && [ "${have_pahole:-0}" != "${want_pahole:-x}" ] &&
		ovr+=(CONFIG_DEBUG_INFO_BTF_MODULES=)
	# x86 runs objtool on every module (ORC unwind tables, the return and
	# call sites the kernel patches, IBT sealing). Debian 13's objtool
	# wants glibc 2.38 too: without it the module carries none of those
	# tables and still loads (returns go through the thunk, unpatched; no
	# unwinding through its code).
	if grep -q '^CONFIG_OBJTOOL=y' "$H/.config" &&
		ldd "$H/tools/objtool/objtool" "$H/tools/objtool/objtool.real-$karch" 2>&1 | grep -q 'not found'; then
		ovr+=(CONFIG_OBJTOOL=)
	fi
	local kmake=(nice -n 10 make -C "$H" ARCH=$karch CROSS_COMPILE=$oot_cross CC="$CC" "${ovr[@]}")

	# Kbuild's host programs, for this host's libc.
	local kb SM=$tmp/$S/scripts/mod log=$work/oot-build.log
	kb=$(cd "$H/scripts" && pwd -P)
	: >"$log"
	gcc -O2 -I"$tmp/$S/scripts/include" -o "$kb/basic/fixdep" "$tmp/$S/scripts/basic/fixdep.c" >>"$log" 2>&1 ||
		die "fixdep does not build (see $log)"
	cp "$SM/devicetable-offsets.c" "$tmp/dto/" && echo 'obj-m :=' >"$tmp/dto/Kbuild"
	"${kmake[@]}" M="$tmp/dto" devicetable-offsets.s >>"$log" 2>&1 ||
		die "devicetable-offsets.s does not build (see $log)"
	{
		echo "#ifndef __DEVICETABLE_OFFSETS_H__"
		echo "#define __DEVICETABLE_OFFSETS_H__"
		sed -ne 's:^[[:space:]]*\.ascii[[:space:]]*"\(.*\)".*:\1:; /^->/{s:->#\(.*\):/* \1 */:; s:^->\([^ ]*\) [\$#]*\([^ ]*\) \(.*\):#define \1 \2 /* \3 */:; s:->::; p;}' \
			<"$tmp/dto/devicetable-offsets.s"
		echo "#endif"
	} >"$SM/devicetable-offsets.h"
	{ gcc -O2 -o "$SM/mk_elfconfig" "$SM/mk_elfconfig.c" && $CC -c -o "$SM/empty.o" "$SM/empty.c" &&
		"$SM/mk_elfconfig" <"$SM/empty.o" >"$SM/elfconfig.h"; } >>"$log" 2>&1 || die "elfconfig.h not made (see $log)"
	(cd "$SM" && gcc -O2 -I../include -o modpost modpost.c file2alias.c sumversion.c symsearch.c) >>"$log" 2>&1 ||
		die "modpost does not build (see $log)"
	if [ -f "$kb/mod/modpost.real-lsb-64" ]; then cp "$SM/modpost" "$kb/mod/modpost.real-lsb-64"
	else cp "$SM/modpost" "$kb/mod/modpost"; fi

	# The modules, in one folder: one may use another's symbols. Undefined
	# symbols stop modpost: every module must load as it is.
	local names=() n vm
	for p in "${oot_sources[@]}"; do
		if [ -f "$top/$p" ]; then
			cp "$top/$p" "$tmp/m/" || die "cannot copy $p"
			names+=("$(basename "$p" .c)")
			continue
		fi
		cp "$tmp/$S/$p" "$tmp/m/" || die "$S has no $p"
		# Its folder's own headers (drivers/mfd/rz-mtu3.h, ...).
		for h in "$tmp/$S/$(dirname "$p")"/*.h; do
			[ ! -f "$h" ] || [ -e "$tmp/m/${h##*/}" ] || cp "$h" "$tmp/m/" || die "cannot copy $h"
		done
		names+=("$(basename "$p" .c)")
	done
	echo "obj-m += $(printf '%s.o ' "${names[@]}")" >"$tmp/m/Kbuild"
	[ -z "${oot_ccflags:-}" ] || echo "ccflags-y += $oot_ccflags" >>"$tmp/m/Kbuild"
	# shellcheck disable=SC2016 # Kbuild's variable
	[ -z "$noftrace" ] || echo 'ccflags-remove-y += $(CC_FLAGS_FTRACE)' >>"$tmp/m/Kbuild"
	"${kmake[@]}" M="$tmp/m" -j2 modules >>"$log" 2>&1 || die "building ${names[*]} failed (see $log)"
	for n in "${names[@]}"; do
		vm=$("${oot_cross}objcopy" -O binary -j .modinfo "$tmp/m/$n.ko" /dev/stdout | tr '\0' '\n' | sed -n 's/^vermagic=//p')
		[[ $vm == "$krel "* ]] || die "$n.ko has vermagic '$vm', not $krel's"
		cp "$tmp/m/$n.ko" "$tmp/out/" || die "cannot keep $n.ko"
	done
	{
		echo "release $krel $kver"
		echo "packages ${pkgs[*]}"
		echo "compiler $($CC --version | head -n 1)"
		echo "overrides ${ovr[*]:-none}"
		echo "ccflags ${oot_ccflags:-none}"
		echo "ftrace sites $([ -n "$noftrace" ] && echo none || echo kept)"
		echo "seconds $((SECONDS - t0))"
	} >"$tmp/out/BUILDINFO"
	cache_fill "$ootdir"
	note "built ${names[*]} in $((SECONDS - t0)) s"
}
