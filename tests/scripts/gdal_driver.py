#!/usr/bin/env python3
"""Map files read in place by GDAL's own programs through the ORX plugin.

Every grid subdataset, copied by gdal_translate, must equal `orvex export` of
the resolution sample for sample (with its geotransform and no-data);
gdallocationinfo must give what `orvex query` gives; ogr2ogr of every vector
layer must give `orvex export`'s features; rasterio (where installed) reads a
window; damaged files fail with the library's reason and no crash.

Usage: gdal_driver.py ORVEX TESTDATA PLUGIN_DIR WORKDIR [MAP...]
TESTDATA is the test suite's file maker (orvex_testdata). Maps named after
WORKDIR are checked as well, and the map that ORVEX_DRIVER_MAP names (the
default map, built from Debian's relief, colour and shoreline data: about
three minutes, so not in the suite's runs by default).
"""
import json
import os
import re
import shutil
import subprocess
import sys

ORVEX, TESTDATA, PLUGINS, WORK = sys.argv[1:5]
EXTRA_MAPS = sys.argv[5:]
os.environ['GDAL_DRIVER_PATH'] = PLUGINS
os.environ.pop('GDAL_SKIP', None)

import numpy as np  # noqa: E402
from osgeo import gdal, ogr  # noqa: E402

gdal.UseExceptions()
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL: ' + what, flush=True)


def run(cmd, ok=True):
    p = subprocess.run(cmd, capture_output=True, text=True)
    if ok and p.returncode != 0:
        raise RuntimeError('%s failed (%d): %s' % (' '.join(cmd), p.returncode, p.stderr))
    return p


def work(name):
    return os.path.join(WORK, name)


def make_maps():
    """The suite's hand-made map, and a map built here from a world grid of
    two decimations (so the coarser is an overview of the finer), a colour
    grid and a filled shoreline."""
    run([TESTDATA, 'map', work('hand.orx')])
    run([TESTDATA, 'sources', WORK])
    rows, cols = 120, 240
    y, x = np.mgrid[0:rows, 0:cols]
    z = ((np.sin(x / 9.0) * np.cos(y / 7.0)) * 3000).astype(np.int16)
    z[10:20, 30:50] = -9999
    ds = gdal.GetDriverByName('GTiff').Create(work('relief.tif'), cols, rows, 1, gdal.GDT_Int16)
    ds.SetGeoTransform([-180, 1.5, 0, 90, 0, -1.5])
    ds.GetRasterBand(1).SetNoDataValue(-9999)
    ds.GetRasterBand(1).WriteArray(z)
    ds = None
    rgb = gdal.GetDriverByName('GTiff').Create(work('colour.tif'), 96, 48, 3, gdal.GDT_Byte)
    rgb.SetGeoTransform([-180, 3.75, 0, 90, 0, -3.75])
    for b in range(3):
        rgb.GetRasterBand(b + 1).WriteArray(((x[:48, :96] * (b + 1) + y[:48, :96] * 3) % 256).astype(np.uint8))
    rgb = None
    run([ORVEX, 'build', work('built.orx'), '--overwrite',
         '--grid', work('relief.tif'), '--tiles', '2x3', '--name', 'relief',
         '--grid', work('relief.tif'), '--dec', '2', '--tiles', '1x2', '--name', 'relief2',
         '--grid', work('colour.tif'), '--tiles', '2x2', '--name', 'colour',
         '--vector', work('shore.gshhs'), '--fill', '--name', 'shore'])
    return [work('hand.orx'), work('built.orx')]


def subdatasets(path):
    ds = gdal.OpenEx(path, gdal.OF_RASTER)
    names = [v for k, v in sorted(ds.GetMetadata('SUBDATASETS').items()) if k.endswith('_NAME')]
    return [(n, int(n.rsplit(':', 1)[1])) for n in names]


def exported(path, k, suffix):
    out = work('export-%d%s' % (k, suffix))
    if os.path.exists(out):
        os.remove(out)
    run([ORVEX, 'export', path, '--res', str(k), out])
    return out


def check_grids(path):
    """gdal_translate of every subdataset against the export, and the
    geotransform gdalinfo shows."""
    for name, k in subdatasets(path):
        copy = work('translated-%d.tif' % k)
        run(['gdal_translate', '-q', name, copy])
        ours, theirs = gdal.Open(copy), gdal.Open(exported(path, k, '.tif'))
        what = '%s resolution %d' % (os.path.basename(path), k)
        check(ours.RasterCount == theirs.RasterCount, what + ': band count')
        check(np.array_equal(ours.ReadAsArray(), theirs.ReadAsArray()), what + ': samples differ from the export')
        check(ours.GetRasterBand(1).GetNoDataValue() == theirs.GetRasterBand(1).GetNoDataValue(), what + ': no-data')
        info = json.loads(run(['gdalinfo', '-json', name]).stdout)
        check(np.allclose(info['geoTransform'], theirs.GetGeoTransform(), rtol=0, atol=1e-12),
              what + ': geotransform %s, export %s' % (info['geoTransform'], theirs.GetGeoTransform()))
        check(info['bands'][0]['block'] == [int(v) for v in block_of(path, k)], what + ': blocks are not tiles')


def block_of(path, k):
    out = run([ORVEX, 'info', path]).stdout
    section = out.split('Resolution %d:' % k)[1]
    m = re.search(r'tile (\d+) x (\d+) samples', section)
    return m.group(1), m.group(2)


def check_locations(path):
    """gdallocationinfo at sample positions and between them equals the
    sample `orvex query` names."""
    for name, k in subdatasets(path):
        ds = gdal.Open(name)
        t = ds.GetGeoTransform()
        for fx, fy, dx, dy in [(0.1, 0.1, 0.5, 0.5), (0.37, 0.61, 0.2, 0.8), (0.9, 0.45, 0.8, 0.3), (0.5, 0.99, 0.5, 0.5)]:
            lon = t[0] + (int(fx * ds.RasterXSize) + dx) * t[1]
            lat = t[3] + (int(fy * ds.RasterYSize) + dy) * t[5]
            p = run(['gdallocationinfo', '-valonly', '-wgs84', name, repr(lon), repr(lat)])
            values = [int(float(v)) for v in p.stdout.split()]
            q = run([ORVEX, 'query', repr(lat), repr(lon), path]).stdout
            line = [l for l in q.splitlines() if l.startswith('Resolution %d ' % k)][0]
            m = re.search(r'(elevation|colour) ([-\d ]+)$', line)
            expect = [int(v) for v in m.group(2).split()] if m else None
            check(values == expect, '%s res %d at %f %f: gdallocationinfo %s, query %s'
                  % (os.path.basename(path), k, lat, lon, values, line))


def features(path, layer=None):
    ds = ogr.Open(path)
    lyr = ds.GetLayerByName(layer) if layer else ds.GetLayer(0)
    return [(f.GetField('level'), f.GetField('filled'), f.GetField('tile'), f.GetGeometryRef().ExportToWkt())
            for f in lyr]


def check_layers(path):
    """ogr2ogr of every layer against the export's features."""
    ds = ogr.Open(path)
    if ds is None:  # a map of grids only is no vector dataset
        return
    for i in range(ds.GetLayerCount()):
        lyr = ds.GetLayer(i)
        name, k = lyr.GetName(), int(lyr.GetMetadataItem('RESOLUTION_INDEX'))
        copy = work('layer-%d.geojson' % k)
        if os.path.exists(copy):
            os.remove(copy)
        run(['ogr2ogr', '-f', 'GeoJSON', copy, path, name])
        ours, theirs = features(copy), features(exported(path, k, '.geojson'))
        what = '%s layer %s' % (os.path.basename(path), name)
        check(len(ours) > 0 and ours == theirs, what + ': %d features, export %d' % (len(ours), len(theirs)))


def check_overviews(path):
    """The coarser resolution of the same source serves as the overview."""
    fine, coarse = gdal.Open('ORX:"%s":0' % path), gdal.Open('ORX:"%s":1' % path)
    band = fine.GetRasterBand(1)
    check(band.GetOverviewCount() == 1, 'overviews: %d, not 1' % band.GetOverviewCount())
    if band.GetOverviewCount() == 1:
        check(np.array_equal(band.GetOverview(0).ReadAsArray(), coarse.ReadAsArray()),
              'the overview differs from resolution 1')
    colour = gdal.Open('ORX:"%s":2' % path)
    check(colour.GetRasterBand(1).GetOverviewCount() == 0, 'the colour grid has an elevation overview')


def check_rasterio(path):
    try:
        import rasterio
        from rasterio.windows import Window
    except ImportError:
        print('rasterio is not installed: its check is skipped')
        return
    name = 'ORX:"%s":0' % path
    with rasterio.Env(GDAL_DRIVER_PATH=PLUGINS), rasterio.open(name) as src:
        window = src.read(1, window=Window(7, 5, 50, 30))
    check(np.array_equal(window, gdal.Open(name).ReadAsArray(7, 5, 50, 30)), 'rasterio reads another window')


def failure_of(cmd):
    """A program's failure: it must exit with a status, not a signal."""
    p = run(cmd, ok=False)
    check(p.returncode > 0, '%s: status %d (a crash, or success on a damaged file)' % (' '.join(cmd), p.returncode))
    return p.stderr


def check_damaged(built):
    """Damaged files fail with the library's reason, through every program."""
    reasons = {'magic': 'wrong magic number', 'truncate': 'past the end of the file',
               'huge': 'too large'}
    for defect, reason in reasons.items():
        bad = work('bad-%s.orx' % defect)
        run([TESTDATA, 'map', bad, defect])
        for cmd in (['gdalinfo', bad], ['ogrinfo', '-ro', bad], ['gdalinfo', 'ORX:"%s":0' % bad]):
            err = failure_of(cmd)
            if defect != 'magic' or cmd[-1].startswith('ORX:'):
                check(reason in err, '%s: the reason "%s" is not in: %s' % (' '.join(cmd), reason, err.strip()))
    # A tile that does not inflate: the map opens, the read of that block fails.
    bad = work('bad-payload.orx')
    run([TESTDATA, 'map', bad, 'payload'])
    err = failure_of(['gdal_translate', '-q', 'ORX:"%s":0' % bad, work('bad.tif')])
    check('cannot read tile 1 of resolution 0' in err, 'unreadable tile: ' + err.strip())
    # Half a built map, a flipped byte in the header and one in the index.
    data = bytearray(open(built, 'rb').read())
    variants = {'half': data[:len(data) // 2], 'count': data[:8] + b'\xff' + data[9:],
                'index': data[:]}
    # The first tile index entry of resolution 0 follows its 848-byte record
    # and 104-byte grid header: its payload size gets a high byte.
    variants['index'][24 + 848 + 104 + 16 + 6] ^= 0x7f
    for what, content in variants.items():
        bad = work('damaged-%s.orx' % what)
        with open(bad, 'wb') as f:
            f.write(content)
        for cmd in (['gdalinfo', bad], ['ogrinfo', '-ro', '-al', bad], ['gdalinfo', '-stats', 'ORX:"%s":0' % bad]):
            err = failure_of(cmd)
            check('ORX: cannot open' in err or 'ORX: cannot read tile' in err,
                  '%s: no reason given: %s' % (' '.join(cmd), err.strip()))
    # Names that are no subdataset of a map.
    for name in ('ORX:"%s":99' % built, 'ORX:"%s":3' % built, 'ORX:"%s":x' % built, 'ORX:nothing'):
        failure_of(['gdalinfo', name])
    # Maps open read-only.
    try:
        gdal.OpenEx(built, gdal.OF_UPDATE | gdal.OF_RASTER)
        check(False, 'a map opened for update')
    except RuntimeError as e:
        check('read-only' in str(e), 'update refused without saying why: %s' % e)


def main():
    if os.path.isdir(WORK):
        shutil.rmtree(WORK)
    os.makedirs(WORK)
    check(gdal.GetDriverByName('ORX') is not None, 'GDAL does not load the ORX plugin from ' + PLUGINS)
    hand, built = make_maps()
    named = [os.environ['ORVEX_DRIVER_MAP']] if os.environ.get('ORVEX_DRIVER_MAP') else []
    maps = [hand, built] + [m for m in EXTRA_MAPS + named if os.path.exists(m)]
    for path in maps:
        print('checking ' + path, flush=True)
        check_grids(path)
        check_locations(path)
        check_layers(path)
    check_overviews(built)
    check_rasterio(built)
    check_damaged(built)
    if failures:
        print('%d checks failed' % len(failures))
        return 1
    print('all checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
