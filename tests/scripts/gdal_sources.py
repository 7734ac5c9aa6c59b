#!/usr/bin/python3
"""Rasters and vectors of GIS formats, made here with GDAL's own API, built
into maps and exported back, every value compared with GDAL's reading.

For each raster (int16, float32 with no-data, scale and offset, south-up,
projected, paletted, three colour bands, pixel-is-point, netCDF) the map
that `orvex build` makes is read with check_grid_samples' own reader of the
file layout and compared sample by sample with what GDAL reads at the same
place: the values converted here with numpy (no-data -> -9999, scale and
offset, rounding half away from zero, clamping, palette lookup), the
position of the first sample from GDAL's transform (or the raw tie point,
or netCDF's coordinate variables). Projected rasters are compared with
GDAL's own warp (nearest sample). `orvex query` on the raster itself must
answer the map's samples. Exports are read back with GDAL and OGR: extent,
spacing, no-data, layout and every value. Damaged and unsupported files
are refused with a clear message, leaving neither output nor scratch
folder behind.

Usage: gdal_sources.py ORVEX WORKDIR
"""
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

import numpy as np
from osgeo import gdal, ogr, osr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_grid_samples import Grid, MapFile, check_queries, check_resolution  # noqa: E402

gdal.UseExceptions()
NODATA = -9999
ORVEX = WORK = None
failures = []


def orvex(*args, expect=0):
    p = subprocess.run([ORVEX] + [str(a) for a in args], cwd=WORK, capture_output=True, text=True,
                       env=dict(os.environ, TMPDIR=WORK))
    if (p.returncode == 0) != (expect == 0) or (expect and p.returncode != expect):
        raise AssertionError('orvex %s: exit %d\n%s%s' % (' '.join(map(str, args)), p.returncode, p.stdout,
                                                           p.stderr))
    return p.stdout + p.stderr


def check(name, problems):
    print('%s: %s' % (name, 'ok' if not problems else '; '.join(problems)), flush=True)
    if problems:
        failures.append(name)


def wgs84():
    s = osr.SpatialReference()
    s.ImportFromEPSG(4326)
    return s


def make_raster(name, array, transform, srs=None, nodata=None, scale=None, offset=None, palette=None,
                driver='GTiff', options=None, metadata=None):
    bands = array.shape[0] if array.ndim == 3 else 1
    types = {np.int16: gdal.GDT_Int16, np.float32: gdal.GDT_Float32, np.uint8: gdal.GDT_Byte,
             np.float64: gdal.GDT_Float64, np.int32: gdal.GDT_Int32}
    mem = gdal.GetDriverByName('MEM').Create('', array.shape[-1], array.shape[-2], bands,
                                             types[array.dtype.type])
    mem.SetGeoTransform(transform)
    if srs is not None:
        mem.SetSpatialRef(srs)
    if metadata:
        mem.SetMetadata(metadata)
    for b in range(bands):
        band = mem.GetRasterBand(b + 1)
        band.WriteArray(array[b] if array.ndim == 3 else array)
        if nodata is not None:
            band.SetNoDataValue(nodata)
        if scale is not None:
            band.SetScale(scale)
            band.SetOffset(offset)
    if palette is not None:
        table = gdal.ColorTable()
        for i, c in enumerate(palette):
            table.SetColorEntry(i, tuple(int(v) for v in c) + (255,))
        mem.GetRasterBand(1).SetRasterColorTable(table)
        mem.GetRasterBand(1).SetRasterColorInterpretation(gdal.GCI_PaletteIndex)
    path = os.path.join(WORK, name)
    gdal.GetDriverByName(driver).CreateCopy(path, mem, options=options or [])
    return path


def elevations(raw, nodata=None, scale=1.0, offset=0.0):
    """The map's elevations of raw samples, and the count clamped."""
    raw = raw.astype(np.float64)
    missing = np.isnan(raw)
    if nodata is not None:
        missing |= raw == nodata
    with np.errstate(invalid='ignore', over='ignore'):
        v = raw * scale + offset
        r = np.sign(v) * np.floor(np.abs(v) + 0.5)
        clamped = (~missing) & ~((r >= -32768) & (r <= 32767))
        out = np.clip(np.nan_to_num(r, nan=-32768.0), -32768, 32767)
    out[missing] = NODATA
    return out.astype(np.int16), int(clamped.sum())


def grid_problems(mapfile, want, lon0, lat0, dlon, dlat):
    res = mapfile.resolutions[0]
    got = mapfile.grid(0)
    problems = []
    for key, value in (('lon_start', lon0), ('lat_start', lat0), ('dlon', dlon), ('dlat', dlat)):
        if abs(res[key] - value) > 1e-9 * max(1.0, abs(value)):
            problems.append('%s %r, expected %r' % (key, res[key], value))
    if got.shape != want.shape:
        return problems + ['%s samples, expected %s' % (got.shape, want.shape)]
    bad = np.argwhere(got != want)
    if len(bad):
        y, x = bad[0][:2]
        problems.append('%d samples differ; first at row %d column %d: %s, expected %s'
                        % (len(bad), y, x, got[y, x].tolist(), want[y, x].tolist()))
    return problems


def build_and_compare(name, source, want, placement, extra=(), clamped=None, queries=True):
    """Builds `source` whole (decimation 1, one tile) and
    compares every sample; `want` is GDAL's reading converted here."""
    out = name + '.orx'
    log = orvex('build', out, '--grid', source, '--tiles', '1x1', *extra, '--overwrite')
    problems = grid_problems(MapFile(os.path.join(WORK, out)), want, *placement)
    m = re.search(r'(\d+) clamped', log)
    if clamped is not None and (not m or int(m.group(1)) != clamped):
        problems.append('reported %s clamped, expected %d' % (m and m.group(1), clamped))
    if queries:  # the raster itself, read as build reads it without options
        problems += check_queries(MapFile(os.path.join(WORK, out)), source, 0, ORVEX, count=6)
    check('build ' + name, problems)
    return out


def centre(t):
    return t[0] + t[1] / 2, t[3] + t[5] / 2, t[1], t[5]


def rasters():
    rng = np.random.default_rng(20261208)
    t = (-20.3, 0.25, 0, 50.1, 0, -0.25)

    a = rng.integers(-32768, 32767, (23, 37), dtype=np.int16)
    src = make_raster('int16.tif', a, t, wgs84(), options=['TILED=YES', 'BLOCKXSIZE=16', 'BLOCKYSIZE=16'])
    build_and_compare('int16', src, a, centre(t))

    f = (rng.standard_normal((19, 29)) * 30000).astype(np.float32)
    f[3, 4] = -1e30
    f[5, :] = np.nan
    f[0, 0] = 1e30
    f[1, 1] = 2.25   # 2 * 2.25 - 5 = -0.5: rounds away from zero, to -1
    f[2, 2] = 2.75   # 0.5: to 1
    want, clamped = elevations(f, np.float32(-1e30), 2.0, -5.0)
    src = make_raster('float32.tif', f, t, wgs84(), nodata=-1e30, scale=2.0, offset=-5.0)
    build_and_compare('float32', src, want, centre(t), clamped=clamped)

    south = (100.0, 0.5, 0, -60.0, 0, 0.5)
    s = rng.integers(-500, 9000, (12, 10), dtype=np.int16)
    src = make_raster('south.tif', s, south, wgs84())
    build_and_compare('south_up', src, s, centre(south))

    # Pixel-is-point: the stored tie point is the first sample's position.
    p = rng.integers(0, 3000, (8, 9), dtype=np.int16)
    src = make_raster('point.tif', p, (5.0, 1.0, 0, 45.0, 0, -1.0), wgs84(), metadata={'AREA_OR_POINT': 'Point'})
    gdal.SetConfigOption('GTIFF_POINT_GEO_IGNORE', 'YES')
    tie = gdal.Open(src).GetGeoTransform()
    gdal.SetConfigOption('GTIFF_POINT_GEO_IGNORE', None)
    build_and_compare('pixel_is_point', src, p, (tie[0], tie[3], tie[1], tie[5]))

    # netCDF keeps the samples' own longitudes and latitudes.
    n = rng.integers(-100, 100, (6, 7), dtype=np.int16)
    src = make_raster('grid.nc', n, (10.0, 2.0, 0, 30.0, 0, -2.0), wgs84(), driver='netCDF')
    lon = gdal.Open('NETCDF:"%s":lon' % src).ReadAsArray().ravel()
    lat = gdal.Open('NETCDF:"%s":lat' % src).ReadAsArray().ravel()
    rows = gdal.Open(src).ReadAsArray()
    build_and_compare('netcdf', src, rows, (lon[0], lat.max(), lon[1] - lon[0], -abs(lat[1] - lat[0])))

    utm = osr.SpatialReference()
    utm.ImportFromEPSG(32632)
    pr = rng.integers(0, 4000, (40, 50), dtype=np.int16)
    src = make_raster('utm.tif', pr, (400000.0, 2000.0, 0, 5200000.0, 0, -2000.0), utm, nodata=0)
    for name, extra, opts in (('projected', (), {}), ('projected_spacing', ('--spacing', '0.05'),
                                                     {'xRes': 0.05, 'yRes': 0.05})):
        warped = gdal.Warp('', src, format='MEM', dstSRS='EPSG:4326', resampleAlg='near', outputType=gdal.GDT_Float64,
                           dstNodata=float('nan'), **opts)
        want, _ = elevations(warped.ReadAsArray())
        build_and_compare(name, src, want, centre(warped.GetGeoTransform()), extra, queries=not extra)

    colours = rng.integers(0, 256, (256, 3))
    idx = rng.integers(0, 256, (9, 11), dtype=np.uint8)
    src = make_raster('palette.tif', idx, t, wgs84(), palette=colours)
    build_and_compare('palette', src, colours[idx].astype(np.uint8), centre(t))

    rgb = rng.integers(0, 256, (3, 7, 5), dtype=np.uint8)
    src = make_raster('rgb.tif', rgb, t, wgs84())
    build_and_compare('rgb', src, np.moveaxis(rgb, 0, -1), centre(t))


def exports():
    m = MapFile(os.path.join(WORK, 'int16.orx'))
    res = m.resolutions[0]
    grid = m.grid(0)
    orvex('export', 'int16.orx', '--res', '0', 'int16-out.tif', '--overwrite')
    info = gdal.Info(os.path.join(WORK, 'int16-out.tif'), format='json')
    ds = gdal.Open(os.path.join(WORK, 'int16-out.tif'))
    problems = []
    t = ds.GetGeoTransform()
    if abs(t[0] + t[1] / 2 - res['lon_start']) > 1e-9 or abs(t[3] + t[5] / 2 - res['lat_start']) > 1e-9:
        problems.append('first cell centred at %r %r' % (t[0] + t[1] / 2, t[3] + t[5] / 2))
    if (t[1], t[5]) != (res['dlon'], res['dlat']):
        problems.append('spacing %r %r' % (t[1], t[5]))
    band = info['bands'][0]
    if band.get('noDataValue') != NODATA or band['type'] != 'Int16':
        problems.append('band %s' % band)
    image = info['metadata'].get('IMAGE_STRUCTURE', {})
    if image.get('LAYOUT') != 'COG' or image.get('COMPRESSION') != 'DEFLATE':
        problems.append('structure %s' % image)
    if not np.array_equal(ds.ReadAsArray(), grid):
        problems.append('values differ')
    # A region: the samples whose positions lie within it.
    orvex('export', 'int16.orx', '--res', '0', '--region', '-18/-15/46/48.5', 'part.nc', '--overwrite')
    part = gdal.Open(os.path.join(WORK, 'part.nc'))
    pt = part.GetGeoTransform()
    j0 = int(round((pt[0] + pt[1] / 2 - res['lon_start']) / res['dlon']))
    i0 = int(round((pt[3] + pt[5] / 2 - res['lat_start']) / res['dlat']))
    lat0 = res['lat_start'] + i0 * res['dlat']
    lon0 = res['lon_start'] + j0 * res['dlon']
    if not (46 <= lat0 + (part.RasterYSize - 1) * res['dlat'] and lat0 <= 48.5 and -18 <= lon0 and
            lon0 + (part.RasterXSize - 1) * res['dlon'] <= -15) or lat0 + res['dlat'] * -1 <= 48.5 - 1e-9:
        problems.append('region samples from lat %r lon %r, %d x %d' % (lat0, lon0, part.RasterYSize,
                                                                        part.RasterXSize))
    if not np.array_equal(part.ReadAsArray(), grid[i0:i0 + part.RasterYSize, j0:j0 + part.RasterXSize]):
        problems.append('region values differ')
    orvex('export', 'rgb.orx', '--res', '0', 'rgb-out.tif', '--overwrite')
    rgb = gdal.Open(os.path.join(WORK, 'rgb-out.tif')).ReadAsArray()
    if not np.array_equal(np.moveaxis(rgb, 0, -1), MapFile(os.path.join(WORK, 'rgb.orx')).grid(0)):
        problems.append('colour values differ')
    check('export grids', problems)
    many_tiles()


def many_tiles():
    """A map whose row of tiles holds more than the cache's 1000 entries,
    exported whole and in part: every sample as numpy reads the map."""
    a = np.random.default_rng(7).integers(-9000, 9000, (4, 2400), dtype=np.int16)
    src = make_raster('wide.tif', a, (-180.0, 0.15, 0, 0.6, 0, -0.15), wgs84())
    orvex('build', 'wide.orx', '--grid', src, '--tiles', '2x1200', '--overwrite')
    grid = MapFile(os.path.join(WORK, 'wide.orx')).grid(0)
    problems = [] if np.array_equal(grid, a) else ['the map differs from its source']
    orvex('export', 'wide.orx', '--res', '0', 'wide-out.tif', '--overwrite')
    if not np.array_equal(gdal.Open(os.path.join(WORK, 'wide-out.tif')).ReadAsArray(), grid):
        problems.append('values of 2400 tiles differ')
    orvex('export', 'wide.orx', '--res', '0', '--region', '-100/100/-1/1', 'wide-part.tif', '--overwrite')
    part = gdal.Open(os.path.join(WORK, 'wide-part.tif'))
    j0 = int(round((part.GetGeoTransform()[0] - (-180.0)) / 0.15))  # cells centred on samples
    if not np.array_equal(part.ReadAsArray(), grid[:, j0:j0 + part.RasterXSize]):
        problems.append('values of a region across 1000 tiles differ')
    check('export of 2400 tiles', problems)


def vectors():
    """A projected GeoJSON through shp2db and build, exported back."""
    merc = osr.SpatialReference()
    merc.ImportFromEPSG(3857)
    path = os.path.join(WORK, 'merc.geojson')
    ds = ogr.GetDriverByName('GeoJSON').CreateDataSource(path)
    layer = ds.CreateLayer('shapes', merc)
    layer.CreateField(ogr.FieldDefn('kind', ogr.OFTInteger))
    shapes = ['POLYGON ((0 0,1000000 0,1000000 1000000,0 1000000,0 0))',
              'LINESTRING (-2000000 3000000,-1500000 3500000,-1000000 3000000)',
              'POINT (5 5)', 'POLYGON EMPTY',
              'GEOMETRYCOLLECTION (POINT (1 1),LINESTRING (0 0,1 1))',
              'MULTIPOLYGON (((2000000 2000000,2500000 2000000,2500000 2500000,2000000 2000000)))',
              'MULTIPOINT (1 1,2 2)']
    for k, wkt in enumerate(shapes):
        f = ogr.Feature(layer.GetLayerDefn())
        f.SetField('kind', k)
        f.SetGeometry(ogr.CreateGeometryFromWkt(wkt))
        layer.CreateFeature(f)
    layer = ds = None
    for leftover in ('merc.db', 'merc.orx', 'merc-out.geojson', 'merc-out.gpkg'):
        if os.path.exists(os.path.join(WORK, leftover)):
            os.remove(os.path.join(WORK, leftover))
    log = orvex('shp2db', '--where', 'kind <> 2', 'merc.geojson', 'merc.db')
    problems = []
    if '3 records (2 polygons, 1 lines); left out 1 points, 1 unsupported, 1 empty' not in log:
        problems.append('shp2db said: ' + log.strip())
    orvex('build', 'merc.orx', '--vector', 'merc.db', '--level', '2')
    to_lonlat = osr.CoordinateTransformation(merc, wgs84())
    expected = set()
    for wkt in (shapes[0], shapes[5]):
        g = ogr.CreateGeometryFromWkt(wkt)
        g.Transform(to_lonlat)
        ring = g.GetGeometryRef(0) if g.GetGeometryType() == ogr.wkbPolygon else g.GetGeometryRef(0).GetGeometryRef(0)
        # EPSG:4326 in GDAL's authority order: latitude first.
        expected.add(tuple((round(p[1] * 1e6), round(p[0] * 1e6)) for p in ring.GetPoints()))
    for out in ('merc-out.geojson', 'merc-out.gpkg'):
        orvex('export', 'merc.orx', '--res', '0', out)
        got = set()
        exported = ogr.Open(os.path.join(WORK, out))  # kept open while its layer is read
        for f in exported.GetLayer(0):
            if f.GetField('level') != 2:
                problems.append('%s: level %s' % (out, f.GetField('level')))
            g = f.GetGeometryRef()
            line = g if g.GetGeometryType() == ogr.wkbLineString else g.GetGeometryRef(0)
            got.add(tuple((round(p[0] * 1e6), round(p[1] * 1e6)) for p in line.GetPoints()))
        if not expected <= got or len(got) != 3:
            problems.append('%s: %d features, polygons %s' % (out, len(got), 'match' if expected <= got
                                                               else 'differ'))
    check('vector source and exports', problems)


def scratch_watched(args):
    """Runs orvex with `args` while watching the disk blocks of its scratch
    grids; the exit status, the output and the most bytes seen."""
    most = [0]
    done = threading.Event()

    def watch():
        while not done.is_set():
            for f in glob.glob(os.path.join(WORK, '.orvex-scratch-*', 'grid.*')):
                try:
                    most[0] = max(most[0], os.stat(f).st_blocks * 512)
                except OSError:
                    pass
            time.sleep(0.001)
    t = threading.Thread(target=watch)
    t.start()
    p = subprocess.run([ORVEX] + args, cwd=WORK, capture_output=True, text=True, env=dict(os.environ, TMPDIR=WORK))
    done.set()
    t.join()
    return p.returncode, p.stdout + p.stderr, most[0]


def streamed():
    """A raster four times the scratch limit: built a band of rows at a time
    on one and two threads, every sample of every level as numpy makes it
    from GDAL's reading and as the same build from a raw grid of it makes
    it, the raster read once for all four levels, the scratch never past
    the limit; a band larger than the limit is refused."""
    rng = np.random.default_rng(20261209)
    rows, cols = 1200, 2400
    a = rng.integers(-500, 4000, (rows, cols), dtype=np.int16)
    a[rng.random((rows, cols)) < 0.1] = -32000
    t = (-60.0, 0.05, 0, 75.0, 0, -0.05)
    src = make_raster('big.tif', a, t, wgs84(), nodata=-32000,
                      options=['TILED=YES', 'BLOCKXSIZE=64', 'BLOCKYSIZE=64', 'COMPRESS=DEFLATE'])
    want, _ = elevations(gdal.Open(src).ReadAsArray(), -32000)
    lon0, lat0, dlon, dlat = centre(t)
    reference = Grid(lat0, dlat, lon0, dlon, want, False)
    limit = 2 << 20  # the grid is 5.76 MB
    pyramid = ['--grid', 'big.tif', '--dec', '1', '--tiles', '12x8', '--grid', 'big.tif', '--dec', '2',
               '--tiles', '12x4', '--grid', 'big.tif', '--dec', '4', '--tiles', '12x2', '--grid', 'big.tif',
               '--dec', '3', '--tiles', '8x1']
    problems = []
    want.astype('<i2').tofile(os.path.join(WORK, 'big.dem'))
    with open(os.path.join(WORK, 'big.dem.pf'), 'w') as f:
        f.write('lat %.17g\ndlat %.17g\nlon %.17g\ndlon %.17g\nnlat %d\nnlon %d\n' % (lat0, dlat, lon0, dlon, rows, cols))
    orvex('build', 'from-raw.orx', '--overwrite', *[a.replace('big.tif', 'big.dem') for a in pyramid])
    from_raw = MapFile(os.path.join(WORK, 'from-raw.orx'))
    for threads in ('1', '2'):
        os.environ['ORVEX_THREADS'] = threads
        rc, log, most = scratch_watched(['build', 'streamed.orx', '--scratch-mb', '2', '--overwrite'] + pyramid)
        del os.environ['ORVEX_THREADS']
        if rc != 0:
            problems.append('%s threads: exit %d: %s' % (threads, rc, log.strip()))
            continue
        m = MapFile(os.path.join(WORK, 'streamed.orx'))
        for k in range(4):
            problems += ['%s threads, resolution %d: %s' % (threads, k, p) for p in check_resolution(m, k, reference)]
            if not np.array_equal(m.grid(k), from_raw.grid(k)):
                problems.append('%s threads, resolution %d differs from the build from the raw grid' % (threads, k))
        if os.path.getsize(os.path.join(WORK, 'streamed.orx')) != os.path.getsize(os.path.join(WORK, 'from-raw.orx')):
            problems.append('%s threads: not the size of the build from the raw grid' % threads)
        read = re.search(r'(\d+) rows read', log)
        if not read or int(read.group(1)) != rows:
            problems.append('%s threads: %s, expected %d rows read once for all levels' % (threads, read and read.group(0), rows))
        if most > limit:
            problems.append('%s threads: %d bytes of scratch, more than %d' % (threads, most, limit))
        said = re.search(r'(\d+) bytes of scratch at most', log)
        if not said or not 0 < int(said.group(1)) <= limit:
            problems.append('%s threads: reported %s' % (threads, said and said.group(0)))
        if not re.search(r'%d without value' % int((a == -32000).sum()), log):
            problems.append('%s threads: no-data count not reported: %s' % (threads, log.strip()))
    # Tiles of 600 source rows need 2.9 MB at once.
    rc, log, most = scratch_watched(['build', 'refused.orx', '--scratch-mb', '2', '--grid', 'big.tif', '--dec',
                                     '2', '--tiles', '1x1'])
    if rc == 0 or not re.search(r'rows 0 to \d+ of big.tif need \d+ bytes of scratch.*limit of 2097152', log) \
            or os.path.exists(os.path.join(WORK, 'refused.orx')) or most > limit:
        problems.append('band over the limit: exit %d, %d bytes: %s' % (rc, most, log.strip()))
    check('streamed under a scratch limit', problems)

    # A sparse GeoTIFF without no-data: the blocks it never wrote are zeros
    # that are not read; those it wrote are.
    sparse = os.path.join(WORK, 'sparse.tif')
    ds = gdal.GetDriverByName('GTiff').Create(sparse, 4096, 300, 1, gdal.GDT_Int16,
                                              ['TILED=YES', 'BLOCKXSIZE=64', 'BLOCKYSIZE=64', 'SPARSE_OK=TRUE'])
    ds.SetGeoTransform((-180.0, 360.0 / 4096, 0, 80.0, 0, -0.1))
    ds.GetRasterBand(1).WriteArray(rng.integers(1, 3000, (70, 90), dtype=np.int16), 1500, 100)
    ds = None
    want = gdal.Open(sparse).ReadAsArray().astype(np.int16)
    lon0, lat0, dlon, dlat = centre((-180.0, 360.0 / 4096, 0, 80.0, 0, -0.1))
    orvex('build', 'sparse.orx', '--grid', 'sparse.tif', '--tiles', '5x4', '--grid', 'sparse.tif', '--dec', '3',
          '--tiles', '5x2', '--overwrite')
    m = MapFile(os.path.join(WORK, 'sparse.orx'))
    check('sparse GeoTIFF', [p for k in range(2) for p in check_resolution(m, k, Grid(lat0, dlat, lon0, dlon, want,
                                                                                     False))])


def wide():
    """A raster wider than a third of INT_MAX (a VRT without sources, all
    zeros): opened and queried, not refused for its size."""
    path = os.path.join(WORK, 'wide.vrt')
    with open(path, 'w') as f:
        f.write('<VRTDataset rasterXSize="800000000" rasterYSize="2"><SRS>EPSG:4326</SRS>'
                '<GeoTransform>-180, 4.5e-7, 0, 90, 0, -90</GeoTransform>'
                '<VRTRasterBand dataType="Int16" band="1"/></VRTDataset>')
    log = orvex('query', '0', '0', 'wide.vrt')
    check('raster of 800000000 columns', [] if re.search(r'sample row \d column \d{9}, elevation 0', log)
          else [log.strip()])


def scratch_left():
    return glob.glob(os.path.join(WORK, '.orvex-scratch-*'))


def refusals():
    problems = []
    good = open(os.path.join(WORK, 'int16.tif'), 'rb').read()
    with open(os.path.join(WORK, 'cut.tif'), 'wb') as f:
        f.write(good[:len(good) // 3])
    plain = make_raster('plain.png', np.zeros((4, 4), np.uint8), (0, 1, 0, 0, 0, 1), driver='PNG')
    for aux in glob.glob(plain + '.aux.xml'):
        os.remove(aux)
    gdal.GetDriverByName('GTiff').Create(os.path.join(WORK, 'complex.tif'), 4, 4, 1, gdal.GDT_CInt16) \
        .SetGeoTransform((0, 1, 0, 0, 0, -1))
    cases = [('cut.tif', 'cannot read the raster .cut.tif'),
             ('plain.png', 'not georeferenced'),
             ('complex.tif', 'complex numbers')]
    for name, message in cases:
        log = orvex('build', 'refused.orx', '--grid', name, expect=1)
        if not re.search(message, log):
            problems.append('%s: %s' % (name, log.strip()))
    with open(os.path.join(WORK, 'broken.geojson'), 'w') as f:
        f.write('{"type": "FeatureCollection", "features": [{"type": ')
    for args, message in ((('broken.geojson', 'refused.db'), 'GDAL cannot open broken.geojson'),
                          (('--layer', 'nothing', 'merc.geojson', 'refused.db'), 'has no layer named nothing'),
                          (('--where', 'kind <<< 2', 'merc.geojson', 'refused.db'), 'filter')):
        log = orvex('shp2db', *args, expect=1)
        if not re.search(message, log):
            problems.append('%s: %s' % (args, log.strip()))
    # Interrupted once the raster is read: the scratch grid goes too.
    p = subprocess.run([ORVEX, 'build', 'refused.orx', '--grid', 'int16.tif'], cwd=WORK,
                       env=dict(os.environ, ORVEX_TEST_RAISE='15@raster-converted'), capture_output=True)
    if p.returncode != -signal.SIGTERM:
        problems.append('interrupted build ended with %d' % p.returncode)
    for left in ('refused.orx', 'refused.db'):
        if os.path.exists(os.path.join(WORK, left)):
            problems.append(left + ' left behind')
    if scratch_left():
        problems.append('scratch folders left: %s' % scratch_left())
    check('refusals', problems)


def main():
    global ORVEX, WORK
    ORVEX, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    rasters()
    streamed()
    wide()
    exports()
    vectors()
    refusals()
    if scratch_left():
        failures.append('scratch folders left')
    print('failed: %s' % ', '.join(failures) if failures else 'all GDAL sources ok')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
