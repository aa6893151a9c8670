# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
"""Apply waveforms to the channels of a Linux PWM chip, through libquorvin.

Open a chip by its number or by a name that does not move between boots,
take a channel, and set its waveform: built from a frequency in Hz and a
duty ratio (or from a period and a pulse in seconds), or given exactly in
nanoseconds::

    with quorvin.Chip("4ff00000.pwm") as chip:
        with chip.channel(0) as channel:
            channel.set(quorvin.Waveform.from_frequency(20_000, 0.4))
            print(channel.get_waveform())

which prints Waveform(period=50000, duty=20000, offset=0; 20 kHz, 40%).
The end of the channel's with block gives the channel back (close()); the
end of the chip's closes the chip and every channel still taken through it.

Failures raise OSError with the library's errno; a waveform the builders
cannot make, and any call on a closed chip or channel, ValueError.
"""
import operator

from quorvin import _quorvin
from quorvin._quorvin import Channel, ChannelInfo, Chip, Holder, __version__, chips

__all__ = ["Channel", "ChannelInfo", "Chip", "Holder", "Waveform", "chips"]

_NS_PER_S = 1_000_000_000
_PERIOD_MAX = 2**63 - 1
_INFINITY = float("inf")


def _number(value, what):
    """value as an int (also through __index__) or a finite float."""
    if not isinstance(value, (bool, str, bytes)):
        try:
            return operator.index(value)
        except TypeError:
            pass
        try:
            number = float(value)
        except TypeError:
            pass
        else:
            if number != number or number in (_INFINITY, -_INFINITY):
                raise ValueError(f"{what} must be a finite number, not {number!r}")
            return number
    raise TypeError(f"{what} must be a number, not {type(value).__name__}")


def _nearest(numerator, denominator):
    """The int nearest numerator / denominator (denominator > 0); a half to the even one."""
    quotient, remainder = divmod(numerator, denominator)
    if 2 * remainder > denominator or (2 * remainder == denominator and quotient % 2):
        quotient += 1
    return quotient


def _checked_period(period, asked):
    if period == 0:
        raise ValueError(f"{asked} rounds to a period of 0 ns")
    if period > _PERIOD_MAX:
        raise ValueError(f"{asked} makes a period past 2**63-1 ns")
    return period


def _placed(cls, period, duty, inversed):
    # An active part of none or of the whole period is the same signal
    # either way, and takes no offset (the library refuses one equal to the
    # period).
    return cls(period, duty, (period - duty) % period if inversed else 0)


def _hz_text(hz):
    for unit, scale in (("GHz", 1e9), ("MHz", 1e6), ("kHz", 1e3)):
        if hz >= scale:
            return f"{hz / scale:.9g} {unit}"
    return f"{hz:.9g} Hz"


class Waveform(_quorvin.Waveform):
    """A waveform in nanoseconds, exactly as the library takes it: the period,
    the length of its active part (duty) and where in the period that part
    starts (offset). Period 0 is an output switched off. A named tuple:
    it unpacks, compares and indexes as (period, duty, offset).

    Waveform.from_frequency(hz, duty_ratio) and Waveform.from_period(period_s,
    pulse_s) build one from a frequency in Hz or from times in seconds, ints
    or floats: floats go no further than these builders, which round them to
    the nearest nanosecond. frequency, duty_ratio and inversed read one in
    those terms, and its repr shows them after the nanoseconds:
    Waveform(period=20000000, duty=1500000, offset=0; 50 Hz, 7.5%).
    """

    __slots__ = ()

    @classmethod
    def from_frequency(cls, hz, duty_ratio, *, inversed=False):
        """The waveform of hz periods a second, active duty_ratio (0..1) of each.

        period = round(1e9 / hz) ns and duty = round(period * duty_ratio) ns,
        each to the nearest nanosecond of the exact quotient or product (a
        half to the even one, as Python's round), so duty_ratio 1 gives a duty
        of exactly the period and 0 none. inversed puts the active part at the
        end of each period rather than at its start (offset = period - duty):
        what sysfs makes as inversed polarity. duty_ratio is always the active
        part's share: from_frequency(f, r, inversed=True).duty_ratio is r.

        ValueError, before anything reaches the library, for a frequency not
        above 0, not finite (NaN, inf) or so low that the period is past
        2**63-1 ns (below some 1.08e-10 Hz), or so high that it rounds to 0 ns
        (2 GHz and above); and for a duty_ratio outside 0..1 or not finite.
        TypeError for what is not a number (a bool, a str).
        """
        hz = _number(hz, "frequency")
        if hz <= 0:
            raise ValueError(f"frequency must be above 0 Hz, not {hz!r}")
        numerator, denominator = hz.as_integer_ratio()
        period = _checked_period(_nearest(_NS_PER_S * denominator, numerator), f"{hz!r} Hz")
        ratio = _number(duty_ratio, "duty_ratio")
        if not 0 <= ratio <= 1:
            raise ValueError(f"duty_ratio must be in 0..1, not {ratio!r}")
        numerator, denominator = ratio.as_integer_ratio()
        return _placed(cls, period, _nearest(period * numerator, denominator), inversed)

    @classmethod
    def from_period(cls, period_s, pulse_s, *, inversed=False):
        """The waveform of a period of period_s seconds, active for pulse_s of each.

        Both are seconds (20e-3 for 20 ms), rounded to the nearest nanosecond
        as from_frequency rounds: period = round(period_s * 1e9) ns and
        duty = round(pulse_s * 1e9) ns. inversed as from_frequency's.

        ValueError, before anything reaches the library, for a period not
        above 0, not finite, that rounds to 0 ns (below 0.5 ns) or past
        2**63-1 ns (some 292 years); for a pulse below 0, not finite, or that
        rounds longer than the period. TypeError for what is not a number.
        """
        seconds = _number(period_s, "period_s")
        if seconds <= 0:
            raise ValueError(f"period_s must be above 0 s, not {seconds!r}")
        numerator, denominator = seconds.as_integer_ratio()
        period = _checked_period(_nearest(_NS_PER_S * numerator, denominator), f"{seconds!r} s")
        pulse = _number(pulse_s, "pulse_s")
        if pulse < 0:
            raise ValueError(f"pulse_s must be 0 s or more, not {pulse!r}")
        numerator, denominator = pulse.as_integer_ratio()
        duty = _nearest(_NS_PER_S * numerator, denominator)
        if duty > period:
            raise ValueError(f"pulse_s {pulse!r} s is longer than the period ({duty} ns > {period} ns)")
        return _placed(cls, period, duty, inversed)

    @property
    def frequency(self):
        """Periods a second, in Hz: 1e9 / period, a float; 0.0 for an output switched off (period 0)."""
        return _NS_PER_S / self.period if self.period else 0.0

    @property
    def duty_ratio(self):
        """The active part's share of the period, duty / period: 0.0 to 1.0 (0.0 for period 0)."""
        return self.duty / self.period if self.period else 0.0

    @property
    def inversed(self):
        """True where the active part ends the period rather than starting it, as inversed polarity makes it."""
        return self.offset != 0 and self.offset + self.duty == self.period

    def __repr__(self):
        fields = f"period={self.period!r}, duty={self.duty!r}, offset={self.offset!r}"
        try:
            if self.period == 0:
                said = "; off"
            else:
                said = f"; {_hz_text(self.frequency)}, {self.duty_ratio * 100:.6g}%"
                if self.inversed:
                    said += ", inversed"
        except (TypeError, ArithmeticError):
            said = ""  # fields that are no times: made by hand
        return f"{type(self).__name__}({fields}{said})"


_quorvin._use_waveform_class(Waveform)
