#!/usr/bin/env python3
"""Generates core/astronomy/astro_tables.cpp from the plain-text term tables.

The tables are long and easy to get wrong by hand, so they are only ever
produced from the published text files, and the generator refuses files
whose series sizes differ from the published ones.

    gen_astro_tables.py DATA_DIR OUTPUT.cpp            write the source
    gen_astro_tables.py --check DATA_DIR OUTPUT.cpp    exit 1 when OUTPUT differs
"""
import re
import sys
from decimal import Decimal, localcontext
from fractions import Fraction
from pathlib import Path

# Published sizes of the VSOP87D Earth series, per coordinate and power of tau.
VSOP_SIZES = {
    "L": [559, 341, 142, 22, 11, 5],
    "B": [184, 99, 49, 11, 5],
    "R": [526, 292, 139, 27, 10, 3],
}
MAX_POWERS = 6
MOON_ROWS = 60
NUTATION_ROWS = 31

NUMBER = re.compile(r"^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$")
INTEGER = re.compile(r"^[+-]?\d+$")


class TableError(Exception):
    pass


def rows(path):
    """Yields (line number, fields) of the data lines of a table file."""
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            yield number, line.split()


def real(text, where):
    if not NUMBER.match(text):
        raise TableError(f"{where}: '{text}' is not a number")
    return text


def integer(text, where, lo=-(2**31), hi=2**31 - 1):
    if not INTEGER.match(text):
        raise TableError(f"{where}: '{text}' is not an integer")
    value = int(text)
    if not lo <= value <= hi:
        raise TableError(f"{where}: {value} is out of range [{lo}, {hi}]")
    return value


def long_double(text):
    """A C++ long double literal for a decimal number, digits kept as published."""
    if "." not in text and "e" not in text.lower():
        text += ".0"
    return text + "L"


def read_vsop(path):
    series = {c: [[] for _ in sizes] for c, sizes in VSOP_SIZES.items()}
    for number, fields in rows(path):
        where = f"{path.name}:{number}"
        if len(fields) != 6:
            raise TableError(f"{where}: expected 6 columns, found {len(fields)}")
        coord, power, index = fields[0], fields[1], fields[2]
        if coord not in VSOP_SIZES:
            raise TableError(f"{where}: unknown coordinate '{coord}'")
        power = integer(power, where, 0, 5)
        if power >= len(VSOP_SIZES[coord]):
            raise TableError(f"{where}: {coord} has no series of power {power}")
        terms = series[coord][power]
        if integer(index, where) != len(terms):
            raise TableError(f"{where}: index {index} out of order, expected {len(terms)}")
        a, b, c = (real(x, where) for x in fields[3:6])
        # A zero amplitude would end the summation early.
        if float(a) == 0.0:
            raise TableError(f"{where}: zero amplitude")
        terms.append((a, b, c))
    for coord, sizes in VSOP_SIZES.items():
        for power, size in enumerate(sizes):
            found = len(series[coord][power])
            if found != size:
                raise TableError(f"{path.name}: {coord}{power} has {found} terms, expected {size}")
    return series


def read_fixed(path, columns, expected_rows, ranges):
    table = []
    for number, fields in rows(path):
        where = f"{path.name}:{number}"
        if len(fields) != columns:
            raise TableError(f"{where}: expected {columns} columns, found {len(fields)}")
        table.append([integer(f, where, *ranges[i]) for i, f in enumerate(fields)])
    if len(table) != expected_rows:
        raise TableError(f"{path.name}: {len(table)} rows, expected {expected_rows}")
    return table


BYTE = (-128, 127)
INT32 = (-(2**31), 2**31 - 1)


TRIG_STEPS = 128  # the fast sine and cosine tabulate j * pi / 64, j < 128


def pi_decimal():
    """pi to 60 digits (Machin's formula)."""
    with localcontext() as ctx:
        ctx.prec = 70

        def arctan_inv(n):
            x = Decimal(1) / n
            total, term, k, sign = Decimal(0), x, 1, 1
            while term != 0:
                total += sign * term / k
                term /= n * n
                k += 2
                sign = -sign
            return total

        return 4 * (4 * arctan_inv(5) - arctan_inv(239))


def sin_cos_decimal(x):
    with localcontext() as ctx:
        ctx.prec = 70
        s, c = Decimal(0), Decimal(0)
        term, n = Decimal(1), 0  # x^n / n!
        while abs(term) > Decimal(10) ** -65:
            if n % 4 == 0:
                c += term
            elif n % 4 == 1:
                s += term
            elif n % 4 == 2:
                c -= term
            else:
                s -= term
            n += 1
            term = term * x / n
        return s, c


def long_double_hex(value):
    """The long double (64-bit mantissa) nearest to value, as a hex literal."""
    f = Fraction(value)
    if f == 0:
        return "0.0L"
    sign = "-" if f < 0 else ""
    f = abs(f)
    e = f.numerator.bit_length() - f.denominator.bit_length()
    while Fraction(2) ** e > f:
        e -= 1
    while Fraction(2) ** (e + 1) <= f:
        e += 1
    scale = 63 - e  # mantissa in [2^63, 2^64)
    m = f * Fraction(2) ** scale
    q, r = divmod(m.numerator, m.denominator)
    if 2 * r > m.denominator or (2 * r == m.denominator and q % 2):
        q += 1
    if q == 2**64:
        q //= 2
        scale -= 1
    return f"{sign}0x{q:016x}p{-scale}L"


def trig_table():
    pi = pi_decimal()
    lines = []
    for j in range(TRIG_STEPS):
        with localcontext() as ctx:
            ctx.prec = 70
            s, c = sin_cos_decimal(pi * j / 64)
            # The zeros of sine and cosine come out as ~1e-60; they are 0.
            s, c = (Decimal(0) if abs(v) < Decimal(10) ** -50 else v for v in (s, c))
        lines.append(f"    {{{long_double_hex(c)}, {long_double_hex(s)}}},  // j = {j}")
    return lines


def generate(data_dir):
    data_dir = Path(data_dir)
    vsop = read_vsop(data_dir / "vsop87d_earth.txt")
    moon_lr = read_fixed(data_dir / "moon_longitude_distance.txt", 6, MOON_ROWS,
                         [BYTE] * 4 + [INT32] * 2)
    moon_b = read_fixed(data_dir / "moon_latitude.txt", 5, MOON_ROWS, [BYTE] * 4 + [INT32])
    nutation = read_fixed(data_dir / "nutation_iau1980_31.txt", 9, NUTATION_ROWS,
                          [BYTE] * 5 + [INT32] * 4)

    out = []
    w = out.append
    w("// Generated by tools/gen_astro_tables/gen_astro_tables.py from the published")
    w("// term tables. Do not edit: change the generator or the data and regenerate.")
    w('#include "core/astronomy/astro_tables.h"')
    w("")
    w("namespace astro_tables {")
    w("")
    w("// VSOP87D Earth: A (1e-8 rad or au), B (rad), C (rad per Julian millennium).")
    names = {"L": "Longitude", "B": "Latitude", "R": "Radius"}
    for coord in ("L", "B", "R"):
        for power, terms in enumerate(vsop[coord]):
            w(f"static const VSOPTerm kEarth{coord}{power}[{len(terms)}] = {{")
            for a, b, c in terms:
                w(f"    {{{long_double(a)}, {long_double(b)}, {long_double(c)}}},")
            w("};")
        w("")
        entries = ", ".join(f"{{kEarth{coord}{p}, {len(t)}}}" for p, t in enumerate(vsop[coord]))
        padding = ", {nullptr, 0}" * (MAX_POWERS - len(vsop[coord]))
        w(f"const VSOPSeries kEarth{names[coord]}[kVSOPPowers] = {{{entries}{padding}}};")
        w("")

    w("// Moon, longitude and distance: multipliers of D, M, M', F.")
    w("const LunarArgument kMoonLongitudeDistanceArgs[kMoonTerms] = {")
    for r in moon_lr:
        w(f"    {{{r[0]}, {r[1]}, {r[2]}, {r[3]}}},")
    w("};")
    w("// Longitude, sine terms, 1e-6 degree.")
    w("const std::int32_t kMoonLongitudeCoefs[kMoonTerms] = {")
    for r in moon_lr:
        w(f"    {r[4]},")
    w("};")
    w("// Distance, cosine terms, 1e-3 km.")
    w("const std::int32_t kMoonDistanceCoefs[kMoonTerms] = {")
    for r in moon_lr:
        w(f"    {r[5]},")
    w("};")
    w("")
    w("// Moon, latitude: multipliers of D, M, M', F.")
    w("const LunarArgument kMoonLatitudeArgs[kMoonTerms] = {")
    for r in moon_b:
        w(f"    {{{r[0]}, {r[1]}, {r[2]}, {r[3]}}},")
    w("};")
    w("// Latitude, sine terms, 1e-6 degree.")
    w("const std::int32_t kMoonLatitudeCoefs[kMoonTerms] = {")
    for r in moon_b:
        w(f"    {r[4]},")
    w("};")
    w("")
    w("// IAU 1980 nutation, 31 largest terms: d, m, m', f, omega; S, S1, C, C1.")
    w("const NutationTerm kNutation[kNutationTerms] = {")
    for r in nutation:
        w("    {" + ", ".join(str(x) for x in r) + "},")
    w("};")
    w("")
    w("}  // namespace astro_tables")
    w("")
    w("namespace ah_math_detail {")
    w("")
    w("// Correctly rounded cosine and sine of j * pi / 64.")
    w(f"const TrigEntry kTrigTable[{TRIG_STEPS}] = {{")
    out.extend(trig_table())
    w("};")
    w("")
    w("}  // namespace ah_math_detail")
    return "\n".join(out) + "\n"


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    if len(args) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    data_dir, output = args
    try:
        text = generate(data_dir)
    except (TableError, OSError) as e:
        print(f"gen_astro_tables: {e}", file=sys.stderr)
        return 1
    output = Path(output)
    if check:
        current = output.read_text(encoding="utf-8") if output.exists() else ""
        if current != text:
            print(f"gen_astro_tables: {output} is not what the tables generate; regenerate it",
                  file=sys.stderr)
            return 1
        return 0
    output.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
