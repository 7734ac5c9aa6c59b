#!/usr/bin/python3
"""How a build grows with its source: the five-level pyramid (decimations 1,
2, 4, 8 and 16, tiles of 270 x 270 samples at the finest level) of a 5400 x
2700 elevation grid scaled 1x, 4x, 16x and 64x (in samples), from the raw
grid and from a deflated GeoTIFF of it read through GDAL, and of a sparse
world at one arc-second (1,296,000 x 648,000 samples, a few tiles of data,
the rest never written). Prints a markdown table: wall and CPU time, the
peak anonymous memory of the build (RssAnon, sampled every 5 ms), the peak
disk blocks of its scratch grid, the output's size, and for a GDAL source
whether its output holds the very bytes of the build from the raw grid
(all but the source's name in each resolution's record).

The grids are made from ETOPO5 (the default map's relief, 4320 x 2160,
resampled by nearest sample) in --work, once. The bench never runs in CI.

Usage: bench/scale-build.py [--orvex PATH] [--work DIR] [--scales 1,4,16]
                            [--world-rows N] [--threads N] [--kinds K] [--out FILE]
  --scales      sample multiples of 5400 x 2700 to run (default 1,4,16; 64 takes
                about 1.9 GB of raw grid and as much again of GeoTIFF)
  --world-rows  rows of the one-arc-second world to build, from the north
                (default 5400: a 1/120 strip; 648000 builds the whole world)
  --threads     ORVEX_THREADS for the builds (default: the machine's)
  --kinds       raw, GDAL or raw,GDAL (default): which sources to build
"""
import argparse
import glob
import os
import subprocess
import sys
import threading
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ETOPO = '/work/data/cache/src/etopo5.dem'
BASE_ROWS, BASE_COLS = 2700, 5400
LEVELS = (1, 2, 4, 8, 16)


def write_pf(path, rows, cols, step, lat=90.0, lon=-180.0):
    with open(path + '.pf', 'w') as f:
        f.write('lat %.17g\ndlat %.17g\nlon %.17g\ndlon %.17g\nnlat %d\nnlon %d\n'
                % (lat - step / 2, -step, lon + step / 2, step, rows, cols))
    # The same raw samples as GDAL's EHdr driver reads them, through NAME.bil.
    base = os.path.splitext(path)[0]
    if not os.path.exists(base + '.bil'):
        os.symlink(os.path.basename(path), base + '.bil')
    with open(base + '.hdr', 'w') as f:
        f.write('BYTEORDER I\nLAYOUT BIL\nNROWS %d\nNCOLS %d\nNBANDS 1\nNBITS 16\nPIXELTYPE SIGNEDINT\n'
                'ULXMAP %.17g\nULYMAP %.17g\nXDIM %.17g\nYDIM %.17g\nNODATA -9999\n'
                % (rows, cols, lon + step / 2, lat - step / 2, step, step))


def make_scaled(work, scale):
    """The raw grid of `scale` times the samples of 5400 x 2700 and its
    GeoTIFF; made once."""
    side = int(round(scale ** 0.5))
    rows, cols = BASE_ROWS * side, BASE_COLS * side
    raw = os.path.join(work, 'g%d.dem' % scale)
    tif = os.path.join(work, 'g%d.tif' % scale)
    if not os.path.exists(raw + '.pf'):
        src = np.fromfile(ETOPO, dtype='<i2').reshape(2161, 4320)[:2160]
        ci = (np.arange(cols) * 4320) // cols
        with open(raw, 'wb') as f:
            for r0 in range(0, rows, 1024):
                ri = (np.arange(r0, min(rows, r0 + 1024)) * 2160) // rows
                f.write(np.ascontiguousarray(src[ri][:, ci]).astype('<i2').tobytes())
        write_pf(raw, rows, cols, 180.0 / rows)
    if not os.path.exists(tif):
        subprocess.run(['gdal_translate', '-q', '-of', 'GTiff', '-co', 'TILED=YES', '-co', 'COMPRESS=DEFLATE',
                        '-co', 'BIGTIFF=IF_SAFER', '-co', 'NUM_THREADS=2', raw[:-4] + '.bil', tif], check=True)
    return raw, tif, rows, cols


def make_world(work, rows):
    """The first `rows` rows of a one-arc-second world: a sparse raw grid
    with three tiles of data (at 0, a third and two thirds of the width),
    and a sparse GeoTIFF holding the same blocks."""
    cols, step = 1296000, 1.0 / 3600
    raw = os.path.join(work, 'world%d.dem' % rows)
    tif = os.path.join(work, 'world%d.tif' % rows)
    patch = np.fromfile(ETOPO, dtype='<i2').reshape(2161, 4320)[:270, :270].copy()
    spots = [(0, 0), (min(rows - 270, 1080), cols // 3), (min(rows - 270, 2160), 2 * cols // 3)]
    if not os.path.exists(raw + '.pf'):
        with open(raw, 'wb') as f:
            f.truncate(rows * cols * 2)
            for r0, c0 in spots:
                for i in range(270):
                    f.seek(((r0 + i) * cols + c0) * 2)
                    f.write(patch[i].tobytes())
        write_pf(raw, rows, cols, step)
    if not os.path.exists(tif):
        from osgeo import gdal
        ds = gdal.GetDriverByName('GTiff').Create(tif, cols, rows, 1, gdal.GDT_Int16,
                                                  ['TILED=YES', 'BLOCKXSIZE=512', 'BLOCKYSIZE=512',
                                                   'COMPRESS=DEFLATE', 'SPARSE_OK=TRUE', 'BIGTIFF=YES'])
        ds.SetGeoTransform((-180.0, step, 0, 90.0, 0, -step))
        for r0, c0 in spots:
            ds.GetRasterBand(1).WriteArray(patch, c0, r0)
        ds = None
    return raw, tif, rows, cols


def pyramid(source, rows, cols):
    """Five levels whose rows of tiles all span 540 source rows (the band a
    build reads at once): 540 x 540 samples a tile at the finest level,
    then tiles as wide in samples and 540 / dec rows tall (a level cuts the
    rows and columns that do not fill its tiles)."""
    args = []
    for dec in LEVELS:
        nr = max(1, rows // 540)
        nc = max(1, cols // dec // 540)
        args += ['--grid', source, '--dec', str(dec), '--tiles', '%dx%d' % (nr, nc)]
    return args


def rss_anon(pid):
    try:
        with open('/proc/%d/status' % pid) as f:
            for line in f:
                if line.startswith('RssAnon:'):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def scratch_bytes(folder):
    total = 0
    for f in glob.glob(os.path.join(folder, '.orvex-scratch-*', 'grid.*')):
        try:
            total += os.stat(f).st_blocks * 512
        except OSError:
            pass
    return total


def run(orvex, args, work, threads):
    """Wall, CPU, peak anonymous memory and peak scratch of one build."""
    env = dict(os.environ)
    if threads:
        env['ORVEX_THREADS'] = str(threads)
    start = time.monotonic()
    p = subprocess.Popen([orvex] + args, cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak = {'anon': 0, 'scratch': 0}
    done = threading.Event()

    def watch():
        while not done.is_set():
            peak['anon'] = max(peak['anon'], rss_anon(p.pid))
            peak['scratch'] = max(peak['scratch'], scratch_bytes(work))
            time.sleep(0.005)
    t = threading.Thread(target=watch)
    t.start()
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    done.set()
    t.join()
    err = p.stderr.read().decode()
    if status != 0:
        sys.exit('scale-build: %s failed:\n%s' % (' '.join(args[:2]), err))
    return wall, usage.ru_utime + usage.ru_stime, peak['anon'], peak['scratch']


def mb(n):
    return '%.1f' % (n / 1e6)


def name_fields(m):
    """Offsets of the 512-byte source name opening each resolution record
    of the grid map `m` (a numpy array of its bytes)."""
    n = int(m[8:16].view('<i8')[0])
    at, fields = 16, []
    for _ in range(n):
        fields.append(at)
        ntiles = int(m[at + 840:at + 848].view('<i8')[0])
        at += 848 + 104 + 32 * ntiles
    return fields


def same_but_names(a, b):
    x, y = np.memmap(a, np.uint8, 'r'), np.memmap(b, np.uint8, 'r')
    if x.size != y.size:
        return False
    diff = np.flatnonzero(x != y)
    starts = np.array(name_fields(x))
    k = np.searchsorted(starts, diff, side='right') - 1
    return bool(np.all((k >= 0) & (diff < starts[np.maximum(k, 0)] + 512)))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--orvex', default=os.path.join(ROOT, 'build', 'dev', 'src', 'tools', 'orvex'))
    ap.add_argument('--work', default=os.path.join(ROOT, 'build', 'bench', 'scale'))
    ap.add_argument('--scales', default='1,4,16')
    ap.add_argument('--world-rows', type=int, default=5400)
    ap.add_argument('--threads', type=int, default=0)
    ap.add_argument('--kinds', default='raw,GDAL', help='sources to build: raw, GDAL or both (default)')
    ap.add_argument('--out')
    o = ap.parse_args()
    os.makedirs(o.work, exist_ok=True)
    cases = []
    for s in [int(x) for x in o.scales.split(',') if x]:
        raw, tif, rows, cols = make_scaled(o.work, s)
        cases += [('%dx raw' % s, raw, rows, cols), ('%dx GDAL' % s, tif, rows, cols)]
    if o.world_rows > 0:
        raw, tif, rows, cols = make_world(o.work, o.world_rows)
        cases += [('1" world, %d rows, raw' % rows, raw, rows, cols),
                  ('1" world, %d rows, GDAL' % rows, tif, rows, cols)]
    cases = [c for c in cases if c[0].split()[-1] in o.kinds.split(',')]
    raw_for = None  # the case whose raw output is kept, less its kind
    lines = ['| source | samples | wall s | CPU s | peak anon MB | peak scratch MB | output MB | bytes as raw |',
             '|---|---|---|---|---|---|---|---|']
    raw_out = os.path.join(o.work, 'out-raw.orx')
    for name, src, rows, cols in cases:
        gdal = name.endswith('GDAL')
        out = os.path.join(o.work, 'out-gdal.orx' if gdal else 'out-raw.orx')
        args = ['build', out, '--overwrite', '--quiet'] + pyramid(os.path.basename(src), rows, cols)
        wall, cpu, anon, scratch = run(o.orvex, args, o.work, o.threads)
        size = os.path.getsize(out)
        same = '-'
        if gdal and os.path.exists(raw_out) and raw_for == name[:-4]:
            same = 'same' if same_but_names(raw_out, out) else 'DIFFERENT'
        if not gdal:
            raw_for = name[:-3]
        lines.append('| %s | %d x %d | %.1f | %.1f | %s | %s | %s | %s |'
                     % (name, cols, rows, wall, cpu, mb(anon), mb(scratch), mb(size), same))
        print(lines[-1], flush=True)
    text = '\n'.join(lines) + '\n'
    print('\n' + text)
    if o.out:
        with open(o.out, 'w') as f:
            f.write(text)


if __name__ == '__main__':
    main()
