#!/usr/bin/env python3
"""QGIS, headless, draws a map file read in place through the ORX plugin.

Usage: gdal_driver_qgis.py TESTDATA PLUGIN_DIR WORKDIR [MAP OUT.png]
Without MAP: opens the relief subdataset and the shoreline layer of the test
suite's hand-made map, renders them and checks that both were drawn. With
MAP: draws its colour grid (or first grid) under its first shoreline layer
into OUT.png (docs/qgis.png is made so from the default map).
Exits 77 (skipped) where python3-qgis is not installed.
"""
import os
import subprocess
import sys

TESTDATA, PLUGINS, WORK = sys.argv[1:4]
os.environ['GDAL_DRIVER_PATH'] = PLUGINS
os.environ.setdefault('QT_QPA_PLATFORM', 'offscreen')
try:
    from qgis.core import (QgsApplication, QgsFillSymbol, QgsMapRendererParallelJob, QgsMapSettings,
                           QgsRasterLayer, QgsRectangle, QgsVectorLayer)
    from qgis.PyQt.QtCore import QSize
    from qgis.PyQt.QtGui import QColor
    from osgeo import gdal
except ImportError as e:
    print('QGIS is not installed (%s): skipped' % e)
    sys.exit(77)


def render(layers, extent, path, width, height):
    settings = QgsMapSettings()
    settings.setLayers(layers)
    settings.setDestinationCrs(layers[-1].crs())
    settings.setExtent(extent)
    settings.setOutputSize(QSize(width, height))
    settings.setBackgroundColor(QColor(255, 255, 255))
    job = QgsMapRendererParallelJob(settings)
    job.start()
    job.waitForFinished()
    image = job.renderedImage()
    image.save(path)
    return image


def shoreline_style(layer):
    layer.renderer().setSymbol(QgsFillSymbol.createSimple(
        {'color': '0,0,0,0', 'outline_color': '20,20,20', 'outline_width': '0.2'}))


def grid_of(path, prefer_colour):
    ds = gdal.OpenEx(path, gdal.OF_RASTER)
    names = [v for k, v in sorted(ds.GetMetadata('SUBDATASETS').items(), key=lambda kv: kv[0])
             if k.endswith('_NAME')]
    names.sort(key=lambda n: int(n.rsplit(':', 1)[1]))
    if prefer_colour:
        for n in names:
            if gdal.Open(n).RasterCount == 3:
                return n
    return names[0]


def main():
    os.makedirs(WORK, exist_ok=True)
    app = QgsApplication([], False)
    app.initQgis()
    if len(sys.argv) > 5:
        path, out = sys.argv[4], sys.argv[5]
        grid = QgsRasterLayer(grid_of(path, True), 'grid', 'gdal')
        shore = QgsVectorLayer(path + '|layerid=1', 'shore', 'ogr')
        if not grid.isValid() or not shore.isValid():
            print('QGIS cannot open %s: %s' % (path, grid.error().summary()))
            return 1
        shoreline_style(shore)
        render([shore, grid], QgsRectangle(-180, -90, 180, 90), out, 960, 480)
        print('wrote ' + out)
        return 0
    path = os.path.join(WORK, 'hand.orx')
    subprocess.run([TESTDATA, 'map', path], check=True)
    relief = QgsRasterLayer('ORX:"%s":0' % path, 'relief', 'gdal')
    shore = QgsVectorLayer(path, 'shore', 'ogr')
    failures = []
    if not relief.isValid():
        failures.append('QGIS does not open the relief: ' + relief.error().summary())
    if not shore.isValid() or shore.featureCount() != 2:
        failures.append('QGIS does not open the shoreline layer with its 2 features')
    if not failures:
        shoreline_style(shore)
        image = render([shore, relief], QgsRectangle(-202.5, -67.5, 157.5, 112.5), os.path.join(WORK, 'hand.png'),
                       360, 180)
        # The relief rises row by row (grey from dark to light); the outline
        # of the 40-degree square passes through its corner at (-20, 20).
        top, bottom = QColor(image.pixel(100, 30)), QColor(image.pixel(100, 160))
        if not top.value() < bottom.value():
            failures.append('the relief is not drawn: %s at the top, %s at the bottom' % (top.name(), bottom.name()))
        near = [QColor(image.pixel(x, y)) for x in range(180, 186) for y in range(90, 96)]
        if min(c.value() for c in near) > 80:
            failures.append('the shoreline is not drawn near (-20, 20): ' + ' '.join(sorted({c.name() for c in near})))
    del relief, shore
    app.exitQgis()
    for f in failures:
        print('FAIL: ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
