#!/usr/bin/env python3
"""Builds maps of the real relief grids Debian ships and checks every sample.

The netCDF grids of the ferret-datasets package (ETOPO5, 20, 40, 60 and 120:
4320 x 2161, 1081 x 540, 540 x 270, 360 x 180, 180 x 90 samples; rows at
both poles, a repeated seam column, steps that are no binary fraction) are
turned into raw grids by GDAL (gdal_translate), not by this project, and
each is built with `orvex build` at decimations 1, 2, 3, 4, 5 and 12, then
again from tile 3 of a 2 x 2 map of it. check_grid_samples.py reads every
output with its own reader and compares each sample with the source at the
sample's own position; `orvex query` is asked at sample positions. The
netCDF file is also built directly (orvex reads it through GDAL) and checked
against the same raw grid.

Usage: real_grids.py ORVEX WORKDIR [GRID...]   (grids: etopo5 etopo20 ...)
The package is fetched with `apt-get download` into WORKDIR when missing.
"""
import glob
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
GRIDS = ['etopo5', 'etopo20', 'etopo40', 'etopo60', 'etopo120']
# Decimation and tiling of each resolution: tilings that do not divide
# these sizes are cut to the largest that does.
PLAN = [(1, '2x2'), (2, '1x1'), (3, '2x4'), (4, '3x3'), (5, '1x2'), (12, '1x1')]


def run(cmd, **kw):
    print('+ ' + ' '.join(cmd), flush=True)
    return subprocess.run(cmd, check=True, **kw)


def fetch(workdir):
    found = glob.glob(os.path.join(workdir, 'root/usr/share/ferret-vis/data'))
    if found:
        return found[0]
    debs = glob.glob(os.path.join(workdir, 'ferret-datasets_*.deb'))
    if not debs:
        subprocess.run(['apt-get', 'download', 'ferret-datasets'], cwd=workdir, check=True)
        debs = glob.glob(os.path.join(workdir, 'ferret-datasets_*.deb'))
    run(['dpkg-deb', '-x', debs[0], os.path.join(workdir, 'root')])
    return os.path.join(workdir, 'root/usr/share/ferret-vis/data')


def to_raw(cdf, dem):
    """A raw little-endian int16 grid and its parameter file, by GDAL."""
    run(['gdal_translate', '-q', '-of', 'EHdr', '-ot', 'Int16', cdf, dem])
    info = json.loads(subprocess.run(['gdalinfo', '-json', cdf], check=True,
                                     capture_output=True, text=True).stdout)
    x0, dx, _, y0, _, dy = info['geoTransform']
    ncols, nrows = info['size']
    # GDAL gives the corner of the first cell; a sample lies at its centre.
    with open(dem + '.pf', 'w') as f:
        f.write('lat %.17g\ndlat %.17g\nlon %.17g\ndlon %.17g\nnlat %d\nnlon %d\n'
                % (y0 + dy / 2, dy, x0 + dx / 2, dx, nrows, ncols))
    return nrows, ncols


def build(orvex, out, source, extra=()):
    cmd = [orvex, 'build', out, '--overwrite', '--quiet']
    for dec, tiles in PLAN:
        cmd += ['--grid', source] + list(extra) + ['--dec', str(dec), '--tiles', tiles]
    run(cmd)


def check(out, source, orvex, extra=()):
    run([sys.executable, os.path.join(HERE, 'check_grid_samples.py'), out, source,
         '--query', orvex] + list(extra))


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    orvex, workdir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    grids = sys.argv[3:] or GRIDS
    os.makedirs(workdir, exist_ok=True)
    data = fetch(workdir)
    failed = []
    for name in grids:
        dem = os.path.join(workdir, name + '.dem')
        nrows, ncols = to_raw(os.path.join(data, name + '.cdf'), dem)
        print('%s: %d x %d samples' % (name, ncols, nrows), flush=True)
        whole, part = os.path.join(workdir, name + '.orx'), os.path.join(workdir, name + '-t3.orx')
        tiled = os.path.join(workdir, name + '-2x2.orx')
        try:
            build(orvex, whole, dem)
            check(whole, dem, orvex)
            # The netCDF grid itself, read through GDAL by orvex build.
            direct = os.path.join(workdir, name + '-gdal.orx')
            build(orvex, direct, os.path.join(data, name + '.cdf'))
            check(direct, dem, orvex)
            run([orvex, 'build', tiled, '--overwrite', '--quiet', '--grid', dem, '--tiles', '2x2'])
            build(orvex, part, tiled, ['--tile', '3'])
            check(part, tiled, orvex, ['--source-tile', '3'])
        except subprocess.CalledProcessError as e:
            failed.append('%s: %s' % (name, e))
    for f in failed:
        print('FAILED ' + f)
    print('real grids: %d of %d checked without a fault' % (len(grids) - len(failed), len(grids)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
