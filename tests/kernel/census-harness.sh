# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Sourced by run-kernel-tests.sh for the census guests (arm64-census-BOOT):
# every driver of census-drivers.tsv whose boot column is BOOT, built from
# Debian's source of the arm64 kernel (build-oot-modules.sh), each on a
# device-tree node of its own in the guest's RAM window, registers that its
# probe reads written there before boot (QEMU's loader device), and checked
# by guest-tests-census.sh. Nothing here names a driver: the table does.
# Sets the harness's oot_sources, oot_modules, oot_ccflags, modules, chips,
# setup, suite, dtsi, dtsi_text, qemu_extra, guest_env and payload.

census_table=$here/census-drivers.tsv
census_boot=${guest#arm64-census-}
[ -f "$census_table" ] || die "no $census_table"

# census_rows: the boot's rows, tab-separated as in the table.
census_rows() { awk -F'\t' -v b="$census_boot" '$1 !~ /^#/ && $2 == b' "$census_table"; }
[ -n "$(census_rows)" ] || die "census-drivers.tsv has no row of boot $census_boot"

# Window of the Nth node (from 0): a page each, above the hand-written
# nodes (a driver may reach past the registers it names: the page beyond
# is not mapped, and a neighbour's registers are not its own).
census_window() { printf '0x%08x' $((0x4ff10000 + 0x1000 * $1)); }
# The QEMU loader options of a prefill.
census_prefill() { # WINDOW PREFILL
	local base=$1 w addr
	for w in $2; do
		addr=${w%%=*}
		# A small number is an offset in the node's window.
		[ $((addr)) -lt $((0x100000)) ] && addr=$(printf '0x%08x' $((base + addr)))
		# shellcheck disable=SC2054 # one QEMU option, commas and all
		qemu_extra+=(-device "loader,addr=$addr,data=${w#*=},data-len=4")
	done
}

oot_sources=()
oot_modules=()
oot_ccflags=
modules=()
qemu_extra=()
dtsi=(census-common.dtsi)
[ -f "$here/census-boot-$census_boot.dtsi" ] && dtsi+=("census-boot-$census_boot.dtsi")
dtsi_text="/ {"
census_n=0
census_i2c=
while IFS=$'\t' read -r drv _ needs compat clocks extra prefill _; do
	if [ "$needs" != - ]; then
		IFS=, read -r -a census_needs <<<"$needs"
		for n in "${census_needs[@]}"; do
			case $n in
			cflag:*) oot_ccflags="${oot_ccflags:+$oot_ccflags }${n#cflag:}" ;;
			*)
				# Once, at its first row's place (rows may share one).
				case " ${oot_sources[*]} " in *" $n "*) continue ;; esac
				oot_sources+=("$n")
				oot_modules+=("$(basename "$n" .c)")
				;;
			esac
		done
	fi
	# (/init loads what the drivers need; the setup step loads the drivers.)
	oot_sources+=("drivers/pwm/$drv.c")
	case $needs in *drivers/mfd/max7360.c* | *drivers/mfd/ntxec.c*) census_i2c=1 ;; esac
	[ "$compat" != - ] || { [ "$prefill" = - ] || census_prefill 0 "$prefill"; continue; }
	# A PCI driver: QEMU's function stands in, bound by the setup step.
	case $compat in pci:*)
		qemu_extra+=(-device "${compat#pci:}")
		continue
		;;
	esac
	win=$(census_window "$census_n")
	census_n=$((census_n + 1))
	dtsi_text+="
	/* $drv */
	pwm@${win#0x} {
		compatible = \"$compat\";
		reg = <0x0 $win 0x0 0x1000>;
		#pwm-cells = <3>;"
	[ "$clocks" = - ] || dtsi_text+="
		$clocks"
	[ "$extra" = - ] || dtsi_text+="
		$extra"
	dtsi_text+="
	};"
	[ "$prefill" = - ] || census_prefill "$win" "$prefill"
done < <(census_rows)
dtsi_text+="
};"
# The windows end within the RAM window (1 MiB from 0x4ff00000).
[ $(($(census_window "$census_n"))) -le $((0x50000000)) ] || die "boot $census_boot has too many nodes for its window"

# The I2C MFDs sit on i2c-stub (built here too), declared by the setup step;
# Debian's i2c-dev lets it write their registers.
if [ -n "$census_i2c" ]; then
	oot_sources+=(drivers/i2c/i2c-stub.c)
	modules=(i2c-dev)
fi
# The setup step loads the boot's drivers, in table order, after the I2C
# chips: one that does not load (a driver that binds only when it loads,
# finding no device) is reported by the suite as not bound, the others go on.
setup=guest-setup-census.sh
suite=guest-tests-census.sh
# /init waits for one chip; the suite waits for the others and reports
# each driver that did not bind.
chips=1
guest_env="CENSUS_BOOT=$census_boot"
payload=(census-drivers.tsv)
