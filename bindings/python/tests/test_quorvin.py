# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
# The quorvin package on a made-up sysfs chip (scripts/make-pwm-tree: two
# channels, exported): what reaches the attributes, what is refused before
# anything does, and the errno each refusal raises.
import errno
import os
import subprocess

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


class Index:
    """A number that is not an int, as numpy's integers are."""

    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


@pytest.mark.parametrize(
    "args, kwargs, written, read",
    [
        ((50000, 20000), {}, ("50000", "20000", "1", "normal"), (50000, 20000, 0)),
        ((), {"duty": 30000, "offset": 70000, "period": 100000}, ("100000", "70000", "1", "inversed"),
         (100000, 30000, 70000)),
        ((0, 0), {}, ("1000000000", "1000000000", "0", "normal"), (0, 0, 0)),
    ],
)
def test_set_writes_and_reads_back(tree, args, kwargs, written, read):
    with quorvin.Chip("pwmchip0") as chip:
        channel = chip.channel(1)
        channel.set_waveform(*args, **kwargs)
        assert attrs(tree, 1) == written
        assert channel.get_waveform() == quorvin.Waveform(*read)
        assert chip.info(1) == (1, quorvin.Holder.SYSFS, None, read)


@pytest.mark.parametrize(
    "call, exc, err",
    [
        (lambda ch: ch.set_waveform(10, 20), OSError, errno.EINVAL),
        (lambda ch: ch.set_waveform(2**64 - 1, 0), OSError, errno.EINVAL),
        (lambda ch: ch.set_waveform(100, 10, 20), OSError, errno.EOPNOTSUPP),
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
     lambda chip, ch: ch.info(), lambda chip, ch: chip.info(0)],
)
def test_closed_chip_refuses_and_frees_its_channels(tree, use):
    with quorvin.Chip(0) as chip:
        channel = chip.channel(0)
    chip.close()
    assert chip.closed
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
