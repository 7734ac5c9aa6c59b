// The page at "/": a slippy map of the served maps with a layer for every
// resolution, the position under the pointer, a scale bar, and the values
// of every resolution at a clicked point. Leaflet's files are built into
// the command and served under /leaflet/.
#include <string.h>

#include "serve.h"

namespace orvexcli {

struct EmbeddedFile {
    const char *name;
    const unsigned char *bytes;
    size_t size;
};
extern const EmbeddedFile kEmbeddedFiles[];

namespace {

const char kPage[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>orvex serve</title>
<link rel="stylesheet" href="/leaflet/leaflet.css">
<script src="/leaflet/leaflet.js"></script>
<style>
html, body { margin: 0; height: 100%; font: 13px sans-serif; }
#map { position: absolute; top: 0; bottom: 0; left: 0; right: 0; background: #aacdeb; }
.orvex-box { background: rgba(255,255,255,0.9); padding: 3px 6px; border-radius: 4px; }
#value { display: none; } /* the popup shows it; kept for scripts */
</style>
</head>
<body>
<div id="map"></div>
<script>
"use strict";
// Loaded tiles and the last click's answer, for people and for tests.
window.orvex = { tilesLoaded: 0, tileErrors: 0, ready: false, answer: null };

function box(position, id) {
  const c = L.control({ position: position });
  c.onAdd = () => { const d = L.DomUtil.create("div", "orvex-box"); d.id = id; return d; };
  return c;
}

function describe(r) {
  if (r.outside) return r.index + " " + r.name + ": outside";
  if (r.type === "vector") return r.index + " " + r.name + ": tile " + r.tile + ", " + r.segments + " segments";
  const v = r.colour ? "colour " + r.colour.join(" ")
          : "elevation " + (r.elevation === null ? "no data" : r.elevation + " m");
  return r.index + " " + r.name + ": " + v + " (tile " + r.tile + ", row " + r.row + ", column " + r.column + ")";
}

// The layer control shows its labels as HTML; names come from map files.
function esc(s) {
  return String(s).replace(/[&<>"]/g, c => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
}

function layersOf(m, map) {
  const url = "/tiles/" + encodeURIComponent(m.name) + "/{z}/{x}/{y}.png";
  const opts = { maxZoom: m.maxzoom, minZoom: m.minzoom, tileSize: 256 };
  const made = {};
  const add = (label, layer) => {
    const t = L.tileLayer(url + (layer === null ? "" : "?layer=" + layer), opts);
    t.on("tileload", () => { window.orvex.tilesLoaded++; });
    t.on("tileerror", () => { window.orvex.tileErrors++; });
    t.on("load", () => { window.orvex.ready = true; });
    made[label] = t;
  };
  add(m.name + ": by zoom", null);
  for (const r of m.resolutions) {
    if (r.type === "grid" || r.type === "vector")
      add(m.name + ": " + r.index + " " + esc(r.name) + " (" + esc(r.label) + ", " + r.type + ")", r.index);
  }
  return made;
}

// The 3D view: the pictures draped over the terrain tiles in MapLibre GL
// JS (built into the command with the page's other files), where the
// browser has WebGL.
function webgl() {
  const c = document.createElement("canvas");
  return !!(c.getContext("webgl2") || c.getContext("webgl"));
}

function loadScript(src) {
  return new Promise((ok, fail) => {
    const s = document.createElement("script");
    s.src = src;
    s.onload = ok;
    s.onerror = fail;
    document.head.appendChild(s);
  });
}

function start3d(wanted) {
  const css = document.createElement("link");
  css.rel = "stylesheet";
  css.href = "/leaflet/maplibre-gl.css";
  document.head.appendChild(css);
  Promise.all([loadScript("/leaflet/maplibre-gl.js"), fetch("/maps").then(r => r.json())]).then(([, doc]) => {
    const m = doc.maps.find(x => x.name === wanted) || doc.maps[0];
    const name = encodeURIComponent(m.name);
    const map = new maplibregl.Map({
      container: "map", center: [10, 30], zoom: 2, pitch: 60, maxPitch: 85,
      style: {
        version: 8,
        sources: {
          picture: { type: "raster", tiles: ["/tiles/" + name + "/{z}/{x}/{y}.png"], tileSize: 256,
                     minzoom: m.minzoom, maxzoom: m.maxzoom },
          dem: { type: "raster-dem", url: "/tiles/" + name + ".terrain.json", tileSize: 256 }
        },
        layers: [{ id: "picture", type: "raster", source: "picture" }],
        terrain: { source: "dem", exaggeration: 1.5 }
      }
    });
    map.addControl(new maplibregl.NavigationControl({ visualizePitch: true }));
    map.addControl(new maplibregl.TerrainControl({ source: "dem", exaggeration: 1.5 }));
    map.on("error", () => { window.orvex.tileErrors++; });
    map.on("idle", () => { window.orvex.ready = true; });
    window.orvex.map3d = map;
  }).catch(() => {
    document.getElementById("map").textContent = "The 3D view needs MapLibre GL JS, which this orvex was built without.";
  });
}

// A link to the 3D view where the browser and the command can show it.
function offer3d(map, current) {
  if (!webgl()) return;
  fetch("/leaflet/maplibre-gl.js", { method: "HEAD" }).then(r => {
    if (!r.ok) return;
    const c = L.control({ position: "topright" });
    c.onAdd = () => {
      const a = L.DomUtil.create("a", "orvex-box");
      a.id = "view3d";
      a.textContent = "3D";
      a.href = "#";
      a.onclick = e => { e.preventDefault(); location.search = "?3d=" + encodeURIComponent(current()); };
      return a;
    };
    c.addTo(map);
  });
}

const view3d = new URLSearchParams(location.search).get("3d");
if (view3d !== null) start3d(view3d);
else fetch("/maps").then(r => r.json()).then(doc => {
  const map = L.map("map", { worldCopyJump: true, maxZoom: 20 }).setView([20, 0], 1);
  let base = {};
  for (const m of doc.maps) Object.assign(base, layersOf(m, map));
  const first = Object.keys(base)[0];
  if (first) base[first].addTo(map);
  L.control.layers(base, {}, { collapsed: false }).addTo(map);
  L.control.scale().addTo(map);
  box("bottomleft", "pointer").addTo(map);
  box("topleft", "value").addTo(map);
  map.on("mousemove", e => {
    document.getElementById("pointer").textContent =
      e.latlng.lat.toFixed(4) + ", " + L.Util.wrapNum(e.latlng.lng, [-180, 180], true).toFixed(4);
  });
  let current = doc.maps.length ? doc.maps[0].name : "";
  map.on("baselayerchange", e => { current = e.name.split(":")[0]; });
  map.on("click", e => {
    const lon = L.Util.wrapNum(e.latlng.lng, [-180, 180], true);
    fetch("/query?lat=" + e.latlng.lat + "&lon=" + lon + "&map=" + encodeURIComponent(current))
      .then(r => r.json()).then(a => {
        window.orvex.answer = a;
        const text = a.lat.toFixed(4) + ", " + a.lon.toFixed(4) + "\n" + a.resolutions.map(describe).join("\n");
        document.getElementById("value").textContent = text;
        const popup = document.createElement("div");
        popup.style.whiteSpace = "pre";
        popup.textContent = text;
        L.popup({ maxWidth: 500 }).setLatLng(e.latlng).setContent(popup).openOn(map);
      });
  });
  offer3d(map, () => current);
  window.orvex.map = map;
});
</script>
</body>
</html>
)PAGE";

}  // namespace

const std::string &serve_page()
{
    static const std::string page(kPage);
    return page;
}

bool leaflet_file(const std::string &name, std::string *bytes, std::string *type)
{
    for (const EmbeddedFile *f = kEmbeddedFiles; f->name; f++) {
        if (name != f->name) continue;
        bytes->assign(reinterpret_cast<const char *>(f->bytes), f->size);
        size_t dot = name.rfind('.');
        std::string ext = dot == std::string::npos ? "" : name.substr(dot);
        *type = ext == ".js" ? "application/javascript" : ext == ".css" ? "text/css" : "image/png";
        return true;
    }
    return false;
}

}  // namespace orvexcli
