# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# pwm-sweep's sweep written in Python as a user of the quorvin package would
# write it: python3 bench/sweep.py -P PERIOD -S STEP, on chip 0, channel 0.
# The loop is in a function, as Python code that runs long is: at a module's
# top level every name is a dictionary lookup (some 25 ns more a waveform).
import sys

import quorvin


def sweep(channel, period, step):
    for duty in range(0, period + 1, step):
        channel.set_waveform(period, duty)


def main():
    period, step = int(sys.argv[2]), int(sys.argv[4])
    with quorvin.Chip(0) as chip:
        sweep(chip.channel(0), period, step)


main()
