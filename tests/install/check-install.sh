#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Installs a build into a staging folder (through DESTDIR, at a prefix of its
# own) and uses the staged files as a user would: the tool with no
# environment but the made-up tree's, and a small C program built once
# through pkg-config and once through find_package(quorvin); with PYTHON, the
# staged Python package imported by that interpreter.
#   check-install.sh BUILD_DIR SOURCE_DIR [PYTHON]
set -euo pipefail
build=$1
src=$2
python=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/dest" cmake --install "$build" --prefix /opt/quorvin >/dev/null
stage="$work/dest/opt/quorvin"
libdir=$(dirname "$(find "$stage" -name libquorvin.so.0 | head -n1)")
[ -n "$libdir" ] || fail "libquorvin.so.0 not installed"
tools="pwm-sweep pwm-detect pwm-info pwm-set"
for f in include/quorvin.h $(for t in $tools; do echo "bin/$t share/man/man1/$t.1"; done); do
	[ -e "$stage/$f" ] || fail "$f not installed"
done
[ -L "$libdir/libquorvin.so" ] || fail "libquorvin.so link not installed"

# An empty RUNPATH entry makes the loader search the current folder.
for exe in $(for t in $tools; do echo "$build/$t $stage/bin/$t"; done); do
	rp=$(objdump -p "$exe" | awk '$1 == "RUNPATH" { print $2 }')
	case ":$rp:" in
	*::*) fail "$exe: RUNPATH '$rp' has an empty entry" ;;
	esac
done

# Each check gets a fresh tree; the value of an attribute is its first line.
duty_after() {
	rm -rf "$work/tree"
	"$src/scripts/make-pwm-tree" "$work/tree" 1
	"$@"
	head -n1 "$work/tree/pwmchip0/pwm0/duty_cycle"
}

# The staged tool must load the staged library: where the build's library
# folder is also one the loader searches (a build for /usr), a copy already
# installed on the system would otherwise stand in for it unnoticed.
for t in $tools; do
	loaded=$(env -i LD_TRACE_LOADED_OBJECTS=1 "$stage/bin/$t" | awk '$1 == "libquorvin.so.0" && $3 != "not" { print $3 }')
	[ -n "$loaded" ] || fail "staged $t finds no libquorvin.so.0"
	[ "$(realpath "$loaded")" = "$(realpath "$libdir/libquorvin.so.0")" ] ||
		fail "staged $t loads $loaded, not the staged $libdir/libquorvin.so.0"
done

got=$(duty_after env -i QUORVIN_SYSFS_DIR="$work/tree" "$stage/bin/pwm-sweep" -P 20 -S 7)
[ "$got" = 14 ] || fail "staged pwm-sweep left duty '$got', not 14"
echo "staged pwm-sweep: ok"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror -o "$work/consumer-pc" "$src/tests/install/consumer/consumer.c" \
	$(pkg-config --cflags --libs libquorvin)
got=$(duty_after env LD_LIBRARY_PATH="$libdir" QUORVIN_SYSFS_DIR="$work/tree" "$work/consumer-pc")
[ "$got" = 250 ] || fail "pkg-config consumer left duty '$got', not 250"
echo "pkg-config consumer: ok"

cmake -S "$src/tests/install/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$stage" \
	-DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
# A build of its own: not a part of the make that may be running ctest (as in
# a Debian package build), whose jobserver it cannot reach.
env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL cmake --build "$work/consumer-build" >/dev/null
got=$(duty_after env QUORVIN_SYSFS_DIR="$work/tree" "$work/consumer-build/consumer")
[ "$got" = 250 ] || fail "find_package consumer left duty '$got', not 250"
echo "find_package consumer: ok"

[ -n "$python" ] || exit 0
# The staged Python package, imported from its folder alone: it must load the
# staged library, found from its own place as the tools find theirs.
pkg=$(dirname "$(find "$stage" -path '*/quorvin/__init__.py' | head -n1)")
[ "$pkg" != . ] || fail "the Python package is not installed"
rp=$(objdump -p "$(echo "$pkg"/_quorvin.*.so)" | awk '$1 == "RUNPATH" { print $2 }')
case ":$rp:" in
*::*) fail "the Python module's RUNPATH '$rp' has an empty entry" ;;
esac
loaded=$(env -i PYTHONPATH="$(dirname "$pkg")" "$python" -c \
	'import quorvin; print(next(l.split()[-1] for l in open("/proc/self/maps") if "libquorvin.so" in l))')
[ "$(realpath "$loaded")" = "$(realpath "$libdir/libquorvin.so.0")" ] ||
	fail "the staged Python package loads $loaded, not the staged $libdir/libquorvin.so.0"
got=$(duty_after env -i PYTHONPATH="$(dirname "$pkg")" QUORVIN_SYSFS_DIR="$work/tree" "$python" -c \
	"import quorvin; quorvin.Chip(0).channel(0).set_waveform(20, 14)")
[ "$got" = 14 ] || fail "the staged Python package left duty '$got', not 14"
echo "staged Python package: ok"
