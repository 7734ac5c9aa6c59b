// The tile run: a shared cursor over the tile list, a window of drawn tiles
// waiting for their turn, and whichever thread completes the next tile in
// order writes it and every waiting tile after it.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "Orvex.h"
#include "tile_id.h"
#include "tile_run.h"

namespace orvextiles {

namespace {

struct Run {
    const std::vector<uint64_t> *ids;
    const DrawTile *draw;
    ArchiveWriter *writer;
    const std::function<void(long, long)> *progress;
    size_t window;
    std::mutex mutex;
    std::condition_variable room;
    size_t next_draw = 0, next_write = 0;
    std::map<size_t, std::string> drawn; /* waiting for their turn */
    bool failed = false;
    std::vector<std::string> messages;
};

/* The register of this thread into the run's messages, once. */
void keep_failure(Run &run)
{
    if (!run.failed) {
        run.failed = true;
        for (int m = 0; m < elog_count(); m++) run.messages.push_back(elog_message(m));
    }
    elog_clear_register(0);
    run.room.notify_all();
}

/* Writes the drawn tiles that are next in order; the lock is held. */
void write_ready(Run &run)
{
    for (auto it = run.drawn.begin(); !run.failed && it != run.drawn.end() && it->first == run.next_write;
         it = run.drawn.erase(it)) {
        int z = 0;
        uint32_t x = 0, y = 0;
        tile_of_id((*run.ids)[it->first], &z, &x, &y);
        if (run.writer->add((*run.ids)[it->first], z, x, y, it->second) != 0) return keep_failure(run);
        run.next_write++;
        if (*run.progress) (*run.progress)(static_cast<long>(run.next_write), static_cast<long>(run.ids->size()));
    }
    run.room.notify_all();
}

void worker(Run *run)
{
    std::string bytes;
    for (;;) {
        size_t k;
        {
            std::unique_lock<std::mutex> lock(run->mutex);
            run->room.wait(lock, [run] { return run->failed || run->next_draw < run->next_write + run->window; });
            if (run->failed || run->next_draw >= run->ids->size()) return;
            k = run->next_draw++;
        }
        int z = 0;
        uint32_t x = 0, y = 0;
        tile_of_id((*run->ids)[k], &z, &x, &y);
        int rc = (*run->draw)(z, x, y, &bytes);
        std::lock_guard<std::mutex> lock(run->mutex);
        if (rc != 0) {
            orvex_register_error(0, "cannot draw tile %d/%u/%u\n", z, x, y);
            return keep_failure(*run);
        }
        run->drawn[k] = std::move(bytes);
        bytes.clear();
        write_ready(*run);
    }
}

}  // namespace

int draw_tiles(const std::vector<uint64_t> &ids, int threads, const DrawTile &draw, ArchiveWriter *writer,
               const std::function<void(long, long)> &progress)
{
    Run run;
    run.ids = &ids;
    run.draw = &draw;
    run.writer = writer;
    run.progress = &progress;
    run.window = static_cast<size_t>(threads < 1 ? 1 : threads) * 16;
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; t++) pool.emplace_back(worker, &run);
    worker(&run);
    for (std::thread &t : pool) t.join();
    if (!run.failed) return 0;
    for (const std::string &m : run.messages) orvex_register_error(0, "%s", m.c_str());
    return -1;
}

}  // namespace orvextiles
