#!/usr/bin/env python3
"""The default map's relief preparation mends a run of displaced samples
(the fault of the ETOPO5 file near 81 S) and leaves real relief alone:
ridges and trenches one sample wide, a cliff between two rows, and runs too
short to be a fault."""
import array
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'default-map'))
import convert_sources as cs  # noqa: E402

NLAT, NLON = 8, 600


def grid():
    # A gentle slope north to south, so the rows either side of any row agree.
    return array.array('h', [1000 + 10 * r for r in range(NLAT) for _ in range(NLON)])


def put(z, row, cols, value):
    for c in cols:
        z[row * NLON + c] = value


def main():
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append('%s: got %r, want %r' % (what, got, want))

    z = grid()
    # The fault: the end of row 3 and the start of row 4 displaced, with a
    # few samples inside the run that happen to match.
    put(z, 3, range(350, NLON), 3000)
    put(z, 3, range(400, 440), 1030)
    put(z, 4, range(0, 250), -2000)
    # Real relief: isolated peaks, a cliff (rows 5 and 6 differ), a short run.
    put(z, 1, range(300, 600, 50), 4000)
    put(z, 6, range(0, NLON), 3000)
    put(z, 1, range(100, 250), 2500)
    for r in range(7, NLAT):
        put(z, r, range(0, NLON), 3000)
    spans = cs.displaced_spans(z, NLAT, NLON)
    expect('displaced runs', spans, [(3, 350, NLON - 1), (4, 0, 249)])
    for row, first, last in spans:
        cs.mend_span(z, NLON, row, first, last)
    expect('row 3 mended', set(z[3 * NLON + 350:4 * NLON]), {1030})
    expect('row 4 mended', set(z[4 * NLON:4 * NLON + 250]), {1040})
    expect('peaks kept', z[1 * NLON + 350], 4000)
    expect('cliff kept', z[6 * NLON], 3000)
    expect('short run kept', z[1 * NLON + 100], 2500)
    expect('nothing left to mend', cs.displaced_spans(z, NLAT, NLON), [])
    for f in failures:
        print('FAIL', f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
