#!/usr/bin/python3
"""Vector exports as GIS programs see them, and imports that keep data whole.

A GSHHS file made here (a continent across 180 degrees with a lake across
it, an island across it, a ring round the south pole) is built into a map
and exported to GeoJSON, GeoPackage and FlatGeobuf: every polygon must be
valid for GEOS (through OGR), every longitude within -180..180, and known
places must fall in land, lake or no polygon as the shorelines say. The
default map's coarser shorelines are checked the same way when ORVEX_DATA
holds it. Then: a resolution named gpkg... exports to GeoPackage; a
shapefile in UTM zone 33N goes through shp2db, build and export and comes
back in degrees where GDAL puts it; a colour grid given by negative
densities builds; relative outputs, inputs and TMPDIR in sub-folders work.

Usage: vector_exports.py ORVEX WORKDIR
"""
import os
import re
import shutil
import struct
import subprocess
import sys

from osgeo import gdal, ogr, osr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gdal_sources import check, failures, wgs84  # noqa: E402

gdal.UseExceptions()
ogr.UseExceptions()
ORVEX = WORK = None


def orvex(*args, cwd=None, env=None, expect=0):
    p = subprocess.run([ORVEX] + [str(a) for a in args], cwd=cwd or WORK, capture_output=True, text=True,
                       env=dict(os.environ, **(env or {})))
    if (p.returncode == 0) != (expect == 0):
        raise AssertionError('orvex %s: exit %d\n%s%s' % (' '.join(map(str, args)), p.returncode, p.stdout,
                                                           p.stderr))
    return p.stdout + p.stderr


def write_gshhs(path, polygons):
    """GSHHS, header version 7: (level, [(lon, lat)...]) in degrees."""
    out = b''
    for ident, (level, points) in enumerate(polygons):
        xy = [(round(x * 1e6), round(y * 1e6)) for x, y in points]
        xs, ys = [p[0] for p in xy], [p[1] for p in xy]
        out += struct.pack('>11i', ident, len(xy), level | 7 << 8, min(xs), max(xs), min(ys), max(ys), 100, 100,
                           -1, -1)
        out += b''.join(struct.pack('>2i', *p) for p in xy)
    with open(path, 'wb') as f:
        f.write(out)


def read_layer(path):
    """(level, geometry) of every feature of the one layer, and the layer's name."""
    ds = ogr.Open(path)
    layer = ds.GetLayer(0)
    feats = [(f.GetField('level'), f.GetGeometryRef().Clone()) for f in layer]
    return layer.GetName(), feats


def shape_problems(name, feats):
    problems = []
    for level, g in feats:
        if not g.IsValid():
            problems.append('%s: an invalid level-%d polygon' % (name, level))
        west, east, _, _ = g.GetEnvelope()
        if west < -180 or east > 180:
            problems.append('%s: level %d reaches %g..%g' % (name, level, west, east))
    return problems[:5]


def levels_at(feats, lat, lon):
    p = ogr.CreateGeometryFromWkt('POINT (%r %r)' % (lon, lat))
    return sorted(level for level, g in feats if g.Contains(p))


def place_problems(name, feats, places):
    """places: (lat, lon, levels expected to contain the point)."""
    problems = []
    for lat, lon, expected in places:
        got = levels_at(feats, lat, lon)
        if got != expected:
            problems.append('%s: (%g, %g) in levels %s, not %s' % (name, lat, lon, got, expected))
    return problems


# A continent from 150 to 190 (stored as -170) with a lake across 180, an
# island across 180, and a ring round the south pole, west to east.
SAMPLE = [
    (1, [(150, 60), (170, 60), (-170, 60), (-170, 70), (150, 70)]),
    (2, [(175, 62), (-175, 62), (-175, 65), (175, 65)]),
    (1, [(179, 71), (-177.4, 71), (-177.4, 71.5), (179, 71.5)]),
    (1, [(-180, -78), (-120, -72), (-60, -75), (0, -70), (60, -68), (120, -66), (180, -78)]),
]
SAMPLE_PLACES = [
    (67, -176, [1]), (68, 160, [1]), (63.5, 178, [1, 2]), (63.5, -178, [1, 2]),
    (71.2, -179.5, [1]), (71.2, 179.5, [1]), (-80, 0, [1]), (-88, 120, [1]), (-89.9, -179.9, [1]),
    (0, -150, []), (0, 170, []), (55, 180 - 1e-9, []), (-60, 0, []),
]


def sample_map():
    write_gshhs(os.path.join(WORK, 'sample.gshhs'), SAMPLE)
    orvex('build', 'sample.orx', '--vector', 'sample.gshhs', '--fill', '--name', 'shore',
          '--vector', 'sample.gshhs', '--fill', '--name', 'gpkg_shore', '--overwrite')
    problems = []
    # The map, and the GSHHS file itself (its points big-endian).
    for source, out in (('sample.orx', 'sample.geojson'), ('sample.orx', 'sample.gpkg'), ('sample.orx', 'sample.fgb'),
                        ('sample.gshhs', 'raw.geojson')):
        orvex('export', source, '--res', '0', out, '--overwrite')
        if not os.path.isfile(os.path.join(WORK, out)):
            problems.append('%s is not one file' % out)
        _, feats = read_layer(os.path.join(WORK, out))
        problems += shape_problems(out, feats) + place_problems(out, feats, SAMPLE_PLACES)
    check('sample shorelines across 180 and round the pole', problems)
    problems = []
    orvex('export', 'sample.orx', '--res', '1', 'reserved.gpkg', '--overwrite')
    name, feats = read_layer(os.path.join(WORK, 'reserved.gpkg'))
    if name != 'res_gpkg_shore' or len(feats) != 4:
        problems.append('layer %r with %d features' % (name, len(feats)))
    check('GeoPackage layer of a gpkg... resolution', problems)
    problems = []
    out = orvex('export', 'sample.orx', '--res', '0', '--format', 'ESRI Shapefile', 'sample.shp', expect=1)
    if 'writes several files, not one' not in out:
        problems.append('a format of several files: ' + out.strip())
    left = [n for n in os.listdir(WORK) if n.startswith('.') or n.startswith('sample.s')]
    if left:
        problems.append('left behind: %s' % left)
    check('a format of several files is refused, nothing left', problems)


DEFAULT_PLACES = [
    (67, -176, [1]), (71.2, -179.5, [1]), (-80, 0, [1]), (-88, 120, [1]), (48.85, 2.35, [1]),
    (0, -150, []), (0, 170, []), (42, 50.5, [1, 2]),
]


def default_map():
    folders = [f for f in os.environ.get('ORVEX_DATA', '').split(':') if f]
    maps = [os.path.join(f, 'maps/orx/default.orx') for f in folders]
    maps = [m for m in maps if os.path.exists(m)]
    if not maps:
        print('default map: skipped (ORVEX_DATA holds none)')
        return
    info = orvex('info', maps[0])
    shores = [line.split()[1].rstrip(':') for line in info.splitlines()
              if line.startswith('Resolution ') and '"shore-' in line and 'vector' in line][:2]
    problems = []
    for k, res in enumerate(shores):
        for out in ('default.geojson', 'default.gpkg', 'default.fgb')[: 3 if k == 0 else 1]:
            orvex('export', maps[0], '--res', res, out, '--overwrite')
            _, feats = read_layer(os.path.join(WORK, out))
            problems += shape_problems(out, feats) + place_problems('%s res %s' % (out, res), feats, DEFAULT_PLACES)
    check('default map shorelines (resolutions %s)' % ', '.join(shores), problems or
          ([] if shores else ['no shoreline resolution']))


def utm_shapefile():
    utm = osr.SpatialReference()
    utm.ImportFromEPSG(32633)
    utm.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    ring = [(300000, 5000000), (400000, 5000000), (400000, 5100000), (300000, 5100000), (300000, 5000000)]
    path = os.path.join(WORK, 'utm.shp')
    ds = ogr.GetDriverByName('ESRI Shapefile').CreateDataSource(path)
    layer = ds.CreateLayer('utm', utm, ogr.wkbPolygon)
    f = ogr.Feature(layer.GetLayerDefn())
    f.SetGeometry(ogr.CreateGeometryFromWkt('POLYGON ((%s))' % ','.join('%d %d' % p for p in ring)))
    layer.CreateFeature(f)
    f = layer = ds = None
    for old in ('utm.db', 'utm.orx'):
        if os.path.exists(os.path.join(WORK, old)):
            os.remove(os.path.join(WORK, old))
    problems = []
    log = orvex('shp2db', 'utm.shp', 'utm.db')
    if '1 records (1 polygons, 0 lines)' not in log:
        problems.append('shp2db said: ' + log.strip())
    orvex('build', 'utm.orx', '--vector', 'utm.db', '--level', '1', '--overwrite')
    orvex('export', 'utm.orx', '--res', '0', 'utm.geojson', '--overwrite')
    lonlat = wgs84()
    lonlat.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    to_degrees = osr.CoordinateTransformation(utm, lonlat)
    expected = {(round(x * 1e6), round(y * 1e6)) for x, y, _ in to_degrees.TransformPoints(ring)}
    _, feats = read_layer(os.path.join(WORK, 'utm.geojson'))
    got = set()
    for _, g in feats:
        for k in range(g.GetGeometryCount()):
            part = g.GetGeometryRef(k)
            line = part.GetGeometryRef(0) if part.GetGeometryType() == ogr.wkbPolygon else part
            got |= {(round(x * 1e6), round(y * 1e6)) for x, y in line.GetPoints()}
    if got != expected:
        problems.append('exported %s, GDAL says %s' % (sorted(got), sorted(expected)))
    # A shapefile in longitude/latitude keeps the plain road.
    path = os.path.join(WORK, 'lonlat.shp')
    ds = ogr.GetDriverByName('ESRI Shapefile').CreateDataSource(path)
    layer = ds.CreateLayer('lonlat', wgs84(), ogr.wkbPolygon)
    f = ogr.Feature(layer.GetLayerDefn())
    f.SetGeometry(ogr.CreateGeometryFromWkt('POLYGON ((10 40,11 40,11 41,10 40))'))
    layer.CreateFeature(f)
    f = layer = ds = None
    if os.path.exists(os.path.join(WORK, 'lonlat.db')):
        os.remove(os.path.join(WORK, 'lonlat.db'))
    log = orvex('shp2db', 'lonlat.shp', 'lonlat.db')
    if log.strip() != 'lonlat.shp: 1 records':
        problems.append('plain shapefile: ' + log.strip())
    check('projected shapefile reprojected by shp2db', problems)


def density_grid():
    """Rows running south given as a negative density build as before."""
    rows, cols = 4, 5
    pixels = b''.join(bytes((r * 40, c * 50, 7)) for r in range(rows) for c in range(cols))
    with open(os.path.join(WORK, 'south.rgb'), 'wb') as f:
        f.write(pixels)
    with open(os.path.join(WORK, 'south.rgb.pf'), 'w') as f:
        f.write('lat 10\nlon 20\nnlat %d\nnlon %d\npplat -5.688888888888889\npplon 2\n' % (rows, cols))
    orvex('build', 'south.orx', '--grid', 'south.rgb', '--overwrite')
    problems = []
    # Row 2 lies 2 / 5.6888... degrees south of the first, column 3 1.5 east.
    out = orvex('query', 10 - 2 / 5.688888888888889, 21.5, 'south.orx')
    if 'sample row 2 column 3, colour 80 150 7' not in out:
        problems.append('query said: ' + out.strip())
    check('colour grid given by a negative density', problems)


def relative_paths():
    """Outputs, inputs and scratch folders named relative to a sub-folder."""
    top = os.path.join(WORK, 'rel')
    shutil.rmtree(top, ignore_errors=True)
    for sub in ('in', 'out', 'tmp'):
        os.makedirs(os.path.join(top, sub))
    ds = gdal.GetDriverByName('GTiff').Create(os.path.join(top, 'in', 'dem.tif'), 8, 4, 1, gdal.GDT_Int16)
    ds.SetGeoTransform((0, 5, 0, 30, 0, -5))
    ds.SetProjection(wgs84().ExportToWkt())
    ds.GetRasterBand(1).WriteArray(__import__('numpy').arange(32, dtype='int16').reshape(4, 8) * 10)
    ds = None
    for part in ('shp', 'shx', 'dbf', 'prj'):
        shutil.copy(os.path.join(WORK, 'lonlat.' + part), os.path.join(top, 'in'))
    problems = []
    runs = [
        (['build', 'out/dem.orx', '--grid', 'in/dem.tif'], {}),
        (['query', 12, 17, 'in/dem.tif'], {'TMPDIR': 'tmp'}),
        (['query', 12, 17, 'out/dem.orx'], {}),
        (['export', 'out/dem.orx', '--res', '0', 'out/dem-out.tif'], {}),
        (['build', 'out/shore.orx', '--vector', '../sample.gshhs', '--fill'], {}),
        (['export', 'out/shore.orx', '--res', '0', 'out/shore.gpkg'], {'TMPDIR': 'tmp'}),
        (['shp2db', 'in/lonlat.shp', 'out/lonlat.db'], {}),
        (['build', 'out/lonlat.orx', '--vector', 'out/lonlat.db', '--fill'], {}),
        (['export', 'out/lonlat.orx', '--res', '0', 'out/lonlat.fgb'], {}),
    ]
    answers = []
    for args, env in runs:
        try:
            answers.append(orvex(*args, cwd=top, env=env))
        except AssertionError as e:
            problems.append(str(e).splitlines()[0] + ': ' + ' '.join(str(e).splitlines()[1:3]))
    def value(answer):
        return re.findall(r'elevation -?\d+', answer)
    if len(answers) == len(runs) and (value(answers[1]) != value(answers[2]) or not value(answers[1])):
        problems.append('the raster and its map answer differently: %r, %r' % (answers[1], answers[2]))
    left = [n for sub in ('out', 'tmp') for n in os.listdir(os.path.join(top, sub)) if n.startswith('.')]
    if left:
        problems.append('left behind: %s' % left)
    check('relative paths in sub-folders', problems)


def main():
    global ORVEX, WORK
    ORVEX, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    for step in (sample_map, default_map, utm_shapefile, density_grid, relative_paths):
        try:
            step()
        except AssertionError as e:
            check(step.__name__, [str(e)])
    print('failed: %s' % ', '.join(failures) if failures else 'all vector exports ok')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
