# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# Sourced by run-kernel-tests.sh for guests that run the quorvin Python
# package: Debian 12's interpreter for the guest's architecture (the one the
# cross-built module is for: libpython3-dev:ARCH comes from the same
# archive), the libraries it loads beside libc, the few modules of its
# standard library that it and the package import, and the package itself.
# Laid out under /q as under /usr, so that it finds its prefix from its own
# path: /q/bin/python3, /q/lib/pythonX.Y, /q/lib/python3/dist-packages.
# Uses the harness's die, note, apt_cmd, apt_refresh, download, cache_fill,
# needed, arch, triplet, cache, tool, source_dir; pymod is the folder of the built
# package (the "python" line of guest-programs.txt).

# What starts the interpreter (os.py is the landmark it finds its prefix
# by, encodings what it decodes with) and what the module's types are made
# of (collections.namedtuple, enum.IntEnum); everything else it needs is
# built in or frozen.
py_stdlib=(os.py encodings/__init__.py encodings/aliases.py encodings/utf_8.py
	collections/__init__.py enum.py functools.py keyword.py operator.py reprlib.py types.py)

# python_fetch: fills the cache folder pydir with the interpreter of the
# module's version: its binary, its libraries and its pure-Python standard
# library. The folder is named by the interpreter's version and a checksum
# of all versions, so that a library's update also fetches anew.
python_fetch() {
	local versions ver sum
	pyso=$(find "$pymod" -maxdepth 1 -name '_quorvin.cpython-*.so' | head -n 1)
	[ -n "$pyso" ] || die "no _quorvin module in $pymod"
	pyver=$(basename "$pyso" | sed -n 's/^_quorvin\.cpython-\([0-9]\)\([0-9]*\)-.*/\1.\2/p')
	[ -n "$pyver" ] || die "cannot tell the Python version of $pyso"
	py_pkgs=("python$pyver-minimal:$arch" "libpython$pyver-minimal:$arch" "libexpat1:$arch" "zlib1g:$arch")
	candidates host "${py_pkgs[@]}" ||
		die "not every one of ${py_pkgs[*]} has a candidate (is $arch among dpkg's architectures?): $(tr '\n' ' ' <<<"$versions")"
	ver=$(awk 'NR == 1 { print $2 }' <<<"$versions")
	sum=$(printf 'layout 1\n%s\n' "$versions" | cksum | cut -d' ' -f1)
	pydir=$cache/python-$arch--${ver//:/_}-$sum
	[ -f "$pydir/complete" ] && return 0

	note "fetching python$pyver $ver and the libraries it loads"
	tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
	download host "$tmp" "${py_pkgs[@]}"
	mkdir -p "$tmp/x" "$tmp/out/bin" "$tmp/out/lib"
	for deb in "$tmp"/*.deb; do
		dpkg-deb -x "$deb" "$tmp/x" || die "unpacking $deb failed"
	done
	cp "$tmp/x/usr/bin/python$pyver" "$tmp/out/bin/python3" &&
		cp -a "$tmp/x/usr/lib/python$pyver" "$tmp/out/stdlib" ||
		die "python$pyver-minimal or libpython$pyver-minimal lacks its interpreter or library"
	find "$tmp/x/lib/$triplet" "$tmp/x/usr/lib/$triplet" -maxdepth 1 -name '*.so.*' -exec cp -a {} "$tmp/out/lib/" \; \
		2>/dev/null
	cache_fill "$pydir"
}

# python_install ROOT: the interpreter, its libraries (each it loads, from
# the packages or the cross runtime, else the harness stops), the standard
# library's few modules, the package, and the README's Python example as
# written there (/q/readme-example.py).
python_install() {
	local r=$1 f
	cp "$pydir/bin/python3" "$r/q/bin/python3" || die "cannot copy python$pyver"
	needed "$r/q/bin/python3" "$pydir/lib"
	mkdir -p "$r/q/lib/python$pyver/lib-dynload" "$r/q/lib/python3/dist-packages/quorvin"
	for f in "${py_stdlib[@]}"; do
		mkdir -p "$(dirname "$r/q/lib/python$pyver/$f")"
		cp "$pydir/stdlib/$f" "$r/q/lib/python$pyver/$f" || die "python$pyver has no $f"
	done
	cp "$pymod/__init__.py" "$pyso" "$r/q/lib/python3/dist-packages/quorvin/" || die "cannot copy the package"
	needed "$r/q/lib/python3/dist-packages/quorvin/$(basename "$pyso")" "$(dirname "$tool")"
	awk '/^### From Python/ { s = 1 } s && /^```python$/ { p = 1; next } p && /^```$/ { exit } p' \
		"$source_dir/README.md" >"$r/q/readme-example.py"
	[ -s "$r/q/readme-example.py" ] || die "README.md has no Python example under \"From Python\""
}
