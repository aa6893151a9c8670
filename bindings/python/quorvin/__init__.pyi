# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
"""Apply waveforms to the channels of a Linux PWM chip, through libquorvin."""
import enum
import os
from types import TracebackType
from typing import Literal, NamedTuple, SupportsFloat, SupportsIndex, final

__version__: str

# What the builders take: an int, a float, or what converts to one.
_Real = SupportsFloat | SupportsIndex

class Waveform(NamedTuple):
    """A waveform in nanoseconds; period 0 is an output switched off.

    Built from a frequency in Hz or from seconds, rounded to the nearest ns;
    read in Hz and as a ratio.
    """

    period: int
    duty: int
    offset: int
    @classmethod
    def from_frequency(cls, hz: _Real, duty_ratio: _Real, *, inversed: bool = False) -> Waveform:
        """period = round(1e9 / hz) ns, duty = round(period * duty_ratio) ns; ValueError where it cannot be."""
    @classmethod
    def from_period(cls, period_s: _Real, pulse_s: _Real, *, inversed: bool = False) -> Waveform:
        """period = round(period_s * 1e9) ns, duty = round(pulse_s * 1e9) ns; ValueError where it cannot be."""
    @property
    def frequency(self) -> float:
        """1e9 / period, in Hz; 0.0 for an output switched off."""
    @property
    def duty_ratio(self) -> float:
        """duty / period; 0.0 for an output switched off."""
    @property
    def inversed(self) -> bool:
        """True where the active part ends the period (inversed polarity)."""

class Holder(enum.IntEnum):
    """Who holds a channel."""

    NONE = 0
    SYSFS = 1
    DEVICE = 2
    KERNEL = 3
    UNKNOWN = 4

class ChannelInfo(NamedTuple):
    """What a channel is doing, read without taking it."""

    channel: int
    holder: Holder | int
    label: str | None
    waveform: Waveform | None

@final
class Chip:
    """A PWM chip, opened by number or by name; a context manager."""

    def __init__(self, chip: SupportsIndex | str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> None: ...
    def channel(self, n: SupportsIndex, /) -> Channel:
        """Takes channel n, until the Channel or the chip is closed; one held here is the same Channel."""
    def info(self, n: SupportsIndex, /) -> ChannelInfo:
        """What channel n is doing, read without taking it."""
    def close(self) -> None:
        """Releases the chip and its channels; see the C library on what outputs do then."""
    def __enter__(self) -> Chip: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        tb: TracebackType | None,
        /,
    ) -> Literal[False]: ...
    @property
    def number(self) -> int:
        """N of pwmchipN."""
    @property
    def npwm(self) -> int:
        """How many channels the chip has."""
    @property
    def device_name(self) -> str | None:
        """The parent device's name, or None."""
    @property
    def driver_name(self) -> str | None:
        """The parent device's driver's name, or None."""
    @property
    def device_node(self) -> bool:
        """True where driven through /dev/pwmchipN, False through sysfs."""
    @property
    def closed(self) -> bool:
        """True once the chip is closed."""

@final
class Channel:
    """A channel held through its chip; times are nanoseconds in 0..2**64-1; a context manager."""

    def set(self, waveform: tuple[int, int, int], /) -> None:
        """Makes the channel emit the Waveform (rounded down by the hardware)."""
    def set_waveform(self, period: int, duty: int, offset: int = 0) -> None:
        """Makes the channel emit the waveform (rounded down by the hardware)."""
    def get_waveform(self) -> Waveform:
        """The waveform the channel emits now."""
    def hardware_waveform(self) -> Waveform:
        """The waveform the hardware runs, as its driver reads it back."""
    def round_waveform(self, period: int, duty: int, offset: int = 0) -> Waveform:
        """What the channel would make of the waveform (device node only)."""
    def info(self) -> ChannelInfo:
        """What the channel is doing."""
    def close(self) -> None:
        """Gives the channel back, its output left as closing the chip leaves it; then calls raise ValueError."""
    def __enter__(self) -> Channel: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        tb: TracebackType | None,
        /,
    ) -> Literal[False]: ...
    @property
    def number(self) -> int:
        """The channel's number on its chip."""
    @property
    def chip(self) -> Chip:
        """The chip the channel was taken through."""
    @property
    def closed(self) -> bool:
        """True once the channel is closed, by its close() or its chip's."""

def chips() -> list[int]:
    """The numbers of the PWM chips there are, lowest first."""
