#!/bin/sh
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# The library's ABI: the first four functions at version node LIBQUORVIN_0,
# the later ones at LIBQUORVIN_0.2 and LIBQUORVIN_0.3, behind the soname libquorvin.so.0; and a
# program that uses only the first four (pwm-sweep) needs only LIBQUORVIN_0.
#   check-exports.sh LIBRARY [PROGRAM]
set -eu
lib=$1
want='pwm_chip_close@@LIBQUORVIN_0
pwm_chip_export_pwm@@LIBQUORVIN_0.3
pwm_chip_get_device_name@@LIBQUORVIN_0.2
pwm_chip_get_driver_name@@LIBQUORVIN_0.2
pwm_chip_get_npwm@@LIBQUORVIN_0.2
pwm_chip_get_number@@LIBQUORVIN_0.2
pwm_chip_get_pwm@@LIBQUORVIN_0
pwm_chip_get_pwm_info@@LIBQUORVIN_0.2
pwm_chip_has_device_node@@LIBQUORVIN_0.2
pwm_chip_next_number@@LIBQUORVIN_0.2
pwm_chip_open_by_name@@LIBQUORVIN_0.2
pwm_chip_open_by_number@@LIBQUORVIN_0
pwm_get_hardware_waveform@@LIBQUORVIN_0.3
pwm_get_waveform@@LIBQUORVIN_0.2
pwm_info_free@@LIBQUORVIN_0.2
pwm_info_get_channel@@LIBQUORVIN_0.2
pwm_info_get_holder@@LIBQUORVIN_0.2
pwm_info_get_label@@LIBQUORVIN_0.2
pwm_info_get_waveform@@LIBQUORVIN_0.2
pwm_release@@LIBQUORVIN_0.3
pwm_round_waveform@@LIBQUORVIN_0.2
pwm_set_waveform@@LIBQUORVIN_0'
got=$(nm -D --defined-only --with-symbol-versions "$lib" | awk '$2 == "T" { print $3 }' | sort)
if [ "$got" != "$want" ]; then
	printf 'exported functions:\n%s\nwant:\n%s\n' "$got" "$want" >&2
	exit 1
fi
if [ $# -ge 2 ]; then
	needs=$(objdump -T "$2" | awk '/pwm_/ { print $(NF - 1) }' | tr -d '()' | sort -u | tr '\n' ' ')
	[ "$needs" = "LIBQUORVIN_0 " ] || { echo "$2 needs '$needs', want only LIBQUORVIN_0" >&2; exit 1; }
fi
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libquorvin.so.0 ] || { echo "soname '$soname', want libquorvin.so.0" >&2; exit 1; }
echo "exports and soname: ok"
