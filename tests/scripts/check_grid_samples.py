#!/usr/bin/env python3
"""Independent check of a map file's grid samples against their source.

Reads the map file with its own reader of the file layout (struct, zlib and
numpy; nothing of the library), and the source either as a raw grid with its
parameter file or as one tile of another map file. For every grid
resolution it checks, sample by sample:
  - that each sample's declared position is the position of the source
    sample at the window's centre (source row r0 + i * dec, column
    c0 + j * dec, counted from the source tile's corner);
  - that its value is the highest valid elevation (or the truncated mean
    colour) of the centred window of source samples, computed here with
    numpy by index: dec samples wide for odd dec, dec + 1 for even dec,
    rows outside the source skipped, columns outside it turned by whole
    turns when the source reaches all the way round;
  - that the tile index holds the range of the tile's valid elevations.

With --query ORVEX, `orvex query` is also asked at the positions of a spread
of samples of each resolution and must answer those samples' values.

Usage: check_grid_samples.py MAP.orx SOURCE [--source-res K] [--source-tile T]
                             [--res K ...] [--query ORVEX]
SOURCE is NAME.dem / NAME.rgb (with NAME.dem.pf beside it) or a map file.
Exit status 0 when every sample matches, 1 otherwise.
"""
import argparse
import re
import struct
import subprocess
import sys
import zlib

import numpy as np

NODATA = -9999
RES_RECORD = 848
GRID_HEADER = 104
TILE_ENTRY = 32


class Grid:
    """One grid: geometry and samples (elevations int16 or colours uint8 x 3)."""

    def __init__(self, lat, dlat, lon, dlon, samples, colour):
        self.lat, self.dlat, self.lon, self.dlon = lat, dlat, lon, dlon
        self.samples = samples
        self.colour = colour


def read_pf(path):
    values = {}
    with open(path) as f:
        for line in f:
            line = line.split('#', 1)[0].split()
            if len(line) >= 2:
                values[line[0]] = line[1]
    return values


def read_raw(path):
    pf = read_pf(path + '.pf')
    nlat, nlon = int(pf['nlat']), int(pf['nlon'])
    colour = path.endswith('.rgb')
    if colour:
        data = np.fromfile(path, dtype=np.uint8, count=nlat * nlon * 3).reshape(nlat, nlon, 3)
    else:
        big = pf.get('bigendian', 'no').lower() in ('yes', 'y', 'true', '1')
        data = np.fromfile(path, dtype='>i2' if big else '<i2', count=nlat * nlon)
        data = data.astype(np.int16).reshape(nlat, nlon)
    return Grid(float(pf['lat']), float(pf['dlat']), float(pf['lon']), float(pf['dlon']), data,
                colour)


class MapFile:
    """The resolutions of a map file, read with this script's own reader."""

    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()
        if self.data[:8] != b'ORX0    ':
            raise ValueError('%s: not a map file' % path)
        (count,) = struct.unpack_from('<q', self.data, 8)
        self.resolutions = []
        pos = 16
        for _ in range(count):
            rec = self.data[pos:pos + RES_RECORD]
            map_type = struct.unpack_from('<q', rec, 584)[0]
            lattice = struct.unpack_from('<5d3q', rec, 784)
            res = {'map_type': map_type, 'name': rec[592:720].split(b'\0')[0].decode(),
                   'lon_start_tiles': lattice[1], 'lat_start_tiles': lattice[2],
                   'dlon_tiles': lattice[3], 'dlat_tiles': lattice[4],
                   'nlon_tiles': lattice[5], 'nlat_tiles': lattice[6], 'ntiles': lattice[7]}
            pos += RES_RECORD
            if map_type == 0:
                h = struct.unpack_from('<5q4d4q', self.data, pos)
                res.update(dec=h[0], compressed=h[1], content=h[2], lon_start=h[5], dlon=h[6],
                           lat_start=h[7], dlat=h[8], nlon=h[9], nlat=h[10], nlon_per_tile=h[11],
                           nlat_per_tile=h[12])
                pos += GRID_HEADER
                res['tiles'] = [struct.unpack_from('<qqQq', self.data, pos + TILE_ENTRY * t)
                                for t in range(res['ntiles'])]
                pos += TILE_ENTRY * res['ntiles']
            elif map_type == 1:
                pos += 32
                for _ in range(res['ntiles']):
                    (nseg,) = struct.unpack_from('<q', self.data, pos + 40)
                    pos += 48 + 40 * nseg
            self.resolutions.append(res)

    def tile_samples(self, res, tile):
        zmin, zmax, nbuf, buf = res['tiles'][tile]
        payload = self.data[buf:buf + nbuf]
        raw = zlib.decompress(payload) if res['compressed'] else payload
        rows, cols = res['nlat_per_tile'], res['nlon_per_tile']
        if res['content'] == 1:
            return np.frombuffer(raw, dtype='<i2', count=rows * cols).reshape(rows, cols)
        return np.frombuffer(raw, dtype=np.uint8, count=rows * cols * 3).reshape(rows, cols, 3)

    def grid(self, k):
        """The whole grid of resolution k, tiles put together."""
        res = self.resolutions[k]
        rows = [np.concatenate([self.tile_samples(res, r * res['nlon_tiles'] + c)
                                for c in range(res['nlon_tiles'])], axis=1)
                for r in range(res['nlat_tiles'])]
        return np.concatenate(rows, axis=0)

    def tile_grid(self, k, tile):
        """Tile `tile` of resolution k as a grid of its own, at its corner."""
        res = self.resolutions[k]
        tr, tc = divmod(tile, res['nlon_tiles'])
        return Grid(res['lat_start'] + tr * res['dlat_tiles'], res['dlat'],
                    res['lon_start'] + tc * res['dlon_tiles'], res['dlon'],
                    self.tile_samples(res, tile), res['content'] != 1)


def window_axis(n_out, dec, n_src, period):
    """Source indices (n_out x width) of each output sample's window along one
    axis, and whether each lies in the source."""
    back = dec // 2 if dec % 2 else (dec + 1) // 2
    width = dec if dec % 2 else dec + 1
    idx = np.arange(n_out)[:, None] * dec - back + np.arange(width)[None, :]
    if period:
        # Turned by whole turns, whichever edge the window runs past.
        west = idx < 0
        idx[west] = idx[west] % period
        east = idx >= n_src
        idx[east] = idx[east] - ((idx[east] - n_src) // period + 1) * period
    valid = (idx >= 0) & (idx < n_src)
    return np.where(valid, idx, 0), valid


def expected_samples(src, dec, n_lat, n_lon):
    nr, nc = src.samples.shape[:2]
    per_turn = 360.0 / abs(src.dlon) if src.dlon else 0
    period = int(np.floor(per_turn + 0.5)) if per_turn >= 0.5 else 0
    period = period if 1 <= period <= nc else 0
    ri, rv = window_axis(n_lat, dec, nr, 0)
    ci, cv = window_axis(n_lon, dec, nc, period)
    if not src.colour:
        z = src.samples.astype(np.int32)
        z = np.where(z == NODATA, np.iinfo(np.int32).min, z)
        best = np.full((n_lat, n_lon), np.iinfo(np.int32).min, dtype=np.int32)
        for a in range(ri.shape[1]):
            rows = np.where(rv[:, a][:, None], z[ri[:, a]], np.iinfo(np.int32).min)
            for b in range(ci.shape[1]):
                vals = np.where(cv[:, b][None, :], rows[:, ci[:, b]], np.iinfo(np.int32).min)
                best = np.maximum(best, vals)
        return np.where(best == np.iinfo(np.int32).min, NODATA, best).astype(np.int16)
    sums = np.zeros((n_lat, n_lon, 3), dtype=np.int64)
    count = np.zeros((n_lat, n_lon), dtype=np.int64)
    rgb = src.samples.astype(np.int64)
    for a in range(ri.shape[1]):
        rows = rgb[ri[:, a]]
        for b in range(ci.shape[1]):
            ok = rv[:, a][:, None] & cv[:, b][None, :]
            sums += np.where(ok[:, :, None], rows[:, ci[:, b]], 0)
            count += ok
    safe = np.maximum(count, 1)[:, :, None]
    return np.where(count[:, :, None] > 0, sums // safe, 0).astype(np.uint8)


def check_resolution(mapfile, k, src):
    res = mapfile.resolutions[k]
    dec = res['dec']
    problems = []
    got = mapfile.grid(k)
    n_lat, n_lon = got.shape[:2]
    nr, nc = src.samples.shape[:2]
    if n_lat * dec > nr or n_lon * dec > nc:
        return ['declares %d x %d samples at decimation %d: more than the source %d x %d holds'
                % (n_lat, n_lon, dec, nr, nc)]
    # Positions: sample i lies on source row i * dec, sample j on column j * dec.
    i = np.arange(n_lat)
    j = np.arange(n_lon)
    lat = res['lat_start'] + i * res['dlat']
    lon = res['lon_start'] + j * res['dlon']
    src_rows = np.floor((lat - src.lat) / src.dlat + 0.5).astype(np.int64)
    src_cols = np.floor((lon - src.lon) / src.dlon + 0.5).astype(np.int64)
    if not np.array_equal(src_rows, i * dec):
        problems.append('sample rows do not lie on source rows 0, %d, 2*%d, ...' % (dec, dec))
    if not np.array_equal(src_cols, j * dec):
        problems.append('sample columns do not lie on source columns 0, %d, 2*%d, ...' % (dec, dec))
    want = expected_samples(src, dec, n_lat, n_lon)
    bad = np.argwhere(np.any(got != want, axis=-1) if src.colour else got != want)
    if len(bad):
        y, x = bad[0][:2]
        problems.append('%d of %d samples differ; first at row %d column %d: %s, expected %s'
                        % (len(bad), n_lat * n_lon, y, x, got[y, x].tolist(), want[y, x].tolist()))
    if not src.colour:
        pr, pc = res['nlat_per_tile'], res['nlon_per_tile']
        for t, (zmin, zmax, _, _) in enumerate(res['tiles']):
            tr, tc = divmod(t, res['nlon_tiles'])
            block = want[tr * pr:(tr + 1) * pr, tc * pc:(tc + 1) * pc]
            valid = block[block != NODATA]
            lo, hi = (int(valid.min()), int(valid.max())) if valid.size else (NODATA, NODATA)
            if (zmin, zmax) != (lo, hi):
                problems.append('tile %d range %d..%d, samples %d..%d' % (t, zmin, zmax, lo, hi))
    return problems


def query_answers(orvex, path, k, lat, lon):
    """The value `orvex query` prints for resolution k: an int, a colour
    list, 'nodata' or None."""
    out = subprocess.run([orvex, 'query', repr(lat), repr(lon), path], check=True,
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        if not line.startswith('Resolution %d ' % k):
            continue
        m = re.search(r'elevation (-?\d+)$', line)
        if m:
            return int(m.group(1))
        m = re.search(r'colour (\d+) (\d+) (\d+)$', line)
        if m:
            return [int(v) for v in m.groups()]
        return 'nodata' if 'no data' in line else None
    return None


def check_queries(mapfile, path, k, orvex, count=12):
    """`orvex query` at sample positions answers those samples."""
    res = mapfile.resolutions[k]
    got = mapfile.grid(k)
    n_lat, n_lon = got.shape[:2]
    problems = []
    picks = {(0, 0), (n_lat - 1, n_lon - 1), (0, n_lon - 1), (n_lat - 1, 0)}
    for q in range(count):
        picks.add(((q * 7919) % n_lat, (q * 104729) % n_lon))
    for i, j in sorted(picks):
        lat = res['lat_start'] + i * res['dlat']
        lon = res['lon_start'] + j * res['dlon']
        lat = min(90.0, max(-90.0, lat))
        lon = lon - 360 if lon > 180 else lon + 360 if lon < -180 else lon
        want = got[i, j].tolist()
        if want == NODATA:
            want = 'nodata'
        answer = query_answers(orvex, path, k, lat, lon)
        if answer != want:
            problems.append('orvex query %r %r answers %s, the sample at row %d column %d is %s'
                            % (lat, lon, answer, i, j, want))
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('map')
    ap.add_argument('source')
    ap.add_argument('--source-res', type=int, default=0)
    ap.add_argument('--source-tile', type=int, default=0)
    ap.add_argument('--res', type=int, action='append', help='resolutions to check (default all grids)')
    ap.add_argument('--query', metavar='ORVEX', help='also ask this orvex command at sample positions')
    args = ap.parse_args()
    if args.source.endswith('.orx'):
        src = MapFile(args.source).tile_grid(args.source_res, args.source_tile)
    else:
        src = read_raw(args.source)
    mapfile = MapFile(args.map)
    chosen = args.res if args.res else [k for k, r in enumerate(mapfile.resolutions) if r['map_type'] == 0]
    failed = False
    for k in chosen:
        res = mapfile.resolutions[k]
        problems = check_resolution(mapfile, k, src)
        if args.query:
            problems += check_queries(mapfile, args.map, k, args.query)
        status = 'ok' if not problems else 'FAILED'
        print('resolution %d "%s": decimation %d, %d x %d samples in %d x %d tiles: %s'
              % (k, res['name'], res['dec'], res['nlat'], res['nlon'], res['nlat_tiles'],
                 res['nlon_tiles'], status))
        for p in problems:
            print('  ' + p)
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
