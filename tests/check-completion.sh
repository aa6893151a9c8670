#!/bin/bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# The tools' bash completion, run as bash runs it on <TAB>:
#   check-completion.sh COMPLETION_FILE MAKE_PWM_TREE
# over a made-up class folder with pwmchip0 (3 channels) and pwmchip4 (16).
# Each row is a command line with @ at the cursor, then the words offered.
set -u
completion=${1:?usage: check-completion.sh COMPLETION_FILE MAKE_PWM_TREE}
make_tree=${2:?usage: check-completion.sh COMPLETION_FILE MAKE_PWM_TREE}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
"$make_tree" "$tmp/class" 3 || exit 1
mkdir "$tmp/class/pwmchip4" && echo 16 > "$tmp/class/pwmchip4/npwm" || exit 1
export QUORVIN_SYSFS_DIR=$tmp/class

# The file under test comes as an argument.
# shellcheck source=/dev/null
source "$completion" || exit 1
failures=0

# Completes one line (with @ at the cursor) through the function registered
# for its command, with COMP_WORDS split at blanks and COMP_WORDBREAKS.
complete_at()
{
	local marked=$1 cmd=${1%% *} func words_text
	COMP_LINE=${marked/@/} COMP_POINT=${marked%%@*} COMP_POINT=${#COMP_POINT}
	if ! func=$(complete -p "$cmd" 2>/dev/null); then
		echo "no completion registered for $cmd"
		return 1
	fi
	func=${func#*-F } func=${func%% *}
	words_text=$marked
	[[ $COMP_WORDBREAKS == *=* ]] && words_text=${marked//=/ = }
	read -ra COMP_WORDS <<< "${words_text%%@*}x"
	COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
	read -ra COMP_WORDS <<< "${words_text/@/}"
	COMPREPLY=()
	"$func" "$cmd" "${COMP_WORDS[COMP_CWORD]-}" "${COMP_WORDS[COMP_CWORD - 1]}"
	printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

# Reads rows "LINE | WORDS" (WORDS sorted, bytewise) and checks each.
check_rows()
{
	local line want got
	while IFS='|' read -r line want; do
		[[ -z $line || $line == '#'* ]] && continue
		line=${line%"${line##*[! ]}"} want=${want# } want=${want% }
		got=$(complete_at "$line")
		if [[ $got != "$want" ]]; then
			echo "FAIL: '$line' offers '$got', not '$want'"
			failures=$((failures + 1))
		fi
	done
}

COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
check_rows <<'EOF'
# Options, short and long; a long one that takes an argument with its =.
pwm-sweep -@                      | -P -S -c -p
pwm-set --ver@                    | --verbose --version
pwm-set --o@                      | --off --offset=
pwm-set --hol@                    | --hold --hold=
pwm-info -@                       | --get= --help --period= --unit= --version -P -g -h -u -v
pwm-detect -@                     | --help --version -h -v
# The first chip ends the options of pwm-info and pwm-detect; an option's
# argument does not.
pwm-info -P 20 -u@                | -u
pwm-info pwmchip0 -@              |
pwm-detect -- -@                  |
# Chips: names and numbers; pwm-sweep takes numbers only.
pwm-set -c @                      | 0 4 pwmchip0 pwmchip4
pwm-set --chip=pw@                | pwmchip0 pwmchip4
pwm-set --chi p@                  | pwmchip0 pwmchip4
pwm-sweep -c @                    | 0 4
# An argument that is a plain number: nothing offered.
pwm-info -P @                     |
# Channels of the chip given, before the cursor or after it.
pwm-set -c 0 -p @                 | 0 1 2
pwm-set --chip=pwmchip4 --channel=1@ | 1 10 11 12 13 14 15
pwm-sweep -c4 -p 1@               | 1 10 11 12 13 14 15
pwm-set -c /dev/pwmchip4 -p 1@    | 1 10 11 12 13 14 15
pwm-info -g 1@ pwmchip4           | 1 10 11 12 13 14 15
pwm-info -g @                     |
pwm-set -c 7 -p @                 |
# Units after a number: times, shares, frequencies; µs once begun.
pwm-set -P 20@                    | 20ms 20ns 20s 20us
pwm-set -P @                      |
pwm-set --duty=25@                | 25% 25ms 25ns 25s 25us
pwm-set -o25m@                    | -o25ms
pwm-set -f 1@                     | 1Hz 1MHz 1kHz
pwm-set -P 2µ@                    | 2µs
pwm-set -P 2μ@                    | 2μs
pwm-set --hold=5@                 | 5ms 5ns 5s 5us
pwm-set -H -i@                    | -i
pwm-info -u @                     | ms ns s us
EOF

# Where = does not break words, bash's word is the whole --chip=...
COMP_WORDBREAKS=$' \t\n'
check_rows <<'EOF'
pwm-set --chip=pw@                | --chip=pwmchip0 --chip=pwmchip4
EOF

# No chips: a class folder with none, or none at all.
mkdir "$tmp/empty"
for QUORVIN_SYSFS_DIR in "$tmp/empty" "$tmp/missing"; do
	check_rows <<'EOF'
pwm-set -c @                      |
EOF
done

((failures == 0)) || exit 1
echo "all completion rows pass"
