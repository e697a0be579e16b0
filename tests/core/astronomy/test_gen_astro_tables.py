#!/usr/bin/env python3
"""The table generator refuses damaged or incomplete term tables.

    test_gen_astro_tables.py GENERATOR DATA_DIR
"""
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

GENERATOR, DATA = sys.argv[1], Path(sys.argv[2])
failures = []


def run(data_dir, out):
    return subprocess.run([sys.executable, GENERATOR, str(data_dir), str(out)],
                          capture_output=True, text=True, timeout=120)


def damaged(name, edit, expect):
    """Copies the data, applies edit to one file's lines, expects a refusal."""
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        for f in DATA.iterdir():
            if f.suffix == ".txt":
                shutil.copyfile(f, tmp / f.name)
        path = tmp / name
        lines = path.read_text().splitlines(keepends=True)
        path.write_text("".join(edit(lines)))
        out = tmp / "out.cpp"
        r = run(tmp, out)
        ok = r.returncode != 0 and expect in r.stderr and not out.exists()
        if not ok:
            failures.append(f"{name}: expected a refusal mentioning '{expect}', "
                            f"got rc={r.returncode} stderr={r.stderr.strip()!r}")


def drop_line(prefix):
    def edit(lines):
        for i, line in enumerate(lines):
            if line.startswith(prefix):
                return lines[:i] + lines[i + 1:]
        raise AssertionError(prefix)
    return edit


def replace_line(prefix, new):
    def edit(lines):
        return [new + "\n" if line.startswith(prefix) else line for line in lines]
    return edit


# The intact data generates, twice the same.
with tempfile.TemporaryDirectory() as tmp:
    a, b = Path(tmp) / "a.cpp", Path(tmp) / "b.cpp"
    if run(DATA, a).returncode != 0 or run(DATA, b).returncode != 0:
        failures.append("the published tables were refused")
    elif a.read_text() != b.read_text():
        failures.append("two runs gave different sources")
    elif "kEarthL0[559]" not in a.read_text() or "kEarthR5[3]" not in a.read_text():
        failures.append("series sizes missing from the generated source")

# A missing last term of L3 renumbers nothing but shortens the series.
damaged("vsop87d_earth.txt", drop_line("L 3 21 "), "L3 has 21 terms, expected 22")
# A term in the middle gone: the indices no longer follow.
damaged("vsop87d_earth.txt", drop_line("R 0 100 "), "index 101 out of order")
# A series that VSOP87D does not have for the Earth.
damaged("vsop87d_earth.txt", lambda l: l + ["B 5 0 0.1 1.0 2.0\n"], "B has no series of power 5")
damaged("vsop87d_earth.txt", replace_line("L 0 5 ", "L 0 5 0.0 1.0 2.0"), "zero amplitude")
damaged("vsop87d_earth.txt", replace_line("L 0 5 ", "L 0 5 12.x 1.0 2.0"), "is not a number")
damaged("vsop87d_earth.txt", replace_line("L 0 5 ", "L 0 5 12.0 1.0"), "expected 6 columns")
damaged("moon_latitude.txt", lambda l: l[:-1], "59 rows, expected 60")
damaged("moon_longitude_distance.txt", lambda l: l[:3] + ["0 0 300 0 1 1\n"] + l[4:], "out of range")
damaged("nutation_iau1980_31.txt", lambda l: l + ["0 0 0 0 3 -1 0 0 0\n"], "32 rows, expected 31")

for f in failures:
    print("FAIL:", f)
print(f"{9 + 1 - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
