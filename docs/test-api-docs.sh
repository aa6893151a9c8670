#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
#
# The API reference's checks fail where a comment is missing. The build's
# Doxyfile and check-api-docs.pl are run on a copy of quorvin.h in place of
# the header, and every name the copy declares must then be on its pages: the
# copy as it is passes; each row of the table takes one comment out of the
# copy (or makes it a plain one, adds a call without one, or hides a call
# from doxygen) and the reference must then fail, naming what it lacks.
#
# Usage: test-api-docs.sh DOXYGEN DOXYFILE CHECKER C-HEADER
set -euo pipefail
doxygen=$1 doxyfile=$2 checker=$3 header=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

config=$(<"$doxyfile")
[[ $config == *"$header"* ]] || { echo "$doxyfile does not read $header"; exit 1; }

# Every function, struct and enum, member and enumerator a header declares,
# read from its code with the comments taken out (and preprocessor lines
# read as any other).
read_names() { # HEADER
	perl -0ne 's{/\*.*?\*/}{}sg;
		print "$1\n" while /\b(\w+)\s*\(/g;
		while (/\b(?:struct|enum)\s+(\w+)\s*\{(.*?)\}/sg) {
			my ($tag, $body) = ($1, $2);
			print "$tag\n";
			print "$1\n" while $body =~ /(\w+)\s*(?:=[^,;]*)?[,;]/g;
		}' "$1"
}

# The reference made from FOLDER/quorvin.h, written to FOLDER: doxygen (what
# it says in FOLDER/doxygen.log), then where it passed the check
# (FOLDER/check.log), then each name of the copy on the pages of the header
# and of its structs (FOLDER/pages.log).
build_reference() { # FOLDER
	local name missing=
	{
		printf '%s\n' "${config//"$header"/"$1/quorvin.h"}"
		printf 'OUTPUT_DIRECTORY = "%s"\n' "$1"
	} | "$doxygen" - >"$1/doxygen.log" 2>&1 || return 1
	perl "$checker" "$1/xml" >"$1/check.log" 2>&1 || return 1
	for name in $(read_names "$1/quorvin.h"); do
		grep -qsw -- "$name" "$1/html/quorvin_8h.html" "$1"/html/structpwm__*.html || missing+=" $name"
	done
	[ -z "$missing" ] || { echo "not on the header's pages:$missing" >"$1/pages.log"; return 1; }
}

passed=0 failed=0
fail() {
	echo "FAIL: $*"
	failed=$((failed + 1))
}

base=$work/as-is
mkdir "$base"
cp "$header" "$base/quorvin.h"
names=$(read_names "$header" | wc -l)
if [ "$names" -lt 30 ]; then
	fail "the header as it is: only $names names read from it:" $(read_names "$header")
elif ! build_reference "$base"; then
	fail "the header as it is: the reference failed"
	cat "$base"/*.log
else
	echo "ok: the header as it is: the reference built, its $names names on its pages"
	passed=$((passed + 1))
fi
[ "$failed" -eq 0 ] || { echo "$passed passed, $failed failed"; exit 1; }

# How a row changes the copy, around the text DECL (perl, the whole file).
declare -A edits=(
	[before]='s{/\*\*(?:(?!\*/).)*\*/\n(?=\Q$ENV{DECL}\E)}{}s'
	[after]='s{(\Q$ENV{DECL}\E) /\*\*<(?:(?!\*/).)*\*/}{$1}s'
	[plain]='s{/\*\*((?:(?!\*/).)*\*/\n(?=\Q$ENV{DECL}\E))}{/*$1}s'
	[ungroup]='s{/\*\* \@\{ \*/\n((?:(?!\@\}).)*\Q$ENV{DECL}\E(?:(?!\@\}).)*)/\*\* \@\} \*/\n}{$1}s'
	[line]='s{^.*\Q$ENV{DECL}\E.*\n}{}m'
	[add]='s{(?=\n#ifdef __cplusplus\n\})}{\n$ENV{DECL}}'
	[hide]='s{^(.*\Q$ENV{DECL}\E.*\n)}{#if 0\n$1#endif\n}m'
)
# A row's last column says who must refuse the copy: doxygen itself (its
# warnings as errors; a header without @file fails the main page's @ref to
# it), or any (doxygen lets an enumerator without a comment by, and a call
# it does not see at all).
row() { # WHAT EDIT DECL NAME BY
	local dir
	dir=$work/$((passed + failed))
	mkdir "$dir"
	cp "$header" "$dir/quorvin.h"
	DECL=$3 perl -0pi -e "${edits[$2]}" "$dir/quorvin.h"
	if cmp -s "$header" "$dir/quorvin.h"; then
		fail "$1: the edit $2 found nothing at '$3'"
	elif build_reference "$dir"; then
		fail "$1: the reference was built"
	elif [ "$5" = doxygen ] && [ -e "$dir/check.log" ]; then
		fail "$1: doxygen let it by"
	elif ! cat "$dir"/*.log | grep -qw -- "$4"; then
		fail "$1: the reference failed without naming $4:"
		sed 's/^/    /' "$dir"/*.log
	else
		local by=doxygen
		[ -e "$dir/check.log" ] && by="the check"
		[ -e "$dir/pages.log" ] && by="the pages"
		echo "ok: $1: refused by $by, naming $4"
		passed=$((passed + 1))
	fi
}

#   what the copy lacks                 edit     where                                the failure names      by
row "a call's comment"                  before   'void pwm_release('                  pwm_release            doxygen
row "a call's comment, made plain"      plain    'void pwm_chip_close('               pwm_chip_close         doxygen
row "a new call without a comment"      add      'int pwm_chip_undocumented(void);'   pwm_chip_undocumented  doxygen
row "the group sharing one comment"     ungroup  'unsigned int pwm_chip_get_npwm('    pwm_chip_get_npwm      doxygen
row "a struct's comment"                before   'struct pwm_waveform {'              pwm_waveform           doxygen
row "a struct member's comment"         after    'uint64_t duty_offset_ns;'           duty_offset_ns         doxygen
row "an enum's comment"                 before   'enum pwm_holder {'                  pwm_holder             doxygen
row "an enumerator's comment"           after    'PWM_HOLDER_KERNEL = 3,'             PWM_HOLDER_KERNEL      any
row "the header's @file"                line     ' * @file'                           quorvin.h              doxygen
row "a call doxygen does not see"       hide     'int pwm_info_get_holder('           pwm_info_get_holder    any

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
