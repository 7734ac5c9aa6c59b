// Files a command creates appear whole or not at all. Each is written under
// a temporary name beside its final name (".NAME.tmp-PID", same folder, so
// the final rename is atomic) and moved into place only once complete and
// flushed to disk. SIGINT, SIGTERM and SIGHUP remove the temporary files
// before the process ends with the signal's conventional status; after a
// SIGKILL or a power loss only a temporary file can remain, never a file at
// the final name.
#ifndef ORVEX_TOOL_ATOMIC_OUTPUT_H
#define ORVEX_TOOL_ATOMIC_OUTPUT_H

#include <memory>
#include <string>
#include <vector>

namespace orvexcli {

class AtomicOutput {
public:
    /* Chooses the temporary name for `path` and has it (and `companions`:
     * suffixes of files a writer may make beside it, such as "-journal")
     * removed on the signals above. Creates nothing. */
    explicit AtomicOutput(const std::string &path, const char *companion = nullptr);
    /* Removes the temporary file unless it was committed. */
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput &) = delete;
    AtomicOutput &operator=(const AtomicOutput &) = delete;

    const std::string &path() const { return path_; }
    const std::string &temp_path() const { return temp_; }
    /* False when no signal slot was free; the output is then unprotected
     * and the caller refuses to go on. */
    bool ready() const { return slot_ >= 0; }

    /* Flushes the temporary file, moves it to the final name and flushes
     * the folder. An existing file at the final name is replaced only when
     * `replace` is true. Returns 0, or -1 with the reason in *why (the
     * temporary file is then removed). */
    int commit(bool replace, std::string *why);
    /* Removes the temporary file (and its companion) now. */
    void discard();

private:
    std::string path_, temp_, companion_;
    int slot_ = -1;
    bool done_ = false;
};

/* A file and the side files that belong to it (a world file, say), which
 * appear together: each is written under its own temporary name, and
 * commit() moves the side files first and the main file last, removing
 * the side files again when the main file cannot follow. */
class OutputGroup {
public:
    explicit OutputGroup(const std::string &path, const char *companion = nullptr) : main_(path, companion) {}
    AtomicOutput &main() { return main_; }
    /* Protects a side file at `path`; null when no signal slot is free. */
    AtomicOutput *add_side(const std::string &path);
    /* As AtomicOutput::commit, for the whole group. */
    int commit(bool replace, std::string *why);

private:
    AtomicOutput main_;
    std::vector<std::unique_ptr<AtomicOutput>> sides_;
};

/* A folder of scratch files made with a unique name (.orvex-scratch-XXXXXX)
 * inside `parent`, holding one file and its companion (`file` plus the
 * suffix `companion`): both and the folder are removed when the object goes
 * or on the signals above. */
class ScratchFolder {
public:
    ScratchFolder(const std::string &parent, const std::string &file, const char *companion);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    /* False when the folder could not be made or protected (registered). */
    bool ready() const { return slot_ >= 0; }
    const std::string &file_path() const { return file_; }
    const std::string &companion_path() const { return companion_; }

private:
    std::string folder_, file_, companion_;
    int slot_ = -1;
};

/* The folder of a file's path: "." for a bare name. */
std::string folder_of(const std::string &path);

/* Installs the handlers of SIGINT, SIGTERM and SIGHUP that remove every
 * pending temporary file; idempotent. */
void install_output_cleanup();

/* Test hook: when the environment variable ORVEX_TEST_RAISE is "SIG@POINT"
 * and `point` equals POINT, the process sends itself signal number SIG, so
 * that tests can interrupt a command at a chosen step. */
void test_checkpoint(const std::string &point);

}  // namespace orvexcli

#endif
