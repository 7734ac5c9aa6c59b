#!/usr/bin/env python3
"""Turns the public data sets of the default map into inputs the orvex
command reads: raw grids with their parameter files.

  convert_sources.py etopo ETOPO5.cdf OUT.dem      relief, 5 arc-minutes
  convert_sources.py ppm IMAGE.ppm OUT.rgb         whole-Earth colour image

Only the Python standard library is used.
"""
import array
import struct
import sys

# ---- netCDF classic (the ETOPO5 file of ferret-datasets) ----------------

NC_SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 4, 6: 8}
NC_CODES = {3: 'h', 4: 'i', 5: 'f', 6: 'd'}


class NetCDF:
    """The header of a classic netCDF file: dimensions and variables."""

    def __init__(self, data):
        if data[:3] != b'CDF' or data[3] not in (1, 2):
            raise ValueError('not a classic netCDF file')
        self.data = data
        self.offset_size = 4 if data[3] == 1 else 8
        self.pos = 8
        self.dims = [(name, size) for name, size in self._list(self._dim)]
        self._list(self._attr)
        self.vars = dict(self._list(self._var))

    def _u32(self):
        v = struct.unpack_from('>I', self.data, self.pos)[0]
        self.pos += 4
        return v

    def _name(self):
        n = self._u32()
        s = self.data[self.pos:self.pos + n].decode('latin-1')
        self.pos += (n + 3) // 4 * 4
        return s

    def _list(self, item):
        tag, count = self._u32(), self._u32()
        if tag == 0:
            return []
        return [item() for _ in range(count)]

    def _dim(self):
        return self._name(), self._u32()

    def _attr(self):
        name, kind, n = self._name(), self._u32(), self._u32()
        self.pos += (n * NC_SIZES[kind] + 3) // 4 * 4
        return name, None

    def _var(self):
        name = self._name()
        dimids = [self._u32() for _ in range(self._u32())]
        self._list(self._attr)
        kind, _vsize = self._u32(), self._u32()
        fmt = '>I' if self.offset_size == 4 else '>Q'
        begin = struct.unpack_from(fmt, self.data, self.pos)[0]
        self.pos += self.offset_size
        shape = [self.dims[d][1] for d in dimids]
        return name, (kind, shape, begin)

    def values(self, name):
        kind, shape, begin = self.vars[name]
        count = 1
        for s in shape:
            count *= s
        a = array.array(NC_CODES[kind])
        a.frombytes(self.data[begin:begin + count * a.itemsize])
        if sys.byteorder == 'little':
            a.byteswap()
        return a, shape


def write_pf(path, lines):
    with open(path + '.pf', 'w') as f:
        for key, value in lines:
            f.write('%s %s\n' % (key, value))


def convert_etopo(cdf_path, out_path):
    with open(cdf_path, 'rb') as f:
        nc = NetCDF(f.read())
    xs, _ = nc.values('ETOPO05_X')
    ys, _ = nc.values('ETOPO05_Y')
    z, (nlat, nlon) = nc.values('ROSE')
    # Rows are written from the north, every one of them, both poles
    # included: orvex build cuts what a decimation or tiling cannot use.
    south_first = ys[0] < ys[-1]
    rows = range(nlat - 1, -1, -1) if south_first else range(0, nlat)
    out = array.array('h')
    for r in rows:
        out.extend(int(round(v)) for v in z[r * nlon:(r + 1) * nlon])
    for row, first, last in displaced_spans(out, nlat, nlon):
        mend_span(out, nlon, row, first, last)
        print('%s: row %d (latitude %.4f) columns %d-%d held samples displaced from elsewhere; '
              'replaced by the mean of the rows either side' % (out_path, row, 90.0 - row / 12.0, first, last))
    if sys.byteorder != 'little':
        out.byteswap()
    with open(out_path, 'wb') as f:
        out.tofile(f)
    dlon = (xs[-1] - xs[0]) / (len(xs) - 1)
    write_pf(out_path, [('lat', max(ys[0], ys[-1])), ('dlat', -1.0 / 12),
                        ('lon', xs[0]), ('dlon', 1.0 / round(1.0 / dlon)), ('nlat', nlat), ('nlon', nlon)])
    print('%s: %d x %d samples' % (out_path, nlon, nlat))


# The ETOPO5 file carries one known fault: near 81.2 S a run of 1,280 samples
# (the end of one row and the start of the next) holds values displaced from
# elsewhere, which shading draws as a line across Antarctica. Such a run
# differs by hundreds of metres from both rows either side while those two
# agree; real relief does that only at scattered samples (ridges, trenches).
DISPLACED_METRES = 500
DISPLACED_MERGE_GAP = 64      # columns between flagged samples of one run
DISPLACED_MIN_FLAGGED = 200   # flagged samples that make a run a fault


def displaced_spans(z, nlat, nlon):
    """(row, first column, last column) of every displaced run."""
    spans = []
    for r in range(1, nlat - 1):
        above, here, below = (z[(r + k) * nlon:(r + k + 1) * nlon] for k in (-1, 0, 1))
        flagged = [c for c in range(nlon)
                   if abs(2 * here[c] - above[c] - below[c]) > 2 * DISPLACED_METRES
                   and abs(2 * here[c] - above[c] - below[c]) > 6 * abs(above[c] - below[c]) + 200]
        run = []
        for c in flagged + [None]:
            if c is not None and (not run or c - run[-1] <= DISPLACED_MERGE_GAP):
                run.append(c)
                continue
            if len(run) >= DISPLACED_MIN_FLAGGED:
                spans.append((r, run[0], run[-1]))
            run = [c] if c is not None else []
    return spans


def mend_span(z, nlon, row, first, last):
    for c in range(first, last + 1):
        z[row * nlon + c] = int(round((z[(row - 1) * nlon + c] + z[(row + 1) * nlon + c]) / 2.0))


# ---- binary PPM (the colour image, decoded from JPEG by djpeg) -----------

def ppm_header(data):
    fields, pos = [], 2
    if data[:2] != b'P6':
        raise ValueError('not a binary PPM image')
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos)
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(int(data[start:pos]))
    return fields, pos + 1


def convert_ppm(ppm_path, out_path):
    with open(ppm_path, 'rb') as f:
        data = f.read()
    (width, height, maxval), start = ppm_header(data)
    if maxval != 255:
        raise ValueError('only 8-bit images are handled')
    with open(out_path, 'wb') as f:
        f.write(data[start:start + width * height * 3])
    # A whole-Earth image: columns from 180 W, rows from the north pole.
    write_pf(out_path, [('lat', 90.0), ('dlat', -180.0 / height), ('lon', -180.0), ('dlon', 360.0 / width),
                        ('nlat', height), ('nlon', width)])
    print('%s: %d x %d pixels' % (out_path, width, height))


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == 'etopo':
            convert_etopo(argv[2], argv[3])
        elif len(argv) == 4 and argv[1] == 'ppm':
            convert_ppm(argv[2], argv[3])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError, KeyError, struct.error) as e:
        sys.stderr.write('convert_sources.py: %s\n' % e)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
