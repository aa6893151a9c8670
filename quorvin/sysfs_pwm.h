// A channel driven through the kernel's sysfs PWM attributes.
#ifndef QUORVIN_SYSFS_PWM_H
#define QUORVIN_SYSFS_PWM_H

struct pwm;

// Exports channel of the chip folder chip_dirfd if it is not yet, waits for
// its attributes, opens them and reads the channel's current state.
// NULL with errno on failure.
struct pwm *sysfs_pwm_take(int chip_dirfd, unsigned int channel);

// Closes the channel's files and frees it; the output is left as it is.
void sysfs_pwm_release(struct pwm *pwm);

#endif
