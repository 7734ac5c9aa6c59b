// What the command-line fuzz targets share: the input split into argument
// words, one a line, each in a heap block of its own so that
// AddressSanitizer catches the first byte read past a word.
#ifndef ORVEX_FUZZ_WORDS_H
#define ORVEX_FUZZ_WORDS_H

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

class FuzzArgv {
public:
    // argv[0] is `command`; the input's lines follow (a line may be empty).
    FuzzArgv(const char *command, const unsigned char *data, size_t size)
    {
        add(command, strlen(command));
        const char *text = reinterpret_cast<const char *>(data);
        size_t start = 0;
        while (start < size) {
            const void *nl = memchr(text + start, '\n', size - start);
            size_t end = nl ? static_cast<size_t>(static_cast<const char *>(nl) - text) : size;
            add(text + start, end - start);
            start = end + 1;
        }
    }
    ~FuzzArgv()
    {
        for (char *w : words_) free(w);
    }
    FuzzArgv(const FuzzArgv &) = delete;
    FuzzArgv &operator=(const FuzzArgv &) = delete;

    int argc() const { return static_cast<int>(words_.size()); }
    char **argv() { return words_.data(); }
    // The words after argv[0], as a command's parser takes them.
    std::vector<std::string> args() const { return std::vector<std::string>(words_.begin() + 1, words_.end()); }

private:
    void add(const char *text, size_t n)
    {
        char *w = static_cast<char *>(malloc(n + 1));
        memcpy(w, text, n);
        w[n] = '\0';
        words_.push_back(w);
    }
    std::vector<char *> words_;
};

#endif
