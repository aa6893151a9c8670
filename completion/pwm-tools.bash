# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# shellcheck shell=bash
# Bash completion for pwm-sweep, pwm-set, pwm-info and pwm-detect. The one
# file is installed under each tool's name, as bash-completion loads a
# command's completion by that name; whichever is loaded first registers all
# four. It needs nothing from bash-completion and can also be sourced alone.
#
# The chips offered are the entries pwmchipN of the PWM class folder,
# QUORVIN_SYSFS_DIR as the library takes it, else /sys/class/pwm.

# Each tool's options, one SHORT:LONG:KIND a word (either name may be empty).
# KIND says what the argument is: empty for none, a trailing ? where it is
# optional (and then only attached: -H5s, --hold=5s).
_pwm_tools_options_pwm_sweep='c::chipnum p::channel P::number S::number'
_pwm_tools_options_pwm_set='c:chip:chip p:channel:channel P:period:time
	f:frequency:frequency d:duty:share o:offset:share i:inversed: :off:
	r:round: H:hold:time? v:verbose: :version: h:help:'
_pwm_tools_options_pwm_info='P:period:number g:get:channel u:unit:unit h:help: v:version:'
_pwm_tools_options_pwm_detect='h:help: v:version:'

# The chips present: their numbers, and their names unless only numbers are
# taken ($1 = chipnum).
_pwm_tools_chips()
{
	local dir=${QUORVIN_SYSFS_DIR:-/sys/class/pwm} path name
	for path in "$dir"/pwmchip*; do
		name=${path##*/}
		[[ ${name#pwmchip} =~ ^[0-9]+$ ]] || continue
		printf '%s\n' "${name#pwmchip}"
		[[ $1 == chipnum ]] || printf '%s\n' "$name"
	done
}

# Channels 0..npwm-1 of the chip $1, where its npwm can be read: a chip
# given by number, by name or by a path ending in its name (/dev/pwmchip0).
_pwm_tools_channels()
{
	local chip npwm i
	[[ $1 =~ ^([0-9]+)$ || $1 =~ (^|/)pwmchip([0-9]+)$ ]] || return
	chip=${QUORVIN_SYSFS_DIR:-/sys/class/pwm}/pwmchip${BASH_REMATCH[-1]}
	[[ -r $chip/npwm ]] && read -r npwm < "$chip/npwm" 2>/dev/null || return
	[[ $npwm =~ ^[0-9]+$ ]] || return
	for ((i = 0; i < npwm && i < 4096; i++)); do
		printf '%s\n' "$i"
	done
}

# The number typed in $1 followed by each of the units $2...; nothing until a
# number has been typed.
_pwm_tools_with_units()
{
	local number=${1%%[!0-9.]*} unit
	[[ $number == [0-9]* ]] || return
	for unit in "${@:2}"; do
		printf '%s\n' "$number$unit"
	done
}

# What to offer for an argument of kind $1 that reads $2 so far; $3 is the
# chip given on the line, if any.
_pwm_tools_values()
{
	local kind=${1%\?} value=$2 chip=$3
	local -a units=(ns us ms s)
	# µs (micro sign or Greek mu) is taken too; offered once it is being typed.
	[[ $value == *µ* ]] && units+=(µs)
	[[ $value == *μ* ]] && units+=(μs)
	case $kind in
	chip | chipnum) _pwm_tools_chips "$kind" ;;
	channel) [[ -n $chip ]] && _pwm_tools_channels "$chip" ;;
	time) _pwm_tools_with_units "$value" "${units[@]}" ;;
	share) _pwm_tools_with_units "$value" "${units[@]}" % ;;
	frequency) _pwm_tools_with_units "$value" Hz kHz MHz ;;
	unit) printf '%s\n' ns us ms s ;;
	esac
}

# Looks up an option of the current tool: $1 is "-X" or "--NAME" (a unique
# prefix of a long name will do, as getopt_long takes it). Sets opt_kind;
# false if there is no such option.
_pwm_tools_find_option()
{
	local word=$1 optdef short long found=0
	opt_kind=''
	for optdef in $optdefs; do
		short=${optdef%%:*} optdef=${optdef#*:}
		long=${optdef%%:*}
		if [[ $word == --?* ]]; then
			[[ -n $long && $long == "${word#--}"* ]] || continue
			opt_kind=${optdef#*:}
			[[ $long == "${word#--}" ]] && return 0
			found=$((found + 1))
		elif [[ -n $short && $word == "-$short" ]]; then
			opt_kind=${optdef#*:}
			return 0
		fi
	done
	((found == 1))
}

# Every option of the current tool, long names with a = where they take an
# argument (both ways where it is optional).
_pwm_tools_all_options()
{
	local optdef short long kind
	for optdef in $optdefs; do
		short=${optdef%%:*} optdef=${optdef#*:}
		long=${optdef%%:*} kind=${optdef#*:}
		[[ -n $short ]] && printf '%s\n' "-$short"
		[[ -z $long ]] && continue
		[[ -z $kind || $kind == *\? ]] && printf '%s\n' "--$long"
		[[ -n $kind ]] && printf '%s\n' "--$long="
	done
}

# Reads the words $@ as getopt does, from the state in the caller's waiting
# (the kind of argument the option before them waits for), chip (the last
# chip given) and options_done (whether options have ended).
_pwm_tools_scan()
{
	local word
	for word; do
		if [[ -n $waiting ]]; then
			[[ $waiting == chip* ]] && chip=$word
			waiting=''
		elif ((options_done)) || [[ $word != -?* ]]; then
			# pwm-info -g takes a channel of the one chip given.
			((operands)) && options_done=1 && chip=${chip:-$word}
		elif [[ $word == -- ]]; then
			options_done=1
		elif [[ $word == --* ]]; then
			_pwm_tools_find_option "${word%%=*}" || continue
			if [[ $word == *=* ]]; then
				[[ $opt_kind == chip* ]] && chip=${word#*=}
			elif [[ -n $opt_kind && $opt_kind != *\? ]]; then
				waiting=$opt_kind
			fi
		elif _pwm_tools_find_option "${word:0:2}" && [[ -n $opt_kind ]]; then
			if [[ ${#word} -gt 2 ]]; then
				[[ $opt_kind == chip* ]] && chip=${word:2}
			elif [[ $opt_kind != *\? ]]; then
				waiting=$opt_kind
			fi
		fi
	done
}

_pwm_tools_complete()
{
	local tool=${1##*/}
	local optdefs=_pwm_tools_options_${tool//-/_}
	optdefs=${!optdefs}
	# pwm-info and pwm-detect take chips after their options; the first chip
	# ends the options, as their getopt string starts with +.
	local operands=0
	[[ $tool == pwm-info || $tool == pwm-detect ]] && operands=1

	# The line up to the cursor, in words split at blanks: bash's own words
	# split at = and : too, which the option arguments here contain.
	local line=${COMP_LINE:0:COMP_POINT} cur=''
	local -a words
	read -ra words <<< "$line"
	if [[ $line != *[[:blank:]] && ${#words[@]} -gt 0 ]]; then
		cur=${words[-1]}
		unset 'words[-1]'
	fi

	# The words before the cursor, as getopt reads them; then those after it
	# too, for a chip given there.
	local i word waiting='' chip='' options_done=0 opt_kind
	_pwm_tools_scan "${words[@]:1}"
	local rest=${COMP_LINE:COMP_POINT} before_waiting=$waiting before_done=$options_done
	rest=${rest#"${rest%%[[:blank:]]*}"}
	read -ra words <<< "$rest"
	waiting=''
	_pwm_tools_scan "${words[@]}"
	waiting=$before_waiting options_done=$before_done

	# What is offered: whole words, from the start of cur.
	local -a offers=()
	local prefix='' value=$cur kind=''
	if [[ -n $waiting ]]; then
		kind=$waiting
	elif ((options_done)) || [[ $cur != -* && (-n $cur || operands -eq 1) ]]; then
		# Chips where the tool takes them; pwm-sweep and pwm-set take
		# options alone, which are offered for an empty word.
		((operands)) && kind=chip
	elif [[ $cur == --*=* ]]; then
		_pwm_tools_find_option "${cur%%=*}" && kind=$opt_kind
		prefix=${cur%%=*}= value=${cur#*=}
	elif [[ $cur == -[!-]?* ]] && _pwm_tools_find_option "${cur:0:2}"; then
		kind=$opt_kind prefix=${cur:0:2} value=${cur:2}
	else
		mapfile -t offers < <(compgen -W "$(_pwm_tools_all_options)" -- "$cur")
	fi
	if [[ -n $kind ]]; then
		mapfile -t offers < <(compgen -P "$prefix" -W "$(_pwm_tools_values "$kind" "$value" "$chip")" -- "$value")
	fi

	# Bash replaces only its own current word, the part of cur after the
	# last of COMP_WORDBREAKS (--chip=pwm: "pwm").
	local keep=0 breaks=${COMP_WORDBREAKS-}
	for ((i = ${#cur} - 1; i >= 0; i--)); do
		if [[ ${cur:i:1} != [[:blank:]] && $breaks == *"${cur:i:1}"* ]]; then
			keep=$((i + 1))
			break
		fi
	done
	COMPREPLY=()
	for word in "${offers[@]}"; do
		COMPREPLY+=("${word:keep}")
		[[ $word == *= ]] && compopt -o nospace 2>/dev/null
	done
	return 0
}

complete -F _pwm_tools_complete pwm-sweep pwm-set pwm-info pwm-detect
