#!/usr/bin/env python3
"""Prints the literal trigonometric tables of the extraction engine (TabSin, TabTan, TabLog)
as C++ initialiser rows, ready to paste into extraction/engine/FixedMath.h.

Rounding is to the nearest integer with halves upward. TabTan's deliberate deviations are
applied after the formula; the engine's tests recompute every table in double and check both
the formula entries and the deviations.
"""
import math

TAN_DEVIATIONS = {1: 1, 76: 30, 82: 33}


def round_half_up(v):
    return int(math.floor(v + 0.5))


def rows(name, values, per_row):
    print(f"// {name}")
    for i in range(0, len(values), per_row):
        chunk = ", ".join(f"{v:5d}" for v in values[i:i + per_row])
        print(f"    {chunk}, // {i}")


def main():
    sin = [round_half_up(8192 * math.sin(math.radians(k))) for k in range(91)]
    tan = [round_half_up(math.degrees(math.atan((i - 0.5) / 128))) for i in range(130)]
    for i, v in TAN_DEVIATIONS.items():
        tan[i] = v
    log = [0] + [round_half_up(2048 * math.log(i) / math.log(255)) for i in range(1, 256)]
    rows("TabSin", sin, 10)
    rows("TabTan", tan, 10)
    rows("TabLog", log, 16)


if __name__ == "__main__":
    main()
