#include "tilestool.h"

#include "hexnumber.h"

namespace tools {

// The page of a tile folder. Everything it loads sits beside it and is
// loaded with script, link and image elements, which browsers allow from
// the disk as well as from a web server: map.js tells the map's name, size
// and levels; cells/BY/BX.js the cells of one block, asked for when the
// pointer first comes over it.
//
// Leaflet's plain coordinates are used with a scale of its own: latitude
// is the row and longitude the column, both growing down and to the right,
// and at level z one cell is maxPitch / 2^(deepest - z) pixels, exactly as
// the tiles were drawn.
std::string webPage(int columns, int rows) {
    // The readout pads each half of the hex number to the widths the model
    // gives for this map; the rest of the page is the same for every map.
    const std::string widths =
        std::to_string(hexnum::digits(columns)) + ", " + std::to_string(hexnum::digits(rows));
    std::string page = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tarven map</title>
<link rel="stylesheet" href="leaflet/leaflet.css">
<style>
html, body, #map { height: 100%; margin: 0; }
#map { background: #ffffff; }
.tarven-box { background: rgba(255, 255, 255, 0.85); padding: 3px 8px; border-radius: 4px;
  font: 13px/1.4 sans-serif; color: #222; box-shadow: 0 1px 4px rgba(0, 0, 0, 0.3); }
.tarven-box .leaflet-control { margin: 0; }
.tarven-bar { height: 6px; border: 2px solid #222; border-top: none; margin-top: 2px; }
</style>
<script src="leaflet/leaflet.js"></script>
<script src="map.js"></script>
</head>
<body>
<div id="map"></div>
<script>
(function () {
  'use strict';
  var m = tarvenMap;
  var P = m.maxPitch;
  var deepest = m.levels - 1;
  var k = P / Math.pow(2, deepest);
  var crs = L.extend({}, L.CRS.Simple, { transformation: new L.Transformation(k, 0, k, 0) });
  var bounds = L.latLngBounds([0, 0], [m.height / P, m.width / P]);
  var map = L.map('map', { crs: crs, zoomSnap: 1, minZoom: -12, maxZoom: deepest, attributionControl: false });
  L.tileLayer('tiles/{z}/{x}/{y}.png', {
    tileSize: m.tileSize, minNativeZoom: 0, maxNativeZoom: deepest, minZoom: -12, maxZoom: deepest,
    bounds: bounds, noWrap: true
  }).addTo(map);

  function pitchAt(z) { return P * Math.pow(2, z - deepest); }

  // The cell under a point, as the map window finds it: hexagons in
  // columns, even columns half a row lower, at the deepest level's pitch.
  function cellAt(latlng) {
    var x = Math.floor(latlng.lng * P), y = Math.floor(latlng.lat * P);
    if (P < 9) return { c: Math.floor(x / P), r: Math.floor(y / P) };
    var hys = P, hxs = Math.floor(4 * hys / 3);
    var col = Math.floor(x / hys), ox = x - col * hys;
    var sy = y;
    if (col % 2 === 0) sy -= Math.floor(hys / 2);
    var row = Math.floor(sy / hys), oy = sy - row * hys;
    if (ox < Math.floor(hxs / 4)) {
      var t = Math.floor(Math.floor(hys / 2) * hys / 2);
      if (oy > Math.floor(hys / 2)) {
        if (ox * ox + (hys - oy) * (hys - oy) < t) { col--; row++; if (col % 2 === 0) row--; }
      } else if (ox * ox + oy * oy < t) { col--; if (col % 2 === 0) row--; }
    }
    return { c: col, r: row };
  }

  function centreOf(c, r) {
    if (P < 9) return L.latLng(r + 0.5, c + 0.5);
    var hxs = Math.floor(4 * P / 3);
    return L.latLng(r + 0.5 + (c % 2 === 0 ? 0.5 : 0), c + hxs / (2 * P));
  }

  function inside(cell) { return cell.c >= 0 && cell.r >= 0 && cell.c < m.columns && cell.r < m.rows; }

  // #Z/X/Y: zoom level, column and row of the cell in the middle.
  function fromHash() {
    var h = /^#(-?\d+)\/(-?\d+)\/(-?\d+)$/.exec(location.hash);
    if (!h) return false;
    map.setView(centreOf(+h[2], +h[3]), +h[1]);
    return true;
  }
  var fit = Math.min(deepest, map.getBoundsZoom(bounds));
  map.setMinZoom(Math.min(0, fit));
  if (!fromHash()) map.setView(bounds.getCenter(), fit);
  var shownHash = location.hash;
  map.on('moveend', function () {
    var cell = cellAt(map.getCenter());
    var h = '#' + map.getZoom() + '/' + cell.c + '/' + cell.r;
    if (h === shownHash) return;
    shownHash = h;
    try { history.replaceState(null, '', h); } catch (e) { /* some browsers refuse it from the disk */ }
  });
  window.addEventListener('hashchange', function () {
    if (location.hash !== shownHash) { shownHash = location.hash; fromHash(); }
  });

  function box(position, build) {
    var control = L.control({ position: position });
    control.onAdd = function () {
      var div = L.DomUtil.create('div', 'tarven-box');
      build(div);
      return div;
    };
    control.addTo(map);
  }

  box('topright', function (div) {
    var name = document.createElement('b');
    name.textContent = m.name;
    div.appendChild(name);
    div.appendChild(document.createElement('br'));
    div.appendChild(document.createTextNode(m.columns + ' \u00d7 ' + m.rows + ' cells'));
    document.title = m.name + ' \u2013 Tarven map';
  });

  var scaleText, scaleBar;
  box('bottomright', function (div) {
    scaleText = document.createElement('div');
    scaleBar = document.createElement('div');
    scaleBar.className = 'tarven-bar';
    div.appendChild(scaleText);
    div.appendChild(scaleBar);
  });
  function showScale() {
    var pitch = pitchAt(map.getZoom()), n = 1;
    [1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000].forEach(function (v) {
      if (v * pitch <= 150) n = v;
    });
    scaleText.textContent = n + (n === 1 ? ' cell' : ' cells');
    scaleBar.style.width = Math.max(2, Math.round(n * pitch)) + 'px';
  }
  map.on('zoomend', showScale);
  showScale();

  // The cell under the pointer, from the block of cells it lies in.
  var info;
  box('bottomleft', function (div) { info = div; info.textContent = 'Point at a cell'; });
  var blocks = {}, asked = {}, pointed = null;
  window.tarvenCells = function (bx, by, width, data) {
    blocks[bx + '/' + by] = { width: width, data: data };
    if (pointed) showCell(pointed);
  };
  // The number --numbers prints on the map: column and row from 1, each
  // half padded with zeros to the map's widths.
  var numberWidths = [@WIDTHS@];
  function padded(v, n) { var s = String(v); while (s.length < n) s = '0' + s; return s; }
  function hexNumber(cell) { return padded(cell.c + 1, numberWidths[0]) + padded(cell.r + 1, numberWidths[1]); }
  function showCell(cell) {
    pointed = cell;
    if (!inside(cell)) { info.textContent = 'Outside the map'; return; }
    var bx = Math.floor(cell.c / m.block), by = Math.floor(cell.r / m.block), key = bx + '/' + by;
    var text = 'Hex ' + hexNumber(cell) + ' (column ' + cell.c + ', row ' + cell.r + ')';
    var block = blocks[key];
    if (!block) {
      info.textContent = text;
      if (!asked[key]) {
        asked[key] = true;
        var script = document.createElement('script');
        script.src = 'cells/' + by + '/' + bx + '.js';
        document.head.appendChild(script);
      }
      return;
    }
    var i = 2 * ((cell.r - by * m.block) * block.width + (cell.c - bx * m.block));
    var t = block.data.charCodeAt(i), e = block.data.charCodeAt(i + 1);
    if (e > 127) e -= 256;
    var name = m.terrains[t] !== undefined ? m.terrains[t] : 'unknown terrain';
    info.textContent = text + ': ' + name + ' (' + JSON.stringify(String.fromCharCode(t)) + '), elevation ' + e;
  }
  map.on('mousemove', function (event) { showCell(cellAt(event.latlng)); });
  map.on('mouseout', function () { pointed = null; info.textContent = 'Point at a cell'; });
})();
</script>
</body>
</html>
)html";
    page.replace(page.find("@WIDTHS@"), 8, widths);
    return page;
}

}  // namespace tools
