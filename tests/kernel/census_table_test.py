#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The pwm-sweep authors
"""census-table.py and census-drivers.tsv: the table is whole and well formed,
and the page is made only from a whole run, showing each row's outcome."""

import contextlib
import importlib.util
import io
import os
import sys
import tempfile
import unittest

# No __pycache__ beside the sources.
sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
TABLE = os.path.join(HERE, "census-drivers.tsv")
_spec = importlib.util.spec_from_file_location("census_table", os.path.join(HERE, "census-table.py"))
census_table = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(census_table)


def write(text):
    f = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
    f.write(text)
    f.close()
    return f.name


def row(driver, boot, known="-", blocker="-"):
    return "\t".join([driver, boot, "-", "x,y", "-", "-", "-", "100000/50000", "-", "0", known, "-", blocker])


class Table(unittest.TestCase):
    def test_every_driver_once(self):
        drivers = census_table.read_table(TABLE)
        names = [d["driver"] for d in drivers]
        self.assertEqual(len(names), 76)
        self.assertEqual(len(set(names)), 76)

    def test_rows_are_usable(self):
        for d in census_table.read_table(TABLE):
            with self.subTest(driver=d["driver"]):
                if d["boot"] in ("1", "2"):
                    period, duty, *offset = (int(x) for x in d["period"].split("/"))
                    self.assertTrue(0 < duty <= period)
                    # An offset is the inversed polarity's.
                    self.assertIn(offset, ([], [period - duty]))
                    self.assertTrue(d["channel"].isdigit())
                    for k in filter(None, d["known"].split(" ; ")):
                        r, _, why = k.partition("=")
                        self.assertIn(r, ("bound", "listed", "sweep", "made", "refused", "hang"))
                        self.assertRegex(why, r"^(library|driver): |^[a-z]")
                elif not d["boot"]:
                    self.assertTrue(d["blocker"], "a driver that binds nowhere says what blocks it")

    def test_wrong_column_count_is_refused(self):
        path = write("pwm-a\t1\t-\n")
        with self.assertRaises(SystemExit):
            census_table.read_table(path)


class Page(unittest.TestCase):
    def make(self, outputs):
        table = write(row("pwm-a", "1") + "\n" + row("pwm-b", "1", known="refused=driver: takes 2 ns") + "\n"
                      + row("pwm-c", "2", known="hang=enable never returns") + "\n"
                      + row("pwm-d", "-", blocker="needs SPI") + "\n")
        page = io.StringIO()
        with contextlib.redirect_stdout(page):
            census_table.main(["census-table.py", table] + [write(o) for o in outputs])
        return {line.split(" | ")[0][2:]: line for line in page.getvalue().splitlines()
                if line.startswith("| pwm-")}

    RUN1 = """7.3.4+deb13-arm64
PASS pwm-a-bound
PASS pwm-a-listed
PASS pwm-a-sweep
FAIL pwm-a-made: answer: got 'EINVAL', want 'ok'
PASS pwm-a-refused
CENSUS driver=pwm-a boot=1 bind=yes chip=0 device=a.pwm iface=sysfs npwm=2 channel=0 period=100000/50000 shortest=10
PASS pwm-b-bound
PASS pwm-b-listed
PASS pwm-b-sweep
PASS pwm-b-made
XFAIL pwm-b-refused: 2/1/0: got ok (known: driver: takes 2 ns)
CENSUS driver=pwm-b boot=1 bind=yes chip=1 device=b.pwm iface=/dev/pwmchip1 npwm=1 channel=0 period=100000/50000
"""
    RUN2 = """PASS pwm-c-bound
SKIP pwm-c: its checks did not return within 10 s: enable never returns
CENSUS driver=pwm-c boot=2 bind=yes chip=0 device=c hangs=yes
"""

    def test_outcomes(self):
        rows = self.make([self.RUN1, self.RUN2])
        self.assertIn("| made: FAIL |", rows["pwm-a"])
        self.assertIn("`/dev/pwmchipN`", rows["pwm-b"])
        self.assertIn("| refused: XFAIL |", rows["pwm-b"])
        self.assertIn("refused: driver: takes 2 ns", rows["pwm-b"])
        self.assertIn("| hangs (skipped) |", rows["pwm-c"])
        self.assertIn("| no |", rows["pwm-d"])
        self.assertIn("needs SPI", rows["pwm-d"])

    def test_a_boot_missing_is_refused(self):
        with self.assertRaises(SystemExit):
            self.make([self.RUN1])


if __name__ == "__main__":
    unittest.main()
