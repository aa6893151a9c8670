# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
"""Apply waveforms to the channels of a Linux PWM chip, through libquorvin.

Open a chip by its number or by a name that does not move between boots,
take a channel, and set its waveform (period, duty and offset, in
nanoseconds)::

    with quorvin.Chip("4ff00000.pwm") as chip:
        channel = chip.channel(0)
        channel.set_waveform(50_000, 20_000)
        print(channel.get_waveform())

Failures raise OSError with the library's errno.
"""
from quorvin._quorvin import Channel, ChannelInfo, Chip, Holder, Waveform, __version__, chips

__all__ = ["Channel", "ChannelInfo", "Chip", "Holder", "Waveform", "chips"]
