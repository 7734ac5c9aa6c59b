// Reads a PMTiles archive with the npm `pmtiles` package and prints what it
// finds as JSON: the header, the metadata, the reader's own tile numbers and
// each asked tile's bytes (base64; null when the archive has no such tile).
// Usage: node read_pmtiles.mjs ARCHIVE Z/X/Y...
import { closeSync, openSync, readSync } from "node:fs";
import { PMTiles, zxyToTileId } from "pmtiles";

class FileRangeSource {
  constructor(path) {
    this.path = path;
    this.fd = openSync(path, "r");
  }
  getKey() {
    return this.path;
  }
  async getBytes(offset, length) {
    const buf = Buffer.alloc(length);
    const n = readSync(this.fd, buf, 0, length, offset);
    const data = buf.buffer.slice(buf.byteOffset, buf.byteOffset + n);
    return { data };
  }
}

const [archive, ...wanted] = process.argv.slice(2);
const source = new FileRangeSource(archive);
const p = new PMTiles(source);
const out = { header: await p.getHeader(), metadata: await p.getMetadata(), tiles: {}, ids: {} };
for (const zxy of wanted) {
  const [z, x, y] = zxy.split("/").map(Number);
  const t = await p.getZxy(z, x, y);
  out.tiles[zxy] = t ? Buffer.from(t.data).toString("base64") : null;
  out.ids[zxy] = zxyToTileId(z, x, y);
}
closeSync(source.fd);
process.stdout.write(JSON.stringify(out));
