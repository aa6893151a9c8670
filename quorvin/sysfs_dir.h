#ifndef QUORVIN_SYSFS_DIR_H
#define QUORVIN_SYSFS_DIR_H

// The PWM class folder: QUORVIN_SYSFS_DIR where set (and the program is not
// privileged), else /sys/class/pwm.
const char *quorvin_sysfs_dir(void);

#endif
