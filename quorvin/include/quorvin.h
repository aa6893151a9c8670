/* libquorvin: apply waveforms to the channels of a Linux PWM chip.
 *
 * Every call reports failure through its result (NULL or -1) and errno;
 * nothing is printed. All times are nanoseconds, as the kernel counts them.
 */
#ifndef QUORVIN_H
#define QUORVIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct pwm_chip;
struct pwm;

/* One waveform of a channel. A period of 0 switches the output off. The
 * active part of each period starts duty_offset_ns after the period's start
 * and lasts duty_length_ns. */
struct pwm_waveform {
	uint64_t period_length_ns;
	uint64_t duty_length_ns;
	uint64_t duty_offset_ns;
};

/* Opens /sys/class/pwm/pwmchipN. NULL with errno on failure (ENOENT for a
 * chip that does not exist). */
struct pwm_chip *pwm_chip_open_by_number(unsigned int chip);

/* Takes one channel of an open chip, exporting it if needed. The handle
 * belongs to the chip and lives until the chip is closed. NULL with errno on
 * failure (EINVAL for a channel beyond the chip's count, ETIMEDOUT when an
 * exported channel never shows up). */
struct pwm *pwm_chip_get_pwm(struct pwm_chip *chip, unsigned int channel);

/* Makes the channel emit exactly *wf, whatever state it was found in.
 * Returns 0 on success, -1 with errno on failure (the kernel's errno for a
 * refused write, EINVAL for a duty above the period, EOPNOTSUPP for an
 * offset that the channel cannot express). */
int pwm_set_waveform(struct pwm *pwm, struct pwm_waveform *wf);

/* Releases the chip and all its channel handles. The outputs keep their
 * last waveform and stay exported. */
void pwm_chip_close(struct pwm_chip *chip);

#ifdef __cplusplus
}
#endif

#endif
