#!/usr/bin/env python3
"""Turns the public data sets of the default map into inputs the orvex
command reads: raw grids with their parameter files, and GSHHS files.

  convert_sources.py etopo ETOPO5.cdf OUT.dem      relief, 5 arc-minutes
  convert_sources.py ppm IMAGE.ppm OUT.rgb         whole-Earth colour image
  convert_sources.py gshhs SHAPES.shp LEVEL OUT.gshhs   polygons, one level

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
    if sys.byteorder != 'little':
        out.byteswap()
    with open(out_path, 'wb') as f:
        out.tofile(f)
    dlon = (xs[-1] - xs[0]) / (len(xs) - 1)
    write_pf(out_path, [('lat', max(ys[0], ys[-1])), ('dlat', -1.0 / 12),
                        ('lon', xs[0]), ('dlon', 1.0 / round(1.0 / dlon)), ('nlat', nlat), ('nlon', nlon)])
    print('%s: %d x %d samples' % (out_path, nlon, nlat))


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


# ---- shapefile polygons to GSHHS ----------------------------------------

def shapefile_rings(shp_path):
    with open(shp_path, 'rb') as f:
        data = f.read()
    if struct.unpack_from('>i', data, 0)[0] != 9994:
        raise ValueError('not a shapefile')
    pos = 100
    while pos + 8 <= len(data):
        length = struct.unpack_from('>i', data, pos + 4)[0] * 2
        content = pos + 8
        pos = content + length
        shape_type = struct.unpack_from('<i', data, content)[0]
        if shape_type not in (3, 5, 13, 15, 23, 25):
            continue
        nparts, npoints = struct.unpack_from('<ii', data, content + 36)
        parts = list(struct.unpack_from('<%di' % nparts, data, content + 44)) + [npoints]
        points = content + 44 + 4 * nparts
        for k in range(nparts):
            xy = struct.unpack_from('<%dd' % (2 * (parts[k + 1] - parts[k])), data, points + 16 * parts[k])
            yield [(xy[i], xy[i + 1]) for i in range(0, len(xy), 2)]


def convert_gshhs(shp_path, level, out_path):
    count = 0
    with open(out_path, 'wb') as f:
        for ring in shapefile_rings(shp_path):
            pts = [(int(round(x * 1e6)), int(round(y * 1e6))) for x, y in ring]
            if len(pts) > 1 and pts[0] == pts[-1]:
                pts.pop()  # GSHHS rings close implicitly
            if len(pts) < 3:
                continue
            xs, ys = [p[0] for p in pts], [p[1] for p in pts]
            flag = level | 7 << 8  # level, header version 7
            f.write(struct.pack('>11i', count, len(pts), flag, min(xs), max(xs), min(ys), max(ys), 0, 0, -1, -1))
            f.write(struct.pack('>%di' % (2 * len(pts)), *[v for p in pts for v in p]))
            count += 1
    print('%s: %d polygons of level %d' % (out_path, count, level))


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == 'etopo':
            convert_etopo(argv[2], argv[3])
        elif len(argv) == 4 and argv[1] == 'ppm':
            convert_ppm(argv[2], argv[3])
        elif len(argv) == 5 and argv[1] == 'gshhs':
            convert_gshhs(argv[2], int(argv[3]), argv[4])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError, KeyError, struct.error) as e:
        sys.stderr.write('convert_sources.py: %s\n' % e)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
