// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// The kernel's PWM character-device interface (Linux 6.17 and later). Older
// kernel headers lack it, so the definitions are carried here where the
// system's <linux/pwm.h> does not provide them; the asserts below hold both
// to the kernel's ABI.
#ifndef QUORVIN_PWM_UAPI_H
#define QUORVIN_PWM_UAPI_H

#include <linux/ioctl.h>
#include <linux/types.h>

#if __has_include(<linux/pwm.h>)
#include <linux/pwm.h>
#endif

#ifndef PWM_IOCTL_SETROUNDEDWF
struct pwmchip_waveform {
	__u32 hwpwm;
	// The kernel's name; must be zero.
	__u32 __pad; // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
	__u64 period_length_ns;
	__u64 duty_length_ns;
	__u64 duty_offset_ns;
};

#define PWM_IOCTL_REQUEST _IO(0x75, 1)
#define PWM_IOCTL_FREE _IO(0x75, 2)
#define PWM_IOCTL_ROUNDWF _IOWR(0x75, 3, struct pwmchip_waveform)
#define PWM_IOCTL_GETWF _IOWR(0x75, 4, struct pwmchip_waveform)
#define PWM_IOCTL_SETROUNDEDWF _IOW(0x75, 5, struct pwmchip_waveform)
#define PWM_IOCTL_SETEXACTWF _IOW(0x75, 6, struct pwmchip_waveform)
#endif

static_assert(sizeof(struct pwmchip_waveform) == 32, "pwmchip_waveform is 32 bytes");
static_assert(PWM_IOCTL_REQUEST == 0x7501, "PWM_IOCTL_REQUEST encoding");
static_assert(PWM_IOCTL_FREE == 0x7502, "PWM_IOCTL_FREE encoding");
static_assert(PWM_IOCTL_ROUNDWF == 0xc0207503, "PWM_IOCTL_ROUNDWF encoding");
static_assert(PWM_IOCTL_GETWF == 0xc0207504, "PWM_IOCTL_GETWF encoding");
static_assert(PWM_IOCTL_SETROUNDEDWF == 0x40207505, "PWM_IOCTL_SETROUNDEDWF encoding");
static_assert(PWM_IOCTL_SETEXACTWF == 0x40207506, "PWM_IOCTL_SETEXACTWF encoding");

#endif
