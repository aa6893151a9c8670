# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# The quorvin package on a made-up sysfs chip (scripts/make-pwm-tree: two
# channels, exported): what reaches the attributes, what is refused before
# anything does, and the errno each refusal raises.
import errno
import os
import pickle
import subprocess
import sys

import pytest

import quorvin


@pytest.fixture
def tree(tmp_path, monkeypatch):
    subprocess.run([os.environ["MAKE_PWM_TREE"], str(tmp_path / "sys"), "2"], check=True)
    monkeypatch.setenv("QUORVIN_SYSFS_DIR", str(tmp_path / "sys"))
    monkeypatch.setenv("QUORVIN_DEV_DIR", str(tmp_path / "dev"))
    monkeypatch.setenv("QUORVIN_DEBUGFS_PWM", str(tmp_path / "debugfs-pwm"))
    return tmp_path / "sys" / "pwmchip0"


def attrs(tree, channel):
    return tuple(
        (tree / f"pwm{channel}" / name).read_text().split("\n")[0]
        for name in ("period", "duty_cycle", "enable", "polarity")
    )


FRESH = ("1000000000", "1000000000", "0", "normal")
W = quorvin.Waveform


class Index:
    """A number that is not an int, as numpy's integers are."""

    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


@pytest.mark.parametrize(
    "set_, written, read",
    [
        (lambda ch: ch.set_waveform(50000, 20000), ("50000", "20000", "1", "normal"), (50000, 20000, 0)),
        (lambda ch: ch.set_waveform(duty=30000, offset=70000, period=100000),
         ("100000", "70000", "1", "inversed"), (100000, 30000, 70000)),
        (lambda ch: ch.set_waveform(0, 0), ("1000000000", "1000000000", "0", "normal"), (0, 0, 0)),
        (lambda ch: ch.set(W.from_frequency(20_000, 0.4)), ("50000", "20000", "1", "normal"), (50000, 20000, 0)),
        (lambda ch: ch.set(W.from_period(100e-6, 30e-6, inversed=True)), ("100000", "70000", "1", "inversed"),
         (100000, 30000, 70000)),
        (lambda ch: ch.set((0, 0, 0)), ("1000000000", "1000000000", "0", "normal"), (0, 0, 0)),
    ],
)
def test_set_writes_and_reads_back(tree, set_, written, read):
    with quorvin.Chip("pwmchip0") as chip:
        channel = chip.channel(1)
        set_(channel)
        assert attrs(tree, 1) == written
        assert channel.get_waveform() == quorvin.Waveform(*read)
        assert chip.info(1) == (1, quorvin.Holder.SYSFS, None, read)
        # With the read-outs of the package's class.
        assert type(channel.get_waveform()) is type(chip.info(1).waveform) is quorvin.Waveform


@pytest.mark.parametrize(
    "call, exc, err",
    [
        (lambda ch: ch.set_waveform(10, 20), OSError, errno.EINVAL),
        (lambda ch: ch.set_waveform(2**64 - 1, 0), OSError, errno.EINVAL),
        (lambda ch: ch.set_waveform(100, 10, 20), OSError, errno.EOPNOTSUPP),
        (lambda ch: ch.set(W(10, 20, 0)), OSError, errno.EINVAL),
        (lambda ch: ch.round_waveform(100, 10), OSError, errno.EOPNOTSUPP),
        (lambda ch: ch.chip.channel(2), OSError, errno.EINVAL),
        (lambda ch: ch.chip.channel(2**32 - 1), OSError, errno.EINVAL),
        (lambda ch: ch.chip.info(2), OSError, errno.EINVAL),
        (lambda ch: quorvin.Chip(0).channel(0), OSError, errno.EBUSY),
        (lambda ch: quorvin.Chip(5), FileNotFoundError, errno.ENOENT),
        (lambda ch: quorvin.Chip(""), OSError, errno.EINVAL),
        (lambda ch: ch.set_waveform(2**64, 0), OverflowError, None),
        (lambda ch: ch.set_waveform(100, -1), OverflowError, None),
        (lambda ch: ch.set_waveform(100, 0, offset=2**70), OverflowError, None),
        (lambda ch: ch.chip.channel(2**32), OverflowError, None),
        (lambda ch: ch.set_waveform(True, 0), TypeError, None),
        (lambda ch: quorvin.Chip(False), TypeError, None),
        (lambda ch: ch.set_waveform(100, 1.0), TypeError, None),
        (lambda ch: ch.set_waveform(100), TypeError, None),
        (lambda ch: ch.set((100, 10)), TypeError, None),
        (lambda ch: ch.set([100, 10, 0]), TypeError, None),
        (lambda ch: ch.set((100, 10.0, 0)), TypeError, None),
        (lambda ch: ch.set((100, 0, 2**64)), OverflowError, None),
        (lambda ch: quorvin.Chip("pwm\0chip0"), ValueError, None),
    ],
)
def test_refused_before_or_by_the_library(tree, call, exc, err):
    with quorvin.Chip(0) as chip:
        with pytest.raises(exc) as raised:
            call(chip.channel(0))
        assert raised.value.errno == err if err is not None else not isinstance(raised.value, OSError)
    assert attrs(tree, 0) == FRESH


@pytest.mark.parametrize("which, named", [(5, "pwmchip5"), (Index(5), "pwmchip5"), ("nosuch", "nosuch")])
def test_chip_not_found_names_what_was_asked(tree, which, named):
    with pytest.raises(FileNotFoundError) as raised:
        quorvin.Chip(which)
    assert raised.value.filename == named


@pytest.mark.parametrize(
    "name",
    [lambda t: 0, lambda t: Index(0), lambda t: "pwmchip0", str, os.fsencode, lambda t: t,
     lambda t: t.parent / "../sys/pwmchip0"],
)
def test_opened_by_number_or_name(tree, name):
    with quorvin.Chip(name(tree)) as chip:
        assert (chip.number, chip.npwm, chip.device_name, chip.device_node) == (0, 2, None, False)


@pytest.mark.parametrize(
    "use",
    [lambda chip, ch: ch.set_waveform(100, 50), lambda chip, ch: ch.get_waveform(), lambda chip, ch: chip.npwm,
     lambda chip, ch: chip.channel(1), lambda chip, ch: chip.__enter__(), lambda chip, ch: ch.round_waveform(100, 50),
     lambda chip, ch: ch.info(), lambda chip, ch: chip.info(0), lambda chip, ch: ch.set(W(100, 50, 0)),
     lambda chip, ch: ch.hardware_waveform(), lambda chip, ch: ch.__enter__()],
)
def test_closed_chip_refuses_and_frees_its_channels(tree, use):
    with quorvin.Chip(0) as chip:
        channel = chip.channel(0)
    chip.close()
    channel.close()  # its handle went with the chip: nothing to give back
    assert chip.closed and channel.closed
    with pytest.raises(ValueError):
        use(chip, channel)
    with quorvin.Chip(0) as again:
        again.channel(0).set_waveform(100, 50)
    assert attrs(tree, 0)[:2] == ("100", "50")


@pytest.mark.parametrize(
    "call, said",
    [
        (lambda chip: quorvin.Chip(-1), "chip number must be in 0..4294967295"),
        (lambda chip: quorvin.Chip(Index(2**64)), "chip number must be in 0..4294967295"),
        (lambda chip: quorvin.Chip(2**32), "chip number must be in 0..4294967295"),
        (lambda chip: chip.channel(Index(-1)), "channel must be in 0..4294967295"),
        (lambda chip: chip.info(2**64), "channel must be in 0..4294967295"),
        (lambda chip: chip.channel(0).set_waveform(-1, 0), "period must be in 0..2**64-1"),
        (lambda chip: chip.channel(0).round_waveform(100, Index(2**64)), "duty must be in 0..2**64-1"),
        (lambda chip: chip.channel(0).set_waveform(100, 0, offset=-1), "offset must be in 0..2**64-1"),
    ],
)
def test_out_of_range_says_the_range_taken(tree, call, said):
    with quorvin.Chip(0) as chip:
        with pytest.raises(OverflowError) as raised:
            call(chip)
    assert str(raised.value) == said


@pytest.mark.parametrize(
    "entries, listed",
    [
        (None, []),
        ([], []),
        (["pwmchip0"], [0]),
        (["pwmchip12", "pwmchip3", "pwmchip0", "pwmchipx", "export"], [0, 3, 12]),
    ],
)
def test_chips_lists_the_numbers_present(tmp_path, monkeypatch, entries, listed):
    sysfs = tmp_path / "sys"
    if entries is not None:
        sysfs.mkdir()
        for name in entries:
            (sysfs / name).mkdir()
    monkeypatch.setenv("QUORVIN_SYSFS_DIR", str(sysfs))
    assert quorvin.chips() == listed


def test_chips_raises_where_the_folder_cannot_be_read(tmp_path, monkeypatch):
    (tmp_path / "sys").write_text("")
    monkeypatch.setenv("QUORVIN_SYSFS_DIR", str(tmp_path / "sys"))
    with pytest.raises(NotADirectoryError):
        quorvin.chips()


@pytest.mark.parametrize(
    "built, made",
    [
        (lambda: W.from_frequency(1000, 0.5), (1_000_000, 500_000, 0)),
        (lambda: W.from_frequency(50, 0.075), (20_000_000, 1_500_000, 0)),
        (lambda: W.from_frequency(Index(50), 0), (20_000_000, 0, 0)),
        # Ratio 1 is the whole period, also past float's 2**53.
        (lambda: W.from_frequency(9e-8, 1.0), (11_111_111_111_111_111, 11_111_111_111_111_111, 0)),
        # Halves to the even nanosecond: 2.5 ns, and 5 ns x 0.5; 7 ns x 0.5.
        (lambda: W.from_frequency(4e8, 0.5), (2, 1, 0)),
        (lambda: W.from_frequency(2e8, 0.5), (5, 2, 0)),
        (lambda: W.from_frequency(1e9 / 7, 0.5), (7, 4, 0)),
        (lambda: W.from_frequency(1.0842021724855046e-10, 0), (2**63 - 1100, 0, 0)),
        (lambda: W.from_frequency(1000, 0.25, inversed=True), (1_000_000, 250_000, 750_000)),
        (lambda: W.from_frequency(1000, 1, inversed=True), (1_000_000, 1_000_000, 0)),
        (lambda: W.from_frequency(1000, 0, inversed=True), (1_000_000, 0, 0)),
        (lambda: W.from_period(20e-3, 1.5e-3), (20_000_000, 1_500_000, 0)),
        (lambda: W.from_period(1, 1), (1_000_000_000, 1_000_000_000, 0)),
        (lambda: W.from_period(1e-6, 0.3e-6, inversed=True), (1000, 300, 700)),
    ],
)
def test_builders_round_to_the_nearest_ns(built, made):
    assert built() == made


@pytest.mark.parametrize(
    "built, exc, said",
    [
        (lambda: W.from_frequency(3e9, 0.5), ValueError, "3000000000.0 Hz rounds to a period of 0 ns"),
        (lambda: W.from_frequency(1e-11, 0.5), ValueError, r"1e-11 Hz makes a period past 2\*\*63-1 ns"),
        (lambda: W.from_frequency(1.0842021724855044e-10, 0.5), ValueError, "past 2"),  # 2**63 ns
        (lambda: W.from_frequency(float("nan"), 0.5), ValueError, "frequency must be a finite number, not nan"),
        (lambda: W.from_frequency(float("-inf"), 0.5), ValueError, "frequency must be a finite number, not -inf"),
        (lambda: W.from_frequency(0, 0.5), ValueError, "frequency must be above 0 Hz, not 0"),
        (lambda: W.from_frequency(-50, 0.5), ValueError, "above 0 Hz"),
        (lambda: W.from_frequency(1000, -0.1), ValueError, "duty_ratio must be in 0..1, not -0.1"),
        (lambda: W.from_frequency(1000, 1.1), ValueError, "duty_ratio must be in 0..1, not 1.1"),
        (lambda: W.from_frequency(1000, float("nan")), ValueError, "duty_ratio must be a finite number"),
        (lambda: W.from_frequency(True, 0.5), TypeError, "frequency must be a number, not bool"),
        (lambda: W.from_frequency("1000", 0.5), TypeError, "frequency must be a number, not str"),
        (lambda: W.from_frequency(1000, None), TypeError, "duty_ratio must be a number, not NoneType"),
        (lambda: W.from_period(0.4e-9, 0), ValueError, "4e-10 s rounds to a period of 0 ns"),
        (lambda: W.from_period(0, 0), ValueError, "period_s must be above 0 s, not 0"),
        (lambda: W.from_period(-1e-3, 0), ValueError, "above 0 s"),
        (lambda: W.from_period(1e11, 0), ValueError, "past 2"),
        (lambda: W.from_period(1e-3, 1.0000006e-3), ValueError,
         r"longer than the period \(1000001 ns > 1000000 ns\)"),
        (lambda: W.from_period(1e-3, -1e-9), ValueError, "pulse_s must be 0 s or more"),
        (lambda: W.from_period(1e-3, float("inf")), ValueError, "pulse_s must be a finite number"),
    ],
)
def test_builders_refuse(built, exc, said):
    with pytest.raises(exc, match=said):
        built()


@pytest.mark.parametrize(
    "waveform, hz, ratio, inversed, shown",
    [
        (W(1_000_000, 500_000, 0), 1000.0, 0.5, False, "1 kHz, 50%"),
        (W(20_000_000, 1_500_000, 18_500_000), 50.0, 0.075, True, "50 Hz, 7.5%, inversed"),
        (W(3, 3, 0), 1e9 / 3, 1.0, False, "333.333333 MHz, 100%"),
        (W(100, 30, 10), 1e7, 0.3, False, "10 MHz, 30%"),  # an offset, not at the end
        (W(0, 0, 0), 0.0, 0.0, False, "off"),
    ],
)
def test_read_outs_and_repr(waveform, hz, ratio, inversed, shown):
    assert (waveform.frequency, waveform.duty_ratio, waveform.inversed) == (hz, ratio, inversed)
    period, duty, offset = waveform
    assert repr(waveform) == f"Waveform(period={period}, duty={duty}, offset={offset}; {shown})"
    assert pickle.loads(pickle.dumps(waveform)) == waveform == (period, duty, offset)


def close(channel):
    channel.close()


def leave_with(channel):
    with channel as entered:
        assert entered is channel


@pytest.mark.parametrize("how", [close, leave_with])
@pytest.mark.parametrize(
    "use",
    [lambda ch: ch.set_waveform(100, 50), lambda ch: ch.set(W(100, 50, 0)), lambda ch: ch.get_waveform(),
     lambda ch: ch.hardware_waveform(), lambda ch: ch.round_waveform(100, 50), lambda ch: ch.info(),
     lambda ch: ch.__enter__()],
)
def test_closed_channel_refuses_and_is_free(tree, how, use):
    with quorvin.Chip(0) as chip:
        channel = chip.channel(0)
        channel.set_waveform(100, 50)
        how(channel)
        assert channel.closed and not chip.closed
        channel.close()  # closing again does nothing
        channel.__exit__(None, None, None)
        with pytest.raises(ValueError, match="^channel is closed$"):
            use(channel)
        # Through sysfs it stays exported, its waveform running, and another Chip may take it.
        assert attrs(tree, 0) == ("100", "50", "1", "normal")
        with quorvin.Chip(0) as other:
            other.channel(0).set_waveform(200, 20)
        assert attrs(tree, 0)[:2] == ("200", "20")


def test_one_channel_object_for_one_hold(tree):
    with quorvin.Chip(0) as chip:
        references = sys.getrefcount(chip)
        first = chip.channel(0)
        assert chip.channel(Index(0)) is first and chip.channel(1) is not first
        first.close()
        again = chip.channel(0)
        assert again is not first and first.closed and not again.closed
        assert chip.channel(0) is again
        first.close()  # the closed one cannot give back the new hold
        again.set_waveform(100, 50)
        assert repr(first) == "<quorvin.Channel 0 of pwmchip0, closed>"
        del first, again  # dropped, not closed: the chip keeps the hold
        # Their memory taken by objects of their size: a Channel left on its chip's list once freed would be
        # found there, a bytes object.
        filler = [bytes(15) for _ in range(1000)]
        with pytest.raises(OSError) as raised:
            quorvin.Chip(0).channel(0)
        assert raised.value.errno == errno.EBUSY
        chip.channel(0).set_waveform(100, 60)
        del filler
        assert sys.getrefcount(chip) == references  # each Channel freed has let its chip go, once
    assert attrs(tree, 0)[:2] == ("100", "60")


LISTED = "0: platform/x.pwm, npwm: 2\n pwm-0   (sysfs               ): requested\n"


@pytest.mark.parametrize(
    "listing, read",
    [
        (None, errno.ENOENT),
        ("  actual configuration:     enabled, 29/198 ns, inverse polarity\n", (198, 169, 29)),
        ("  actual configuration: read out error: -EOPNOTSUPP\n", errno.ENODATA),
    ],
)
def test_hardware_waveform_is_the_listings(tree, listing, read):
    if listing is not None:
        (tree.parent.parent / "debugfs-pwm").write_text(LISTED + listing)
    with quorvin.Chip(0) as chip:
        channel = chip.channel(0)
        if isinstance(read, tuple):
            assert channel.hardware_waveform() == read
            return
        with pytest.raises(OSError) as raised:
            channel.hardware_waveform()
        assert raised.value.errno == read
