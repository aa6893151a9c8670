/* SPDX-License-Identifier: MIT
 * SPDX-FileCopyrightText: 2026 The pwm-sweep authors
 */
/*
 * Two LPSS PWM controllers (Broxton id, 4 channels each) for the guest.
 * The register windows sit in the PCI hole where nothing is mapped: writes
 * vanish and reads return 0, so the driver's "update done" poll succeeds at
 * once. RAM behind the window would make every enable time out.
 * Linux 6.1 names a chip after its first global PWM number, so the second
 * one shows up as pwmchip4.
 */
DefinitionBlock ("", "SSDT", 2, "QPWM", "PWMTEST", 1)
{
    Scope (\_SB)
    {
        Device (PWM0)
        {
            Name (_HID, "80865AC8")
            Name (_UID, 0)
            Name (_CRS, ResourceTemplate () { Memory32Fixed (ReadWrite, 0xE0000000, 0x1000) })
            Method (_STA, 0) { Return (0x0F) }
        }
        Device (PWM1)
        {
            Name (_HID, "80865AC8")
            Name (_UID, 1)
            Name (_CRS, ResourceTemplate () { Memory32Fixed (ReadWrite, 0xE0001000, 0x1000) })
            Method (_STA, 0) { Return (0x0F) }
        }
    }
}
