#!/usr/bin/python3
"""Exports that GIS programs take as they are, checked with GDAL's own tools.

Maps are built from rasters made here with GDAL's API, exported, and read
back by GDAL: a whole-circle grid kept from 0 to 359 degrees comes out from
-180 (every value where numpy's roll puts it, and gdallocationinfo -wgs84
at points on both sides of 0 and 180 degrees answers what `orvex query`
answers), or in its stored order with --keep-columns; a region across the
grid's seam comes out whole. A colour grid goes to a COG (GDAL's COG
validator), a PNG whose world file and .aux.xml give gdalinfo the COG's
transform and WGS 84, and a GeoPackage of PNG tiles in a table named after
the resolution (GDAL's GeoPackage validator), every band value equal to the
COG's. Formats that would change the samples are refused leaving nothing
behind; side files (ours, and those of drivers such as ENVI's header) appear
with their raster, named after it, or not at all; gdalwarp to Web
Mercator of rasters that end at the poles prints no PROJ error.

Usage: gdal_exports.py ORVEX WORKDIR
"""
import glob
import os
import re
import shutil
import sqlite3
import subprocess
import sys

import numpy as np
from osgeo import gdal, osr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gdal_sources  # noqa: E402
from check_grid_samples import query_answers  # noqa: E402

try:
    from osgeo_utils.samples import validate_cloud_optimized_geotiff, validate_gpkg
except ImportError:  # older layouts of python3-gdal
    validate_cloud_optimized_geotiff = validate_gpkg = None

gdal.UseExceptions()
ORVEX = WORK = None
failures = []
orvex = gdal_sources.orvex


def check(name, problems):
    print('%s: %s' % (name, 'ok' if not problems else '; '.join(problems)), flush=True)
    if problems:
        failures.append(name)


def path(name):
    return os.path.join(WORK, name)


def read(name):
    return gdal.Open(path(name)).ReadAsArray()


def transform_problems(name, want):
    got = gdal.Open(path(name)).GetGeoTransform()
    if any(abs(a - b) > 1e-12 for a, b in zip(got, want)):
        return ['%s: transform %s, expected %s' % (name, got, want)]
    return []


def leftovers(stem):
    """Files of an export that should not be there: the output, its side
    files and temporary files."""
    return sorted(glob.glob(path(stem + '*')) + glob.glob(path('.' + stem + '*')))


# A gridline grid round the Earth, kept from 0 to 359 degrees, rows from 90
# to -90: 1 x 3 tiles, so that the rotated columns come from several tiles.
CIRCLE = np.random.default_rng(20261210).integers(-9000, 9000, (181, 360), dtype=np.int16)
CIRCLE[5:9, 100:300] = -9999


def whole_circle():
    src = gdal_sources.make_raster('circle.tif', CIRCLE, (-0.5, 1, 0, 90.5, 0, -1), gdal_sources.wgs84(),
                                   nodata=-9999)
    orvex('build', 'circle.orx', '--grid', src, '--tiles', '1x3', '--overwrite')
    problems = []
    orvex('export', 'circle.orx', '--res', '0', 'circle-out.tif', '--overwrite')
    problems += transform_problems('circle-out.tif', (-180.5, 1, 0, 90.5, 0, -1))
    if not np.array_equal(read('circle-out.tif'), np.roll(CIRCLE, -180, axis=1)):
        problems.append('rotated values differ')
    if validate_cloud_optimized_geotiff:
        _, errors, _ = validate_cloud_optimized_geotiff.validate(path('circle-out.tif'))
        problems += ['COG: ' + e for e in errors]
    # Points on both sides of 0 and 180 degrees, none on a cell edge.
    points = [(lat, lon) for lat in (-89.7, -45.2, 7.4, 89.2) for lon in (-179.6, -150.3, -0.4, 0.4, 150.3, 179.4)]
    located = subprocess.run(['gdallocationinfo', '-wgs84', '-valonly', path('circle-out.tif')],
                             input=''.join('%r %r\n' % (lon, lat) for lat, lon in points), capture_output=True,
                             text=True, check=True).stdout.splitlines()
    if len(located) != len(points):
        problems.append('gdallocationinfo answered %d of %d points' % (len(located), len(points)))
    for (lat, lon), value in zip(points, located):
        said = query_answers(ORVEX, path('circle.orx'), 0, lat, lon)
        if said != int(value) and not (said == 'nodata' and int(value) == -9999):
            problems.append('at %r %r: gdallocationinfo %s, orvex query %s' % (lat, lon, value, said))
    check('whole circle from -180', problems)

    problems = []
    orvex('export', 'circle.orx', '--res', '0', '--keep-columns', 'circle-kept.nc', '--overwrite')
    problems += transform_problems('circle-kept.nc', (-0.5, 1, 0, 90.5, 0, -1))
    if not np.array_equal(read('circle-kept.nc'), CIRCLE):
        problems.append('stored order: values differ')
    # Across the seam of a grid kept from 0: from 170 to 190, one raster.
    orvex('export', 'circle.orx', '--res', '0', '--region', '-5/5/-10/10', 'across-zero.tif', '--overwrite')
    problems += transform_problems('across-zero.tif', (-5.5, 1, 0, 10.5, 0, -1))
    if not np.array_equal(read('across-zero.tif'), np.take(CIRCLE[80:101], range(-5, 6), axis=1, mode='wrap')):
        problems.append('region across 0 degrees: values differ')
    check('stored order and regions across the seam', problems)


def colour_formats():
    rgb = np.random.default_rng(7).integers(0, 256, (3, 90, 180), dtype=np.uint8)
    src = gdal_sources.make_raster('colour.tif', rgb, (-180, 2, 0, 90, 0, -2), gdal_sources.wgs84())
    orvex('build', 'colour.orx', '--grid', src, '--tiles', '2x2', '--name', 'earth-2deg', '--overwrite')
    for out in ('colour.tif', 'colour.png', 'colour.gpkg', 'colour.nc'):
        orvex('export', 'colour.orx', '--res', '0', 'out-' + out, '--overwrite')
    cog = read('out-colour.tif')
    cog_transform = gdal.Info(path('out-colour.tif'), format='json')['geoTransform']
    problems = [] if np.array_equal(cog, rgb) else ['the COG differs from the source']
    if validate_cloud_optimized_geotiff:
        problems += ['COG: ' + e for e in validate_cloud_optimized_geotiff.validate(path('out-colour.tif'))[1]]

    # PNG: the world file and the .aux.xml land it where the COG lies.
    for side in ('out-colour.pgw', 'out-colour.png.aux.xml'):
        if not os.path.exists(path(side)):
            problems.append(side + ' missing')
    info = gdal.Info(path('out-colour.png'), format='json')
    if info.get('geoTransform') != cog_transform:
        problems.append('PNG transform %s, the COG %s' % (info.get('geoTransform'), cog_transform))
    png = gdal.Open(path('out-colour.png'))
    srs = png.GetSpatialRef()
    if srs is None or not srs.IsSame(gdal_sources.wgs84(), ['IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES']) \
            or srs.GetDataAxisToSRSAxisMapping() != [2, 1]:  # columns along longitude
        problems.append('PNG reference system %s' % (srs and srs.ExportToWkt()))
    if not np.array_equal(png.ReadAsArray(), cog):
        problems.append('PNG values differ from the COG')
    png = None
    # The world file alone, as programs that ignore .aux.xml read it.
    gdal.SetConfigOption('GDAL_GEOREF_SOURCES', 'WORLDFILE')
    world = gdal.Open(path('out-colour.png')).GetGeoTransform()
    gdal.SetConfigOption('GDAL_GEOREF_SOURCES', None)
    if list(world) != cog_transform:
        problems.append('world file transform %s' % (world,))
    # netCDF holds each band as a georeferenced variable: no side files.
    bands = [gdal.Open('NETCDF:"%s":Band%d' % (path('out-colour.nc'), b + 1)) for b in range(3)]
    if leftovers('out-colour.nc') != [path('out-colour.nc')] or \
            not all(np.array_equal(d.ReadAsArray(), cog[b]) for b, d in enumerate(bands)):
        problems.append('netCDF: %s' % leftovers('out-colour.nc'))
    check('colour PNG with its georeferencing, netCDF without', problems)

    problems = []
    if validate_gpkg:
        try:
            validate_gpkg.check(path('out-colour.gpkg'))
        except Exception as e:  # the validator raises on the first fault
            problems.append('validate_gpkg: %s' % e)
    db = sqlite3.connect(path('out-colour.gpkg'))
    contents = db.execute('SELECT table_name, identifier, data_type FROM gpkg_contents').fetchall()
    if contents != [('earth_2deg', 'earth_2deg', 'tiles')]:
        problems.append('contents %s' % contents)
    kinds = db.execute('SELECT DISTINCT hex(substr(tile_data, 1, 4)) FROM earth_2deg').fetchall() if contents else []
    db.close()
    if kinds != [('89504E47',)]:
        problems.append('tiles begin with %s, not PNG' % kinds)
    gpkg = read('out-colour.gpkg')
    if gpkg.shape != cog.shape or not np.array_equal(gpkg, cog):
        problems.append('%d band values differ from the COG' % (np.sum(gpkg != cog) if gpkg.shape == cog.shape
                                                                else -1))
    problems += transform_problems('out-colour.gpkg', tuple(cog_transform))
    check('colour GeoPackage', problems)


def refusals():
    problems = []
    cases = (('refused.png', (), r"PNG driver writes Byte UInt16 samples, not Int16; 16-bit elevations go exactly "
                                r"to GeoTIFF \(\.tif\), netCDF \(\.nc\)"),
             ('refused.gpkg', (), r"GPKG driver stores elevations as scaled floating-point tiles"),
             ('refused.jpg', ('--format', 'JPEG'), r"JPEG driver writes Byte UInt16 samples, not Int16"))
    for name, extra, message in cases:
        log = orvex('export', 'circle.orx', '--res', '0', *extra, name, expect=1)
        if not re.search(message, log):
            problems.append('%s: %s' % (name, log.strip()))
        if leftovers('refused'):
            problems.append('%s: left %s' % (name, leftovers('refused')))
    log = orvex('export', 'colour.orx', '--res', '0', '--format', 'JPEG', 'lossy.jpg', expect=1)
    if not re.search(r'JPEG driver compresses with loss; colours go exactly to', log) or leftovers('lossy'):
        problems.append('colour JPEG: %s' % log.strip())
    check('formats that would change the samples', problems)


def side_files_together():
    problems = []
    with open(path('taken.pgw'), 'w') as f:
        f.write('kept\n')
    log = orvex('export', 'colour.orx', '--res', '0', 'taken.png', expect=1)
    if not re.search(r'needs the side file .*taken\.pgw, which exists \(--overwrite replaces it\)', log):
        problems.append('existing side file: %s' % log.strip())
    if leftovers('taken') != [path('taken.pgw')] or open(path('taken.pgw')).read() != 'kept\n':
        problems.append('after the refusal: %s' % leftovers('taken'))
    orvex('export', 'colour.orx', '--res', '0', 'taken.png', '--overwrite')
    if leftovers('taken') != [path(n) for n in ('taken.pgw', 'taken.png', 'taken.png.aux.xml')]:
        problems.append('with --overwrite: %s' % leftovers('taken'))
    # Stopped once written, before the files are moved into place.
    for point in ('exported', 'commit'):
        p = subprocess.run([ORVEX, 'export', 'colour.orx', '--res', '0', 'stopped.png'], cwd=WORK,
                           env=dict(os.environ, ORVEX_TEST_RAISE='15@' + point), capture_output=True)
        if p.returncode != -15 or leftovers('stopped'):
            problems.append('stopped at %s: exit %d, left %s' % (point, p.returncode, leftovers('stopped')))
    check('side files appear with their raster', problems)


def driver_side_files():
    """Drivers that keep part of a raster in files of their own (ENVI's
    header, the ASCII grid's projection) have them named after the output."""
    problems = []
    rotated = np.roll(CIRCLE, -180, axis=1)
    for name, driver, sides in (('envi.bil', 'ENVI', ['envi.hdr']), ('ascii.asc', 'AAIGrid', ['ascii.prj'])):
        orvex('export', 'circle.orx', '--res', '0', '--format', driver, name, '--overwrite')
        stem = name.split('.')[0]
        if leftovers(stem) != sorted(path(n) for n in [name] + sides):
            problems.append('%s: files %s' % (driver, leftovers(stem)))
            continue
        ds = gdal.Open(path(name))
        if not np.array_equal(ds.ReadAsArray(), rotated) or ds.GetSpatialRef() is None:
            problems.append('%s: values or reference system lost' % driver)
        problems += transform_problems(name, (-180.5, 1, 0, 90.5, 0, -1))
    check("drivers' own side files", problems)


def warps():
    problems = []
    orvex('export', 'circle.orx', '--res', '0', '--region', '-180/180/-85/85', 'circle-85.tif', '--overwrite')
    for name in ('out-colour.tif', 'circle-85.tif', 'out-colour.png'):
        p = subprocess.run(['gdalwarp', '-overwrite', '-q', '-t_srs', 'EPSG:3857', path(name),
                            path('warped-' + name.replace('.png', '.tif'))], capture_output=True, text=True)
        if p.returncode != 0 or 'PROJ' in p.stderr or 'ERROR' in p.stderr:
            problems.append('%s: exit %d: %s' % (name, p.returncode, p.stderr.strip()[:300]))
    check('warps to Web Mercator', problems)


def main():
    global ORVEX, WORK
    ORVEX, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    gdal_sources.ORVEX, gdal_sources.WORK = ORVEX, WORK
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    whole_circle()
    colour_formats()
    refusals()
    side_files_together()
    driver_side_files()
    warps()
    if glob.glob(path('.orvex-scratch-*')):
        failures.append('scratch folders left')
    print('failed: %s' % ', '.join(failures) if failures else 'all GDAL exports ok')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
