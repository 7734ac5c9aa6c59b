// What every group of tests needs: a temporary folder that cleans up after
// itself, whole-file reads and writes, and this thread's error register.
#ifndef ORVEX_TESTS_TEST_COMMON_H
#define ORVEX_TESTS_TEST_COMMON_H

#include <stddef.h>

#include <string>
#include <vector>

namespace orvex_test {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string &path, const void *data, size_t n);
void writeFile(const std::string &path, const std::vector<unsigned char> &bytes);
void writeText(const std::string &path, const std::string &text);
std::vector<unsigned char> readFile(const std::string &path);

// This thread's error register as a list of messages, oldest first.
std::vector<std::string> registered();
// Empties the register.
void clearRegister();
// The register's messages, oldest first, and empties it.
std::vector<std::string> takeMessages();

}  // namespace orvex_test

#endif
