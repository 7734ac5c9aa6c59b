#!/usr/bin/python3
"""Checks the shoreline rings that scripts/default-map/gshhg_binned.py
rebuilds from GMT's binned GSHHG files, against GMT itself.

  check_gshhg_rings.py CONVERTER GSHHG_DIR OUT_DIR RESOLUTION...

For each resolution letter (c, l, ...) the converter writes
OUT_DIR/shore-X.gshhs, which is read back and checked:

- every ring is closed: at least 3 points, no repeated closing point, and
  no edge, the closing one included, longer than one bin each way (a
  wrongly joined piece would jump); only Antarctica goes round the pole,
  its longitudes running over exactly one turn, from and to the 180 degree
  meridian;
- the rings of each level hold the points that `gmt coast -M` dumps for
  that level (to the microdegree GMT's decimal output rounds to), so no
  piece is lost or joined twice, and no other points than the two where
  Antarctica crosses the 180 degree meridian; only points on bin edges
  (where the binning cut the polygons), those of polygons that the
  converter leaves out as degenerate (fewer than 3 distinct points, at
  most 2 points each) and those it removes to undo crossings may be
  missing;
- the rings, with the polygons left out, number GMT's own count of
  polygons in the file, less Antarctica's grounding-line polygons, which
  the map leaves out.

Exits 77 (skipped) when GMT, its GSHHG files or python3-netcdf4 are
missing.
"""
import os
import re
import shutil
import struct
import subprocess
import sys

SKIP = 77
TURN = 360000000
GROUNDING_LINE = 6


def read_gshhs(path):
    """(level, points) of every polygon of a GSHHS file, header version 7."""
    with open(path, 'rb') as f:
        data = f.read()
    pos, rings = 0, []
    while pos < len(data):
        _ident, n, flag = struct.unpack_from('>3i', data, pos)
        pos += 44
        xy = struct.unpack_from('>%di' % (2 * n), data, pos)
        pos += 8 * n
        rings.append((flag & 255, list(zip(xy[0::2], xy[1::2]))))
    return rings


def gmt_points(resolution, level, out_dir):
    """Distinct points of one level as `gmt coast -M` dumps them (run in
    OUT_DIR, where GMT leaves its history file)."""
    out = subprocess.run(['gmt', 'coast', '-Rd', '-D' + resolution, '-W', '-M', '-A0/%d/%d' % (level, level)],
                         check=True, capture_output=True, text=True, cwd=out_dir).stdout
    points = set()
    for line in out.splitlines():
        if line.startswith('>') or not line.strip():
            continue
        x, y = line.split()[:2]
        points.add((round(float(x) * 1e6) % TURN, round(float(y) * 1e6)))
    return points


def unmatched(points, others):
    """Points with no point of `others` within one microdegree each way."""
    near = [(dx, dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
    return [p for p in points if not any(((p[0] + dx) % TURN, p[1] + dy) in others for dx, dy in near)]


def check_closed(rings, bin_size):
    faults, round_pole = [], 0
    for k, (_level, pts) in enumerate(rings):
        if len(pts) < 3 or pts[0] == pts[-1]:
            faults.append('ring %d: %d points, closing point repeated: %s' % (k, len(pts), pts[0] == pts[-1]))
            continue
        # Every edge taken the short way round; only a ring round a pole
        # then gains a whole turn of longitude.
        steps = [(b[0] - a[0], b[1] - a[1]) for a, b in zip(pts, pts[1:] + pts[:1])]
        steps = [(dx - round(dx / TURN) * TURN, dy) for dx, dy in steps]
        turn = sum(dx for dx, _ in steps)
        if turn:
            round_pole += 1
            if abs(turn) != TURN or pts[0][0] % TURN != TURN // 2 or pts[0][1] != pts[-1][1]:
                faults.append('ring %d: its longitudes run over %d microdegrees, from %s to %s'
                              % (k, turn, pts[0], pts[-1]))
        long_steps = [s for s in steps if abs(s[0]) > bin_size or abs(s[1]) > bin_size]
        if long_steps:
            faults.append('ring %d: %d edges longer than a bin, first %s' % (k, len(long_steps), long_steps[0]))
    if round_pole != 1:
        faults.append('%d rings go round a pole (Antarctica only expected)' % round_pole)
    return faults


def file_figures(path):
    """GMT's count of polygons in a binned file, its bin size in microdegrees,
    and its grounding-line polygons."""
    import netCDF4
    import numpy as np
    with netCDF4.Dataset(path) as nc:
        nc.set_auto_mask(False)
        info = np.asarray(nc.variables['Embedded_npts_levels_exit_entry_for_a_segment'][:]).astype(np.int64)
        ids = np.asarray(nc.variables['Id_of_GSHHS_ID'][:])
        grounding = len(set(ids[((info >> 6) & 7) == GROUNDING_LINE].tolist()))
        return (int(nc.variables['N_polygons_in_file'][0]), int(nc.variables['Bin_size_in_minutes'][0]) * 1000000 // 60,
                grounding)


def check_resolution(converter, gshhg, out_dir, resolution):
    source = os.path.join(gshhg, 'binned_GSHHS_%s.nc' % resolution)
    out = os.path.join(out_dir, 'shore-%s.gshhs' % resolution)
    said = subprocess.run([sys.executable, converter, 'shore', source, out], check=True, capture_output=True,
                          text=True).stdout
    found = re.search(r'(\d+) polygons of fewer than 3 points left out, (\d+) points removed to undo crossings', said)
    degenerate, uncrossed = int(found.group(1)), int(found.group(2))
    rings = read_gshhs(out)
    polygons, bin_size, grounding = file_figures(source)
    faults = check_closed(rings, bin_size)
    if len(rings) + degenerate != polygons - grounding:
        faults.append('%d rings and %d left out, GMT counts %d polygons less %d grounding-line ones'
                      % (len(rings), degenerate, polygons, grounding))
    # A left-out polygon has at most 2 distinct points.
    allowed_missing = 2 * degenerate + uncrossed
    summary = []
    for level in sorted({lv for lv, _ in rings}):
        ours = {(x % TURN, y) for lv, pts in rings if lv == level for x, y in pts}
        theirs = gmt_points(resolution, level, out_dir)
        missing, extra = unmatched(theirs, ours), unmatched(ours, theirs)
        # Points where the binning cut a polygon lie on bin edges (columns
        # from 0 E, rows from the north pole) and are
        # left out on purpose.
        off_edges = [p for p in missing if p[0] % bin_size and (90000000 - p[1]) % bin_size]
        allowed_missing -= len(off_edges)
        # Antarctica begins and ends where it crosses the 180 degree meridian.
        extra = [p for p in extra if p[0] % TURN != TURN // 2]
        if allowed_missing < 0 or extra:
            faults.append('level %d: %d points, GMT %d; %d of GMT\'s missing (%s), %d not GMT\'s (%s)'
                          % (level, len(ours), len(theirs), len(off_edges), off_edges[:3], len(extra), extra[:3]))
        summary.append('level %d: %d rings, %d points' % (level, sum(1 for lv, _ in rings if lv == level), len(ours)))
    print('%s: %s' % (resolution, '; '.join(summary)))
    return faults


def main(argv):
    if len(argv) < 5:
        sys.stderr.write(__doc__)
        return 2
    converter, gshhg, out_dir, resolutions = argv[1], argv[2], argv[3], argv[4:]
    try:
        import netCDF4  # noqa: F401
    except ImportError:
        print('skipped: python3-netcdf4 is not installed')
        return SKIP
    if not shutil.which('gmt') or not all(os.path.exists(os.path.join(gshhg, 'binned_GSHHS_%s.nc' % r))
                                          for r in resolutions):
        print('skipped: gmt or its GSHHG files (gmt-gshhg-low) are not installed')
        return SKIP
    os.makedirs(out_dir, exist_ok=True)
    faults = []
    for r in resolutions:
        faults += ['%s: %s' % (r, f) for f in check_resolution(converter, gshhg, out_dir, r)]
    for f in faults[:40]:
        print('FAULT ' + f)
    print('rings: %s' % ('ok' if not faults else '%d faults' % len(faults)))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
