# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# cpack -G DEB: one package with the tool, the library, its header and the
# manual page. Build it from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr
# so that the library lands in the multiarch folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pwm-sweep)
set(CPACK_PACKAGE_VENDOR "quorvin")
set(CPACK_PACKAGE_CONTACT "quorvin maintainers <maintainers@quorvin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sweep the duty of a Linux PWM channel across its period")
set(CPACK_PACKAGE_DESCRIPTION "pwm-sweep applies one waveform after another to a PWM channel, the duty
walking from 0 to the period or back in equal steps, as fast as the kernel
accepts them. It comes with libquorvin, the small C library it drives the
kernel's PWM interfaces with, and the library's header.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Records the library's soname in the package's shlibs file.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
