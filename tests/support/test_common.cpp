#include "test_common.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "hostkit.h"

namespace orvex_test {

TempDir::TempDir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvex-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

static void remove_tree(const std::string &path)
{
    if (DIR *d = opendir(path.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                remove_tree(child);
            else
                unlink(child.c_str());
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

TempDir::~TempDir()
{
    remove_tree(path_);
}

void writeFile(const std::string &path, const void *data, size_t n)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(n));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string &path, const std::vector<unsigned char> &bytes)
{
    writeFile(path, bytes.data(), bytes.size());
}

void writeText(const std::string &path, const std::string &text)
{
    writeFile(path, text.data(), text.size());
}

std::vector<unsigned char> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> registered()
{
    std::vector<std::string> out;
    for (int i = 0; i < elog_count(); i++) out.push_back(elog_message(i));
    return out;
}

void clearRegister()
{
    elog_clear_register(0);
}

std::vector<std::string> takeMessages()
{
    std::vector<std::string> out = registered();
    clearRegister();
    return out;
}

}  // namespace orvex_test
