#!/usr/bin/python3
"""Rebuilds whole shorelines, borders and rivers from GMT's binned GSHHG
files (Debian's gmt-gshhg-low and gmt-gshhg-high) and writes them as GSHHS
files that orvex build reads.

  gshhg_binned.py shore  binned_GSHHS_X.nc OUT.gshhs
  gshhg_binned.py border binned_border_X.nc MAXLEVEL OUT.gshhs
  gshhg_binned.py river  binned_river_X.nc MAXLEVEL OUT.gshhs

The binned files cut every polygon and line into pieces at the edges of
their bins, with points stored as 16-bit offsets from the bin's south-west
corner. A point on a bin edge has the same integer microdegrees whichever
bin it is read from, so pieces are joined again where one ends exactly
where the next begins (longitudes taken modulo 360 degrees, so rings that
cross the 180 degree meridian close too).

Shorelines keep their levels: 1 land, 2 lake, 3 island in a lake, 4 pond.
The points where the binning cut a ring are dropped again, and so are the
few points whose rounding makes a ring cross itself. Antarctica is taken
along its ice front (its grounding-line polygons are left out), and stays
one ring that goes round the south pole: its longitudes run over a whole
turn, from the 180 degree meridian back to it, and a reader closes it
along the pole.
Borders and rivers become lines of the levels up to MAXLEVEL (borders: 1
national, 2 internal, 3 marine; rivers: 1 river-lakes, 2 to 4 permanent
rivers of decreasing size, more beyond); levels above 4 are written as 4.
"""
import struct
import sys

import netCDF4
import numpy as np

TURN = 360000000
GROUNDING_LINE = 6  # Antarctica's grounding-line polygons in the shore files
MAX_LEVEL = 4       # the highest level a GSHHS reader keeps


class Pieces:
    """The pieces of a binned file: per piece its level, polygon id (shore
    files only) and points as integer microdegrees."""

    def __init__(self, path):
        with netCDF4.Dataset(path) as nc:
            nc.set_auto_mask(False)
            var = lambda name: np.asarray(nc.variables[name][:])
            size = int(var('Bin_size_in_minutes')[0]) * 1000000 // 60
            nlon_bins = int(var('N_bins_in_360_longitude_range')[0])
            first_seg = var('Id_of_first_segment_in_a_bin').astype(np.int64)
            nseg = var('N_segments_in_a_bin').astype(np.int64)
            if 'Embedded_npts_levels_exit_entry_for_a_segment' in nc.variables:
                info = var('Embedded_npts_levels_exit_entry_for_a_segment').astype(np.int64)
                self.levels, self.npts = (info >> 6) & 7, info >> 9
            else:  # borders and rivers
                self.levels = var('Hierarchial_level_of_a_segment').astype(np.int64)
                self.npts = var('N_points_for_a_segment').astype(np.int64) & 0xFFFF
            first_pt = var('Id_of_first_point_in_a_segment').astype(np.int64)
            dx = var('Relative_longitude_from_SW_corner_of_bin').astype(np.int64) & 0xFFFF
            dy = var('Relative_latitude_from_SW_corner_of_bin').astype(np.int64) & 0xFFFF
            self.ids = var('Id_of_GSHHS_ID') if 'Id_of_GSHHS_ID' in nc.variables else None
            self.areas = var('The_km_squared_area_of_polygons') if 'The_km_squared_area_of_polygons' in nc.variables else None
        # The counts must describe the arrays they index, one after another.
        if (len(dx) != self.npts.sum() or not np.array_equal(first_pt, np.cumsum(self.npts) - self.npts)
                or not np.array_equal(first_seg, np.cumsum(nseg) - nseg)):
            raise ValueError('%s: bins, pieces and points do not follow each other' % path)
        # Bins are numbered row by row from the north pole, columns from 0 E.
        bins = np.repeat(np.arange(len(nseg)), nseg)
        west = (bins % nlon_bins) * size
        south = 90000000 - (bins // nlon_bins + 1) * size
        # Rounded to the nearest microdegree, so offset 65535 of one bin is
        # exactly offset 0 of the next.
        self.x = np.repeat(west, self.npts) + (dx * size + 32767) // 65535
        self.y = np.repeat(south, self.npts) + (dy * size + 32767) // 65535
        self.first_pt = first_pt

    def points(self, s):
        a = self.first_pt[s]
        return list(zip(self.x[a:a + self.npts[s]].tolist(), self.y[a:a + self.npts[s]].tolist()))


def key(point):
    return (point[0] % TURN, point[1])


def starts_of(pieces):
    """Indexes of the pieces by the key of their first point."""
    starts = {}
    for k, p in enumerate(pieces):
        starts.setdefault(key(p[0]), []).append(k)
    return starts


def chain_lines(pieces):
    """Joins line pieces end to start while exactly one unused piece goes on
    from a chain's end (a junction of three rivers stays a junction)."""
    starts = starts_of(pieces)
    used = [False] * len(pieces)
    chains = []
    for k in range(len(pieces)):
        if used[k]:
            continue
        used[k] = True
        out = list(pieces[k])
        while True:
            nexts = [j for j in starts.get(key(out[-1]), []) if not used[j]]
            if len(nexts) != 1:
                break
            used[nexts[0]] = True
            out.extend(pieces[nexts[0]][1:])
        chains.append(out)
    return chains


def ring_of(pieces):
    """The one ring of a polygon cut into pieces, without its closing point.
    A piece that leaves a bin edge and comes back to the same point (a
    spike or a bay reaching into the next bin) would close on its own: such
    loops are put back where the rest of the ring passes their point."""
    loops = [p for p in pieces if key(p[0]) == key(p[-1])]
    rest = [p for p in pieces if key(p[0]) != key(p[-1])] or [loops.pop(0)]
    starts = starts_of(rest)
    used = [False] * len(rest)
    used[0] = True
    ring = list(rest[0])
    while key(ring[-1]) != key(ring[0]) or len(ring) < 2:
        nexts = [j for j in starts.get(key(ring[-1]), []) if not used[j]]
        if not nexts:
            raise ValueError('a ring of %d points does not close' % len(ring))
        used[nexts[0]] = True
        ring.extend(rest[nexts[0]][1:])
    if not all(used):
        raise ValueError('a polygon of %d pieces makes more than one ring' % len(pieces))
    ring.pop()
    for loop in loops:
        at = [k for k, p in enumerate(ring) if key(p) == key(loop[0])]
        if not at:
            raise ValueError('a loop of %d points touches no other piece of its ring' % len(loop))
        ring[at[0] + 1:at[0] + 1] = loop[1:]
    return ring


def without_cuts(ring, pieces):
    """The ring less the points where the binning cut it: they lie on bin
    edges, on the straight edge between two points of the polygon, but
    rounded to the bins' 16-bit offsets they bend it a little, enough to
    make it cross itself near the cut. Joining the points on either side
    gives the polygon's own edge back."""
    if len(pieces) < 2:
        return ring
    cuts = {key(p[0]) for p in pieces}
    return [p for p in ring if key(p) not in cuts]


def drop_repeats(points, ring):
    """Points that repeat the one before (a few pieces close twice); in a
    ring the last point must not repeat the first either."""
    out = [p for k, p in enumerate(points) if k == 0 or key(p) != key(points[k - 1])]
    while ring and len(out) > 1 and key(out[-1]) == key(out[0]):
        out.pop()
    return out


def unwrap(points):
    """Longitudes made continuous along the line, starting west of 180 E."""
    out, last = [], None
    for x, y in points:
        if last is not None:
            x += round((last - x) / TURN) * TURN
        out.append((x, y))
        last = x
    shift = -TURN if min(p[0] for p in out) >= TURN // 2 else 0
    return [(x + shift, y) for x, y in out]


def goes_round_pole(ring):
    """An unwrapped ring whose ends lie a whole turn apart."""
    return abs(ring[-1][0] - ring[0][0]) > TURN // 2


def from_antimeridian(ring):
    """A ring round a pole (unwrapped), turned to begin and end on the
    180 degree meridian, at the latitude where it crosses it: closed along
    the pole from there, as a map draws it, its closing edges run down the
    meridian and cross no coast (begun anywhere else, Antarctica's would
    cut through the peninsula)."""
    half = TURN // 2
    n = len(ring)
    for k in range(n):
        (px, py), (qx, qy) = ring[k], ring[(k + 1) % n]
        px = (px + half) % TURN - half if px % TURN != half else half  # in (-180, 180]
        dx = qx - ring[k][0]
        dx -= round(dx / TURN) * TURN
        edge = half if px + dx > half else (-half if px + dx <= -half else None)
        if edge is None or dx == 0:
            continue
        y = py + round((qy - py) * (edge - px) / dx)
        rest = unwrap(ring[k + 1:] + ring[:k + 1])
        shift = round((-edge - rest[0][0]) / TURN) * TURN  # the start a whole turn from the crossing
        rest = [(x + shift, yy) for x, yy in rest]
        head = [] if rest[0] == (-edge, y) else [(-edge, y)]
        tail = [] if rest[-1] == (edge, y) else [(edge, y)]
        return head + rest + tail
    raise ValueError('a ring round a pole never crosses the 180 degree meridian')


def closed_along_pole(ring):
    """The ring's points as arrays; a ring round a pole (its ends a whole
    turn apart) gets two points on the pole that close it as a map draws it."""
    xs = np.array([p[0] for p in ring], dtype=np.int64)
    ys = np.array([p[1] for p in ring], dtype=np.int64)
    if goes_round_pole(ring):
        pole = -90000000 if ys[0] < 0 else 90000000
        xs = np.append(xs, [xs[-1], xs[0]])
        ys = np.append(ys, [pole, pole])
    return xs, ys


def crossings(ring):
    """Pairs (e, f), e < f, of edges of the ring that cross where neither
    ends (edges that only touch are left be); edge e runs from point e to
    the next. Candidates are the edges whose longitudes overlap, found by
    sorting the edges by their west end."""
    xs, ys = closed_along_pole(ring)
    m = len(xs)
    if m < 4:
        return []
    nx, ny = np.roll(xs, -1), np.roll(ys, -1)
    west, east = np.minimum(xs, nx), np.maximum(xs, nx)
    south, north = np.minimum(ys, ny), np.maximum(ys, ny)
    order = np.argsort(west, kind='stable')
    ends = np.searchsorted(west[order], east[order], side='right')
    counts = np.maximum(ends - np.arange(m) - 1, 0)
    found = []
    for lo in range(0, m, 4096):  # in blocks, to bound the candidate arrays
        c = counts[lo:lo + 4096]
        a = np.repeat(np.arange(lo, lo + len(c)), c)
        b = a + 1 + np.arange(len(a)) - np.repeat(np.cumsum(c) - c, c)
        e, f = order[a], order[b]
        keep = (south[e] <= north[f]) & (south[f] <= north[e]) & ((e + 1) % m != f) & ((f + 1) % m != e)
        e, f = e[keep], f[keep]
        side = lambda p, q, r: np.sign((xs[q] - xs[p]) * (ys[r] - ys[p]) - (ys[q] - ys[p]) * (xs[r] - xs[p]))
        e1, f1 = (e + 1) % m, (f + 1) % m
        cross = (side(e, e1, f) * side(e, e1, f1) < 0) & (side(f, f1, e) * side(f, f1, e1) < 0)
        found += [(min(i, j), max(i, j)) for i, j in zip(e[cross].tolist(), f[cross].tolist())]
    return sorted(found)


def uncrossed(ring):
    """The ring with the points removed that made it cross itself, and
    their count. Crossings come from points rounded to the bins' 16-bit
    offsets: each is undone by dropping the point that ends the first of
    the two edges (or, past the ring's own points, the one that begins
    the second)."""
    removed = 0
    while True:
        found = crossings(ring)
        if not found:
            return ring, removed
        if removed >= 64 or len(ring) <= 3:
            raise ValueError('a ring of %d points still crosses itself after %d points removed' % (len(ring), removed))
        e, f = found[0]
        drop = e + 1 if e + 1 < len(ring) else f
        ring = ring[:drop] + ring[drop + 1:]
        removed += 1


def write_gshhs(f, ident, level, points, area):
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    flag = level | 7 << 8  # header version 7
    f.write(struct.pack('>11i', ident, len(points), flag, min(xs), max(xs), min(ys), max(ys), area, area, -1, -1))
    f.write(struct.pack('>%di' % (2 * len(points)), *[v for p in points for v in p]))


def shore_rings(pieces):
    """(polygon id, level, points) of every whole ring, in the order of
    the ids (largest polygons first); the number of polygons left out
    because fewer than 3 distinct points remain of them; and the number of
    points removed to undo crossings."""
    by_id = {}
    for s in range(len(pieces.npts)):
        if pieces.levels[s] == GROUNDING_LINE:
            continue
        by_id.setdefault(int(pieces.ids[s]), []).append(s)
    rings, degenerate, removed = [], 0, 0
    for ident in sorted(by_id):
        segs = by_id[ident]
        levels = {int(pieces.levels[s]) for s in segs}
        if len(levels) != 1:
            raise ValueError('polygon %d has pieces of levels %s' % (ident, sorted(levels)))
        cut = [pieces.points(s) for s in segs]
        ring = drop_repeats(without_cuts(ring_of(cut), cut), True)
        if len(ring) < 3:
            degenerate += 1
            continue
        ring = unwrap(ring)
        if goes_round_pole(ring):
            ring = from_antimeridian(ring)
        ring, dropped = uncrossed(ring)
        removed += dropped
        rings.append((ident, levels.pop(), ring))
    return rings, degenerate, removed


def convert_shore(path, out_path):
    pieces = Pieces(path)
    rings, degenerate, removed = shore_rings(pieces)
    counts = {}
    with open(out_path, 'wb') as f:
        for ident, level, ring in rings:
            area = int(min(pieces.areas[ident] * 10, 2**31 - 1))
            write_gshhs(f, ident, level, ring, area)
            counts[level] = counts.get(level, 0) + 1
    print('%s: %s; %d polygons of fewer than 3 points left out, %d points removed to undo crossings'
          % (out_path, ', '.join('%d rings of level %d' % (counts[k], k) for k in sorted(counts)), degenerate,
             removed))


def convert_lines(path, max_level, out_path):
    pieces = Pieces(path)
    count = npts = 0
    with open(out_path, 'wb') as f:
        for level in range(1, max_level + 1):
            segs = [s for s in range(len(pieces.npts)) if pieces.levels[s] == level]
            for line in chain_lines([pieces.points(s) for s in segs]):
                line = drop_repeats(line, False)
                if len(line) < 2:
                    continue
                write_gshhs(f, count, min(level, MAX_LEVEL), unwrap(line), 0)
                count += 1
                npts += len(line)
    print('%s: %d lines, %d points, levels 1 to %d' % (out_path, count, npts, max_level))


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == 'shore':
            convert_shore(argv[2], argv[3])
        elif len(argv) == 5 and argv[1] in ('border', 'river'):
            convert_lines(argv[2], int(argv[3]), argv[4])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError, KeyError) as e:
        sys.stderr.write('gshhg_binned.py: %s\n' % e)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
