# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
"""Print where the quorvin package goes under an install prefix, relative to it.

The folder this interpreter searches for that prefix's packages, in the
order of its own install schemes: Debian's system folder under sys.prefix
(lib/python3/dist-packages), Debian's local one (lib/python3.X/dist-packages
under /usr/local), then the interpreter's preferred scheme and the plain
one. Where it searches none under the prefix: the plain scheme's folder.
"""
import os
import site
import sys
import sysconfig


def platlib(scheme, base):
    return os.path.normpath(sysconfig.get_path("platlib", scheme, vars={"base": base, "platbase": base}))


def main(prefix):
    prefix = os.path.normpath(os.path.abspath(prefix))
    names = sysconfig.get_scheme_names()
    candidates = []
    if "deb_system" in names:
        candidates.append(platlib("deb_system", prefix))
    if "posix_local" in names:
        # Debian's scheme for /usr/local, made from the interpreter's own prefix.
        candidates.append(platlib("posix_local", sys.prefix))
    candidates.append(platlib(sysconfig.get_preferred_scheme("prefix"), prefix))
    plain = platlib("posix_prefix", prefix)
    candidates.append(plain)
    searched = {os.path.normpath(p) for p in site.getsitepackages() + sys.path if p}
    for folder in candidates:
        if os.path.commonpath([folder, prefix]) == prefix and folder in searched:
            return os.path.relpath(folder, prefix)
    return os.path.relpath(plain, prefix)


if __name__ == "__main__":
    print(main(sys.argv[1]))
