#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/ (run from the repository root).

The engine fuzzer reads its input with libFuzzer's FuzzedDataProvider, which
takes integers from the end of the data, most significant byte first; this
script writes scripted sessions in that encoding, so the fuzzer starts from
the calls the window really makes. Keep it in step with engine_fuzz.cpp.
"""
import math
import os
import struct

NICE = [0.0, -0.0, 1e-5, 1e-6, 0.001, 293.15, 1e-4, 7.2e20, 1.43e-10, 1.5e-9, 1.0, 2.0, 0.5,
        10.5, -1e-5, -1.0, 1e18, 1e21, 1e30, 1e100, 1e300, 1e-300, 2.0**31, 'max', 'min',
        'denorm', 'inf', '-inf', 'nan', '-max', 1e308, -1e308]


class Encoder:
    def __init__(self):
        self.consumed = []  # bytes in the order they are consumed (from the end)

    def integral(self, value, lo, hi):
        span, result, shift = hi - lo, value - lo, 0
        assert 0 <= result <= span
        chunks = []
        while shift < 64 and (span >> shift) > 0:
            chunks.append(0)
            shift += 8
        for k in range(len(chunks)):  # first consumed byte is the most significant
            chunks[k] = (result >> (8 * (len(chunks) - 1 - k))) & 0xFF
        self.consumed += chunks

    def double(self, x):
        if isinstance(x, str) or x in NICE and not (x == 0 and math.copysign(1, x) < 0):
            self.integral(1, 0, 3)
            self.integral(NICE.index(x), 0, len(NICE) - 1)
        else:  # raw bit pattern
            self.integral(0, 0, 3)
            self.integral(struct.unpack('<Q', struct.pack('<d', x))[0], 0, 2**64 - 1)

    def op(self, code):
        self.integral(code, 0, 7)

    def index(self, value, count):
        if 0 <= value < count:
            self.integral(0, 0, 4)
            self.integral(value, 0, max(count - 1, 0))
        else:
            self.integral(4, 0, 4)
            self.integral(value, -2**31, 2**31 - 1)

    def data(self):
        return bytes(reversed(self.consumed))


def session(streams=None):
    e = Encoder()
    if streams:
        e.integral(0, 0, 7)
        for s in streams:
            e.integral(s, -2**31, 2**31 - 1)
    else:
        e.integral(1, 0, 7)
    return e


def params(e, *values):
    e.op(0)
    for v in values:
        e.double(v)


def add(e, c, d, a):
    e.op(2)
    for v in (c, d, a):
        e.double(v)


def replace(e, i, count, c, d, a):
    e.op(3)
    e.index(i, count)
    for v in (c, d, a):
        e.double(v)


def steps(e, n):
    e.op(5)
    e.integral(n, 1, 4)


def main():
    seeds = {}
    # The window's defaults with a smaller cube, as a run goes.
    e = session()
    params(e, 2e-6, 1e-6, 0.001, 293.15, 1e-3)
    add(e, 5e21, 1.43e-10, 1.5e-9)
    steps(e, 4)
    replace(e, 0, 1, 4e21, 2e-10, 1e-9)
    steps(e, 3)
    e.op(4)
    e.index(0, 1)
    steps(e, 1)
    seeds['small_cube_session'] = e
    # The default geometry: a species too large for the fuzzer is skipped, 1e19 is not.
    e = session()
    params(e, 1e-5, 1e-6, 0.001, 293.15, 1e-4)
    add(e, 7.2e20, 1.43e-10, 1.5e-9)
    add(e, 1e19, 1.43e-10, 1.5e-9)
    add(e, 1e30, 1.43e-10, 1.5e-9)
    e.op(6)
    e.double(1.5e-9)
    e.op(7)
    e.index(0, 1)
    steps(e, 2)
    seeds['default_geometry'] = e
    # Degenerate parameters: inner rib above outer, negative time step, no inner cube.
    e = session()
    params(e, 1e-6, 1e-5, 0.001, 293.15, 1e-4)
    add(e, 7.2e20, 1.43e-10, 1.5e-9)
    params(e, 1e-5, 1e-6, 0.001, 293.15, -1e-4)
    add(e, 1e19, 1.43e-10, 1.5e-9)
    params(e, 1e-5, 0.0, 0.0, 0.0, 1e-4)
    add(e, 1e19, 1.43e-10, 1.5e-9)
    steps(e, 2)
    e.op(6)
    e.double(0.0)
    seeds['degenerate_parameters'] = e
    # Nothing set yet, then out-of-range indices.
    e = session()
    add(e, 7.2e20, 1.43e-10, 1.5e-9)
    steps(e, 1)
    replace(e, 1, 1, 1.0, 1.0, 1.0)
    e.op(4)
    e.index(-1, 1)
    e.op(7)
    e.index(2**31 - 1, 1)
    seeds['no_parameters'] = e
    # Three species, the middle one removed, ribs changed under running molecules.
    e = session()
    params(e, 2.0, 1.0, 0.001, 293.15, 0.01)
    add(e, 10.5, 1e-3, 1e-9)
    add(e, 20.25, 2e-3, 2e-9)
    add(e, 3.0, 3e-3, 3e-9)
    steps(e, 2)
    e.op(4)
    e.index(1, 3)
    params(e, 1.0, 2.0, 0.001, 293.15, 0.01)
    steps(e, 2)
    seeds['three_species'] = e
    # Streams that reach the edge draws: state 0 and 2^31 - 1.
    e = session([0, 2**31 - 1, 1, -1])
    params(e, 2.0, 1.9, 0.001, 293.15, 0.01)
    add(e, 10.0, 1e-3, 1e-9)
    steps(e, 4)
    seeds['edge_streams'] = e
    # Concentrations near the largest double, accepted while the volumes are 0.
    e = session()
    add(e, 'max', 1e-10, 1e-9)
    add(e, '-max', 1e-10, 1e-9)
    add(e, 'max', 1e-10, 1e-9)
    e.op(4)
    e.index(1, 3)
    steps(e, 1)
    seeds['huge_concentrations'] = e

    out = 'fuzz/corpus/engine_fuzz'
    os.makedirs(out, exist_ok=True)
    for name, enc in seeds.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(enc.data())

    # Text fuzzer: byte 0 picks the separator (odd: ','), then the text; bytes
    # 1..8 double as the bits of a number to format.
    texts = {
        'defaults_dot': b'\x001E-5',
        'defaults_comma': b'\x01293,15',
        'blanks_sign_exponent': b'\x00  -7.2e+20  ',
        'wrong_separator': b'\x00293,15',
        'overflow': b'\x001.8E308',
        'digits_as_double': b'\x00' + struct.pack('<d', 7.2e20),
        'tiny_double': b'\x01' + struct.pack('<d', 1.5e-9),
    }
    out = 'fuzz/corpus/text_to_number_fuzz'
    os.makedirs(out, exist_ok=True)
    for name, data in texts.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
