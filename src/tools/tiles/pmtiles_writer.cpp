// The PMTiles writer: tile contents deduplicated into a scratch file as they
// come, consecutive tiles of one content merged into a run, and at the end
// header, directories, metadata and the contents written out in order.
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <unistd.h>
#include <errno.h>

#include <algorithm>
#include <memory>

#include <zlib.h>

#include "Orvex.h"
#include "pmtiles_writer.h"
#include "tile_id.h"
#include "tile_store.h"

namespace orvextiles {

namespace {

void put_le(std::string *out, uint64_t v, int bytes)
{
    for (int k = 0; k < bytes; k++) out->push_back(static_cast<char>((v >> (8 * k)) & 0xff));
}

/* Degrees as the header keeps them: 1e-7 degree steps, signed 32 bits. */
void put_degrees(std::string *out, double degrees)
{
    put_le(out, static_cast<uint32_t>(static_cast<int32_t>(lround(degrees * 1e7))), 4);
}

class PmtilesWriter : public ArchiveWriter {
public:
    int begin(const std::string &path, const std::string &scratch) override
    {
        path_ = path;
        return store_.open(scratch);
    }

    int add(uint64_t id, int, uint32_t, uint32_t, const std::string &bytes) override
    {
        if (!entries_.empty() && id <= last_id_) {
            orvex_register_error(0, "pmtiles: tile %llu comes after tile %llu\n", static_cast<unsigned long long>(id),
                                 static_cast<unsigned long long>(last_id_));
            return -1;
        }
        if (bytes.size() > 0xffffffffULL) {
            orvex_register_error(0, "pmtiles: tile %llu is larger than 4 GiB\n", static_cast<unsigned long long>(id));
            return -1;
        }
        uint64_t offset = 0;
        bool fresh = false;
        if (store_.add(bytes, &offset, &fresh) != 0) return -1;
        counts_.tiles++;
        counts_.contents = store_.contents();
        counts_.tile_bytes += bytes.size();
        last_id_ = id;
        uint32_t length = static_cast<uint32_t>(bytes.size());
        if (!entries_.empty()) {
            PmEntry &e = entries_.back();
            if (e.offset == offset && e.length == length && e.tile_id + e.run == id && e.run < 0xffffffffu) {
                e.run++;
                return 0;
            }
        }
        PmEntry e;
        e.tile_id = id;
        e.offset = offset;
        e.length = length;
        entries_.push_back(e);
        return 0;
    }

    int finish(const ArchiveInfo &info) override;

private:
    std::string path_;
    TileStore store_;
    std::vector<PmEntry> entries_;
    uint64_t last_id_ = 0;
};

int PmtilesWriter::finish(const ArchiveInfo &info)
{
    std::string root, leaves, metadata;
    if (build_directories(entries_, kPmRootLimit, &root, &leaves) != 0 ||
        gzip_bytes(tilejson_text(info), &metadata) != 0)
        return -1;
    PmHeader h;
    h.root_offset = kPmHeaderSize;
    h.root_length = root.size();
    h.metadata_offset = h.root_offset + h.root_length;
    h.metadata_length = metadata.size();
    h.leaf_offset = h.metadata_offset + h.metadata_length;
    h.leaf_length = leaves.size();
    h.data_offset = h.leaf_offset + h.leaf_length;
    h.data_length = store_.bytes();
    h.addressed_tiles = static_cast<uint64_t>(counts_.tiles);
    h.tile_entries = entries_.size();
    h.tile_contents = static_cast<uint64_t>(store_.contents());
    h.min_zoom = static_cast<uint8_t>(info.minzoom);
    h.max_zoom = static_cast<uint8_t>(info.maxzoom);
    h.center_zoom = static_cast<uint8_t>(info.center_zoom);
    h.west = info.west;
    h.south = info.south;
    h.east = info.east;
    h.north = info.north;
    h.center_lon = info.center_lon;
    h.center_lat = info.center_lat;
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        orvex_register_error(0, "pmtiles: cannot create '%s': %s\n", path_.c_str(), strerror(errno));
        return -1;
    }
    std::string head = pmtiles_header(h) + root + metadata + leaves;
    int rc = write_whole(fd, 0, head.data(), head.size());
    if (rc != 0) orvex_register_error(0, "pmtiles: cannot write '%s': %s\n", path_.c_str(), strerror(errno));
    if (rc == 0) rc = store_.copy_to(fd, h.data_offset, 0, store_.bytes());
    if (close(fd) != 0 && rc == 0) {
        orvex_register_error(0, "pmtiles: cannot write '%s': %s\n", path_.c_str(), strerror(errno));
        rc = -1;
    }
    return rc;
}

/* Entries [first, last) as a compressed directory. */
int compressed_directory(std::vector<PmEntry>::const_iterator first, std::vector<PmEntry>::const_iterator last,
                         std::string *out)
{
    return gzip_bytes(directory_bytes(std::vector<PmEntry>(first, last)), out);
}

}  // namespace

std::string pmtiles_header(const PmHeader &h)
{
    std::string out("PMTiles\x03", 8);
    for (uint64_t v : {h.root_offset, h.root_length, h.metadata_offset, h.metadata_length, h.leaf_offset,
                       h.leaf_length, h.data_offset, h.data_length, h.addressed_tiles, h.tile_entries,
                       h.tile_contents})
        put_le(&out, v, 8);
    for (uint8_t v : {h.clustered, h.internal_compression, h.tile_compression, h.tile_type, h.min_zoom, h.max_zoom})
        out.push_back(static_cast<char>(v));
    put_degrees(&out, h.west);
    put_degrees(&out, h.south);
    put_degrees(&out, h.east);
    put_degrees(&out, h.north);
    out.push_back(static_cast<char>(h.center_zoom));
    put_degrees(&out, h.center_lon);
    put_degrees(&out, h.center_lat);
    return out;
}

std::string directory_bytes(const std::vector<PmEntry> &entries)
{
    std::string out;
    put_varint(&out, entries.size());
    uint64_t previous = 0;
    for (const PmEntry &e : entries) {
        put_varint(&out, e.tile_id - previous);
        previous = e.tile_id;
    }
    for (const PmEntry &e : entries) put_varint(&out, e.run);
    for (const PmEntry &e : entries) put_varint(&out, e.length);
    for (size_t k = 0; k < entries.size(); k++) {
        const PmEntry &e = entries[k];
        bool follows = k > 0 && e.offset == entries[k - 1].offset + entries[k - 1].length;
        put_varint(&out, follows ? 0 : e.offset + 1);
    }
    return out;
}

int gzip_bytes(const std::string &in, std::string *out)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    /* 16 + 15 window bits: a gzip wrapper round a deflate stream. */
    if (deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        orvex_register_error(0, "pmtiles: cannot start a gzip stream\n");
        return -1;
    }
    out->resize(deflateBound(&z, in.size()) + 32);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef *>(&(*out)[0]);
    z.avail_out = static_cast<uInt>(out->size());
    int rc = deflate(&z, Z_FINISH);
    out->resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        orvex_register_error(0, "pmtiles: cannot gzip %zu bytes\n", in.size());
        return -1;
    }
    return 0;
}

int build_directories(const std::vector<PmEntry> &entries, size_t root_limit, std::string *root, std::string *leaves)
{
    leaves->clear();
    if (gzip_bytes(directory_bytes(entries), root) != 0) return -1;
    if (root->size() <= root_limit) return 0;
    /* Leaves of a few thousand entries each, more per leaf until the
     * root's entries, one per leaf, fit. */
    size_t per_leaf = std::max<size_t>(4096, entries.size() / 3500);
    for (;;) {
        std::vector<PmEntry> index;
        leaves->clear();
        for (size_t k = 0; k < entries.size(); k += per_leaf) {
            auto first = entries.begin() + static_cast<long>(k);
            auto last = entries.begin() + static_cast<long>(std::min(entries.size(), k + per_leaf));
            std::string leaf;
            if (compressed_directory(first, last, &leaf) != 0) return -1;
            PmEntry e;
            e.tile_id = first->tile_id;
            e.offset = leaves->size();
            e.length = static_cast<uint32_t>(leaf.size());
            e.run = 0;
            index.push_back(e);
            *leaves += leaf;
        }
        if (gzip_bytes(directory_bytes(index), root) != 0) return -1;
        if (root->size() <= root_limit) return 0;
        per_leaf += per_leaf / 5;
    }
}

ArchiveWriter *new_pmtiles_writer()
{
    return new PmtilesWriter;
}

}  // namespace orvextiles
