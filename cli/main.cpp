// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// pwm-sweep: sweeps the duty of one PWM channel across its period.
#include "sweep_settings.h"

#include "sweep.h"

int main(int argc, char **argv)
{
	struct sweep_settings settings;
	if (!parse_sweep_settings(argc, argv, &settings))
		return 1;
	return run_sweep(&settings) ? 0 : 1;
}
