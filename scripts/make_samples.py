#!/usr/bin/env python3
"""Writes the bundled sample spectra into data/samples/ (deterministic).

Photoluminescence-like curves: a few Gaussian peaks on a sloping background
with noise, over 1.2 to 3.2 eV. A temperature series T010K.dat ... T300K.dat
(the parameter in the name), a three-column file and files with comments.
"""
import math
import os
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "samples")


class Lcg:
    """A small linear congruential generator, the same on every machine."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def uniform(self):
        self.state = (6364136223846793005 * self.state + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        return ((self.state >> 11) & ((1 << 53) - 1)) / float(1 << 53)

    def gauss(self):
        u1 = max(self.uniform(), 1e-12)
        u2 = self.uniform()
        return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def fmt(v):
    """Seven significant digits, as Varnix writes numbers."""
    if v == 0:
        return "0"
    text = "%.7g" % v
    if "e" in text:
        mant, exp = text.split("e")
        if "." in mant:
            mant = mant.rstrip("0").rstrip(".")
        return "%sE%d" % (mant, int(exp))
    return text


def spectrum(temperature, points, rng):
    """(x, y) of a PL spectrum at a temperature in kelvin."""
    # Band gap shrinks with temperature (Varshni-like); peaks broaden and weaken.
    gap = 2.55 - 4.5e-4 * temperature ** 2 / (temperature + 210.0)
    width = 0.025 + 0.00018 * temperature
    quench = 1.0 / (1.0 + 0.012 * temperature)
    peaks = [
        (gap, width, 1000.0 * quench),
        (gap - 0.11, width * 1.6, 380.0 * quench ** 1.4),
        (1.85 - 1.0e-4 * temperature, 0.09 + 0.0002 * temperature, 160.0 * quench ** 0.6),
    ]
    data = []
    for i in range(points):
        x = 1.2 + 2.0 * i / (points - 1)
        y = 20.0 + 6.0 * (x - 1.2)
        for centre, w, height in peaks:
            y += height * math.exp(-0.5 * ((x - centre) / w) ** 2)
        y += rng.gauss() * (2.0 + 0.01 * y)
        data.append((x, y))
    return data


def write(name, lines, crlf=False):
    end = "\r\n" if crlf else "\n"
    with open(os.path.join(OUT, name), "w", newline="") as f:
        for line in lines:
            f.write(line + end)


def main():
    os.makedirs(OUT, exist_ok=True)
    temperatures = [10, 20, 30, 50, 75, 100, 125, 150, 175, 200, 250, 300]
    for k, t in enumerate(temperatures):
        rng = Lcg(1000 + t)
        points = 1000 + 333 * k
        lines = ['"PL spectrum, sample A-17, T = %d K' % t,
                 '"excitation 325 nm, 2 mW; integration 1 s']
        lines += ["%s %s" % (fmt(x), fmt(y)) for x, y in spectrum(t, points, rng)]
        write("T%03dK.dat" % t, lines, crlf=(t == 300))
    # Three columns: x, the spectrum at 10 K and at 300 K on one grid.
    rng = Lcg(77)
    cold = spectrum(10, 2000, rng)
    warm = spectrum(300, 2000, rng)
    lines = ['"two detectors: column 2 at 10 K, column 3 at 300 K']
    lines += ["%s\t%s\t%s" % (fmt(c[0]), fmt(c[1]), fmt(w[1])) for c, w in zip(cold, warm)]
    write("two_detectors.dat", lines)
    # A long, single-peak reference with a header written by another program.
    rng = Lcg(5)
    lines = ["Spectrometer export", "Operator: lab 3", '"Columns: energy (eV) and counts']
    lines += ["%s %s" % (fmt(x), fmt(y)) for x, y in spectrum(150, 5000, rng)]
    write("reference_5000.dat", lines)
    return 0


if __name__ == "__main__":
    sys.exit(main())
