"""Runs the Python example of astro/README.md against the built library
and checks what it prints against the library's own answer."""
import ctypes
import datetime
import math
import os
import re
import subprocess
import sys

readme, library = sys.argv[1], sys.argv[2]

with open(readme, encoding="utf-8") as f:
    blocks = re.findall(r"```python\n(.*?)```", f.read(), re.S)
if len(blocks) != 1:
    sys.exit(f"expected one python example in {readme}, found {len(blocks)}")

env = dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(library))
run = subprocess.run([sys.executable, "-c", blocks[0]], env=env,
                     capture_output=True, text=True, timeout=60)
if run.returncode != 0:
    sys.exit(f"example failed:\n{run.stderr}")
print(run.stdout, end="")

line = re.fullmatch(
    r"(\d{4})-(\d\d)-(\d\d) at (-?[\d.]+), (-?[\d.]+): astronomical twilight "
    r"begins (\d\d:\d\d|none) UT, ends (\d\d:\d\d|none) UT\n", run.stdout)
if not line:
    sys.exit(f"unexpected output: {run.stdout!r}")
date = datetime.date(*map(int, line.group(1, 2, 3)))
today = datetime.datetime.now(datetime.timezone.utc).date()
if date not in (today, today - datetime.timedelta(days=1)):
    sys.exit(f"example printed {date}, today is {today}")

lat, lon = float(line.group(4)), float(line.group(5))
astro = ctypes.CDLL(library)
for position, name in ((6, "morning_twilight"), (7, "evening_twilight")):
    fn = getattr(astro, name)
    fn.restype = ctypes.c_double
    fn.argtypes = [ctypes.c_int32] * 3 + [ctypes.c_double] * 2
    hours = fn(date.year, date.month, date.day, lat, lon)
    if math.isnan(hours):
        want = "none"
    else:
        minutes = round(hours * 60) % 1440
        want = f"{minutes // 60:02d}:{minutes % 60:02d}"
    if line.group(position) != want:
        sys.exit(f"{name}: example printed {line.group(position)}, library gives {want}")
