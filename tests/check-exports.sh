#!/bin/sh
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# The library's ABI: exactly four functions, all at version node LIBQUORVIN_0,
# behind the soname libquorvin.so.0.
#   check-exports.sh LIBRARY
set -eu
lib=$1
want='pwm_chip_close@@LIBQUORVIN_0
pwm_chip_get_pwm@@LIBQUORVIN_0
pwm_chip_open_by_number@@LIBQUORVIN_0
pwm_set_waveform@@LIBQUORVIN_0'
got=$(nm -D --defined-only --with-symbol-versions "$lib" | awk '$2 == "T" { print $3 }' | sort)
if [ "$got" != "$want" ]; then
	printf 'exported functions:\n%s\nwant:\n%s\n' "$got" "$want" >&2
	exit 1
fi
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libquorvin.so.0 ] || { echo "soname '$soname', want libquorvin.so.0" >&2; exit 1; }
echo "exports and soname: ok"
