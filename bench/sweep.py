# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# pwm-sweep's sweep written in Python as a user of the quorvin package would
# write it: python3 bench/sweep.py -P PERIOD -S STEP, on chip 0, channel 0.
import sys

import quorvin

period, step = int(sys.argv[2]), int(sys.argv[4])
with quorvin.Chip(0) as chip:
    channel = chip.channel(0)
    for duty in range(0, period + 1, step):
        channel.set_waveform(period, duty)
