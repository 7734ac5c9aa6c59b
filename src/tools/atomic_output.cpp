#include "atomic_output.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "Orvex.h"

namespace orvexcli {

namespace {

/* The temporary files the signal handler removes. A handler may only make
 * async-signal-safe calls, so the names live in fixed buffers and a slot is
 * published by its flag after its names are complete. */
struct PendingFile {
    volatile sig_atomic_t in_use;
    char temp[PATH_MAX];
    char companion[PATH_MAX];
    char folder[PATH_MAX]; /* a scratch folder removed after its files, or empty */
};

/* The output of a command, its scratch folders (one per raster source) and
 * a few to spare. */
const int kSlots = 16;
PendingFile pending[kSlots];

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void remove_pending(int signo)
{
    for (PendingFile &p : pending) {
        if (!p.in_use) continue;
        unlink(p.temp);
        if (p.companion[0]) unlink(p.companion);
        if (p.folder[0]) rmdir(p.folder);
    }
    /* Ends the process the way the signal would have, so that the caller
     * sees the conventional status (128 + signal number in a shell). */
    signal(signo, SIG_DFL);
    raise(signo);
}

bool fits(const std::string &s)
{
    return s.size() < PATH_MAX;
}

int claim_slot(const std::string &temp, const std::string &companion, const std::string &folder = "")
{
    if (!fits(temp) || !fits(companion) || !fits(folder)) return -1;
    for (int i = 0; i < kSlots; i++) {
        if (pending[i].in_use) continue;
        memcpy(pending[i].temp, temp.c_str(), temp.size() + 1);
        memcpy(pending[i].companion, companion.c_str(), companion.size() + 1);
        memcpy(pending[i].folder, folder.c_str(), folder.size() + 1);
        pending[i].in_use = 1;
        return i;
    }
    return -1;
}

void release_slot(int slot)
{
    if (slot >= 0) pending[slot].in_use = 0;
}

std::string temp_name_for(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + ".tmp-" + std::to_string(static_cast<long>(getpid()));
}

std::string reason(const std::string &what, const std::string &path)
{
    return what + " '" + path + "': " + strerror(errno);
}

/* fsync of the file's data; a read-only descriptor is enough on Linux. */
int flush_path(const std::string &path, int extra_flags)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | extra_flags);
    if (fd < 0) return -1;
    int rc = fsync(fd);
    int saved = errno;
    close(fd);
    errno = saved;
    return rc;
}

/* Moves without replacing: refused with EEXIST when the final name exists,
 * decided atomically by the file system. */
int move_no_replace(const char *from, const char *to)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
    /* File systems without the flag: a hard link never replaces either. */
    if (link(from, to) == 0) return unlink(from), 0;
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) return -1;
    /* Nor links: a last look, then a plain rename (not atomic against a
     * writer racing for the same name, which is all such a file system
     * allows). */
    if (access(to, F_OK) == 0) return errno = EEXIST, -1;
    return rename(from, to);
}

}  // namespace

std::string folder_of(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void install_output_cleanup()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = remove_pending;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals) sigaddset(&sa.sa_mask, s);
    for (int s : kSignals) {
        struct sigaction old;
        /* A signal the caller chose to ignore (nohup) stays ignored. */
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &sa, nullptr);
    }
}

AtomicOutput::AtomicOutput(const std::string &path, const char *companion)
    : path_(path), temp_(temp_name_for(path)), companion_(companion ? temp_ + companion : std::string())
{
    install_output_cleanup();
    slot_ = claim_slot(temp_, companion_);
}

AtomicOutput::~AtomicOutput()
{
    if (!done_) discard();
}

void AtomicOutput::discard()
{
    unlink(temp_.c_str());
    if (!companion_.empty()) unlink(companion_.c_str());
    release_slot(slot_);
    slot_ = -1;
    done_ = true;
}

int AtomicOutput::commit(bool replace, std::string *why)
{
    if (flush_path(temp_, 0) != 0) {
        *why = reason("cannot flush", temp_);
        discard();
        return -1;
    }
    test_checkpoint("commit");
    int rc = replace ? rename(temp_.c_str(), path_.c_str()) : move_no_replace(temp_.c_str(), path_.c_str());
    if (rc != 0) {
        *why = errno == EEXIST ? "'" + path_ + "' appeared meanwhile; it was left as it is"
                               : reason("cannot move the finished file to", path_);
        discard();
        return -1;
    }
    release_slot(slot_);
    slot_ = -1;
    done_ = true;
    /* The rename itself is durable only once the folder is flushed. Some
     * file systems cannot flush a folder (EINVAL); nothing more can be done
     * there. */
    std::string dir = folder_of(path_);
    if (flush_path(dir, O_DIRECTORY) != 0 && errno != EINVAL) {
        *why = reason("cannot flush the folder", dir);
        return -1;
    }
    return 0;
}

AtomicOutput *OutputGroup::add_side(const std::string &path)
{
    sides_.push_back(std::unique_ptr<AtomicOutput>(new AtomicOutput(path)));
    if (sides_.back()->ready()) return sides_.back().get();
    sides_.pop_back();
    return nullptr;
}

int OutputGroup::commit(bool replace, std::string *why)
{
    size_t moved = 0;
    while (moved < sides_.size() && sides_[moved]->commit(replace, why) == 0) moved++;
    int rc = moved < sides_.size() ? -1 : main_.commit(replace, why);
    if (rc != 0) {
        /* Side files without their main file would describe nothing. */
        for (size_t i = 0; i < moved; i++) unlink(sides_[i]->path().c_str());
        main_.discard();
    }
    return rc;
}

ScratchFolder::ScratchFolder(const std::string &parent, const std::string &file, const char *companion)
{
    install_output_cleanup();
    /* The scratch file is handed to the library, which looks a bare
     * relative name up in the data folders: "./" keeps it where it is. */
    std::string folder = parent.empty() ? std::string(".") : parent;
    if (folder[0] != '/' && folder[0] != '.') folder = "./" + folder;
    std::string pattern = folder + "/.orvex-scratch-XXXXXX";
    if (pattern.size() >= PATH_MAX) {
        orvex_register_error(0, "orvex: scratch folder name too long in %s.\n", parent.c_str());
        return;
    }
    char name[PATH_MAX];
    memcpy(name, pattern.c_str(), pattern.size() + 1);
    if (!mkdtemp(name)) {
        orvex_register_error(1, "orvex: cannot make a scratch folder in %s.\n", parent.c_str());
        return;
    }
    folder_ = name;
    file_ = folder_ + "/" + file;
    companion_ = companion ? file_ + companion : std::string();
    slot_ = claim_slot(file_, companion_, folder_);
    if (slot_ < 0) {
        rmdir(folder_.c_str());
        orvex_register_error(0, "orvex: no room to protect another scratch folder.\n");
    }
}

ScratchFolder::~ScratchFolder()
{
    if (slot_ < 0) return;
    unlink(file_.c_str());
    if (!companion_.empty()) unlink(companion_.c_str());
    rmdir(folder_.c_str());
    release_slot(slot_);
}

void test_checkpoint(const std::string &point)
{
    const char *request = getenv("ORVEX_TEST_RAISE");
    const char *at = request ? strchr(request, '@') : nullptr;
    if (!at || point != at + 1) return;
    int signo = atoi(request);
    if (signo > 0) raise(signo);
}

}  // namespace orvexcli
