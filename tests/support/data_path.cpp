// Data-path helper of the tests: finds ZF_DATA or ../shared/data, lists folders, reads files and
// PGMs.

// Directory entries through the 64-bit interface: on 32-bit targets (and under qemu-arm) the
// plain one fails with EOVERFLOW on file systems with 64-bit inode numbers.
#define _FILE_OFFSET_BITS 64

#include "tests/support/data_path.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zftest {
namespace {

bool Exists(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return f.good();
}

std::string SourceDir()
{
    const char* env = std::getenv("ZF_SOURCE_DIR");
    return env != nullptr && *env != '\0' ? std::string(env) : std::string(ZF_SOURCE_DIR);
}

} // namespace

std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > suffix.size() &&
                n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) {
                names.push_back(n);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string SharedData(const std::string& relative)
{
    const char* env = std::getenv("ZF_DATA");
    const std::string root =
        env != nullptr && *env != '\0' ? std::string(env) : SourceDir() + "/../shared/data";
    const std::string path = root + "/" + relative;
    return Exists(path) ? path : std::string();
}

std::string TestData(const std::string& relative)
{
    return SourceDir() + "/tests/data/" + relative;
}

std::vector<unsigned char> ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        return {};
    }
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f),
                                      std::istreambuf_iterator<char>());
}

bool ReadPgm(const std::string& path, std::vector<unsigned char>& pixels, int& width, int& height)
{
    const std::vector<unsigned char> bytes = ReadFile(path);
    std::size_t pos = 0;
    // Reads one header token, skipping white space and # comments.
    auto token = [&](long& value) {
        for (;;) {
            while (pos < bytes.size() && std::isspace(bytes[pos]) != 0) {
                ++pos;
            }
            if (pos < bytes.size() && bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') {
                    ++pos;
                }
                continue;
            }
            break;
        }
        long v = 0;
        std::size_t digits = 0;
        while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9' && digits < 9) {
            v = v * 10 + (bytes[pos] - '0');
            ++pos;
            ++digits;
        }
        value = v;
        return digits > 0;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5') {
        return false;
    }
    pos = 2;
    long w = 0;
    long h = 0;
    long maxval = 0;
    if (!token(w) || !token(h) || !token(maxval) || maxval != 255 || w <= 0 || h <= 0) {
        return false;
    }
    ++pos; // the single white-space byte after maxval
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (pos > bytes.size() || bytes.size() - pos < n) {
        return false;
    }
    pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                  bytes.begin() + static_cast<std::ptrdiff_t>(pos + n));
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

} // namespace zftest
