// Replays fuzz inputs without libFuzzer: every file named, and every file
// in a folder named, goes through the target once, in name order. The test
// suite replays each target's kept corpus this way, so every input that
// once reached new code stays a test of the build at hand, with any
// compiler.

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_of(const char *name)
{
    std::vector<fs::path> files;
    if (!fs::is_directory(name)) return {fs::path(name)};
    for (const fs::directory_entry &e : fs::directory_iterator(name))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool replay(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size copy on the heap, as libFuzzer hands inputs over.
    unsigned char *copy = new unsigned char[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    LLVMFuzzerTestOneInput(copy, bytes.size());
    delete[] copy;
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    long count = 0;
    for (int i = 1; i < argc; i++)
        for (const fs::path &file : inputs_of(argv[i])) {
            if (!replay(file)) {
                fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
                return 1;
            }
            count++;
        }
    printf("replayed %ld inputs\n", count);
    return count > 0 ? 0 : 1;
}
