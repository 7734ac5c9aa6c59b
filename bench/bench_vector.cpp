// The vector road on a generated shoreline set: GSHHS scan, bad-point purge
// and vector tile writing, in points per second, with a plain write() of the
// same point bytes from memory as the reference for the writer.
//
// Usage: bench_vector [rings [points-per-ring]]   (default 4000 x 1300)

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "VectorGeometry.h"

namespace {

typedef std::chrono::steady_clock Clock;

double seconds_since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Processor time of the process (user and system), which other programs
// on a shared machine do not inflate as they do wall time.
double cpu_now()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

void put32(std::string &out, int v)
{
    unsigned u = static_cast<unsigned>(v);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((u >> shift) & 255));
}

// One ring of n points around (clon, clat) with a wobbling radius. Every
// 97th ring is centred on the 180 degree meridian; every 5th carries a
// repeated point and a small self-crossing (two points swapped) every few
// hundred points.
std::vector<std::pair<int, int>> make_ring(int index, int n, unsigned &salt)
{
    double clon = index % 97 == 0 ? 179.95 : -170.0 + (index * 7.31) - 340.0 * floor((index * 7.31) / 340.0);
    double clat = -60.0 + fmod(index * 3.77, 120.0);
    double r = 0.05 + 0.5 * (index % 13) / 13.0;
    std::vector<std::pair<int, int>> pts;
    pts.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        salt = salt * 1103515245u + 12345u;
        double wobble = 1.0 + 0.02 * ((salt >> 16) % 100) / 100.0;
        double a = 2 * M_PI * i / n;
        double lon = clon + r * wobble * cos(a), lat = clat + r * wobble * sin(a);
        if (lon >= 180.0) lon -= 360.0;
        pts.emplace_back(static_cast<int>(lround(lon * 1e6)), static_cast<int>(lround(lat * 1e6)));
    }
    pts.back() = pts.front();  // closed
    if (index % 5 == 0) {
        for (int i = 50; i + 3 < n - 2; i += 300) {
            pts[static_cast<size_t>(i) + 1] = pts[static_cast<size_t>(i)];           // repeated
            std::swap(pts[static_cast<size_t>(i) + 20], pts[static_cast<size_t>(i) + 21]);  // crossing
        }
    }
    return pts;
}

std::string make_gshhs(int rings, int per_ring, long *total)
{
    std::string out;
    unsigned salt = 12345;
    *total = 0;
    for (int k = 0; k < rings; k++) {
        std::vector<std::pair<int, int>> pts = make_ring(k, per_ring, salt);
        put32(out, k);
        put32(out, static_cast<int>(pts.size()));
        put32(out, (7 << 8) | 1);
        for (int i = 0; i < 5; i++) put32(out, 0);  // box and area: not read
        for (int i = 0; i < 3; i++) put32(out, 0);
        for (const auto &p : pts) {
            put32(out, p.first);
            put32(out, p.second);
        }
        *total += static_cast<long>(pts.size());
    }
    return out;
}

// Sends standard output to /dev/null while the purge prints its findings.
class QuietStdout {
public:
    QuietStdout()
    {
        fflush(stdout);
        saved_ = dup(1);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~QuietStdout()
    {
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

}  // namespace

int main(int argc, char **argv)
{
    int rings = argc > 1 ? atoi(argv[1]) : 4000;
    int per_ring = argc > 2 ? atoi(argv[2]) : 1300;
    char dir_template[] = "/tmp/orvex_bench_vector_XXXXXX";
    if (!mkdtemp(dir_template)) return 1;
    std::string dir = dir_template;
    std::string in_path = dir + "/shore.gshhs", out_path = dir + "/shore.orx",
                ref_path = dir + "/reference.bin";

    long total = 0;
    std::string bytes = make_gshhs(rings, per_ring, &total);
    FILE *f = fopen(in_path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);

    // Scan: best of three openings.
    double scan = 1e30, scan_cpu = 1e30;
    for (int i = 0; i < 3; i++) {
        Orvex probe;
        double c0 = cpu_now();
        Clock::time_point t0 = Clock::now();
        if (probe.setInput(in_path.c_str(), 0, nullptr) < 0) {
            elog_print(stderr);
            return 1;
        }
        double s = seconds_since(t0), c = cpu_now() - c0;
        if (s < scan) scan = s;
        if (c < scan_cpu) scan_cpu = c;
    }

    Orvex input;
    input.setInput(in_path.c_str(), 0, nullptr);
    OrvexVectorTile &tile = static_cast<OrvexVector *>(input.frame.resolutions[0].data)->tiles[0];
    long before = 0, after = 0;
    for (long s = 0; s < tile.nsegments; s++) before += tile.segments[s].npts;
    double purge_c0 = cpu_now();
    Clock::time_point t0 = Clock::now();
    {
        QuietStdout quiet;
        for (long s = 0; s < tile.nsegments; s++)
            orvex_purgeVectorDataBadPoints(&tile.segments[s], ORVEX_DATA_GSHHS, &input);
    }
    double purge = seconds_since(t0);
    double purge_cpu = cpu_now() - purge_c0;
    for (long s = 0; s < tile.nsegments; s++) after += tile.segments[s].npts;

    // Writing: best of five, each into a fresh file, like the reference.
    double write_time = 1e30, write_cpu = 1e30;
    long header_end = 0;
    for (int i = 0; i < 5; i++) {
        unlink(out_path.c_str());
        Orvex output;
        if (output.setOutput(out_path.c_str()) < 0 ||
            output.setResolutionHdrVector(&input, 0, 0, 1, 1, -1, 0, 0, "bench", "full") < 0) {
            elog_print(stderr);
            return 1;
        }
        header_end = orvex_tell(output.fd);
        QuietStdout quiet;
        double c0 = cpu_now();
        t0 = Clock::now();
        if (output.writeDataVector() < 0) {
            elog_print(stderr);
            return 1;
        }
        double w = seconds_since(t0), c = cpu_now() - c0;
        if (w < write_time) write_time = w;
        if (c < write_cpu) write_cpu = c;
    }

    // Reference: the same point bytes written from memory with plain write
    // calls of 1 MiB.
    std::string points;
    {
        FILE *g = fopen(out_path.c_str(), "rb");
        fseek(g, header_end, SEEK_SET);
        points.resize(static_cast<size_t>(after) * 8);
        size_t got = fread(&points[0], 1, points.size(), g);
        fclose(g);
        points.resize(got);
    }
    double reference = 1e30, reference_cpu = 1e30;
    for (int i = 0; i < 5; i++) {
        unlink(ref_path.c_str());
        int fd = open(ref_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        double c0 = cpu_now();
        Clock::time_point r0 = Clock::now();
        for (size_t off = 0; off < points.size(); off += 1 << 20) {
            size_t n = points.size() - off < (1u << 20) ? points.size() - off : (1u << 20);
            if (write(fd, points.data() + off, n) != static_cast<ssize_t>(n)) return 1;
        }
        double r = seconds_since(r0), c = cpu_now() - c0;
        close(fd);
        if (r < reference) reference = r;
        if (c < reference_cpu) reference_cpu = c;
    }

    printf("shoreline set: %d rings, %ld points (%ld after the purge), %.1f MiB GSHHS file\n", rings,
           total, after, bytes.size() / 1048576.0);
    printf("%-30s %9s %9s %16s %16s\n", "step", "wall s", "cpu s", "points/s (wall)",
           "points/s (cpu)");
    printf("%-30s %9.3f %9.3f %16.0f %16.0f\n", "GSHHS scan (best of 3)", scan, scan_cpu,
           total / scan, total / scan_cpu);
    printf("%-30s %9.3f %9.3f %16.0f %16.0f\n", "purge", purge, purge_cpu, before / purge,
           before / purge_cpu);
    printf("%-30s %9.3f %9.3f %16.0f %16.0f\n", "vector tile writing (best 5)", write_time,
           write_cpu, after / write_time, after / write_cpu);
    printf("%-30s %9.3f %9.3f %16.0f %16.0f\n", "plain write() (best of 5)", reference,
           reference_cpu, after / reference, after / reference_cpu);
    printf("writer / plain write: %.2f wall, %.2f cpu (target <= 1.5)\n", write_time / reference,
           write_cpu / reference_cpu);

    unlink(in_path.c_str());
    unlink(out_path.c_str());
    unlink(ref_path.c_str());
    rmdir(dir.c_str());
    return 0;
}
