// Replay driver of a fuzz target built without libFuzzer: feeds every file named on the command
// line, or found directly inside a folder named there, to LLVMFuzzerTestOneInput, in name order.
// A folder after --optional may be absent (the shared data beside the project); any other
// missing path, or a folder that yields no input, fails. A failing input ends the run through the
// sanitizer or an abort.
// Usage: fuzz_<target> [--optional] PATH...

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Regular files directly inside a folder, sorted; hidden files and notes (.md) are skipped.
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> out;
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) {
        return out;
    }
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const bool note = name.size() > 3 && name.compare(name.size() - 3, 3, ".md") == 0;
        if (name.empty() || name[0] == '.' || note || !IsFile(folder + "/" + name)) {
            continue;
        }
        out.push_back(folder + "/" + name);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> inputs;
    bool optional = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--optional") {
            optional = true;
            continue;
        }
        if (IsFolder(arg)) {
            const std::vector<std::string> files = FilesIn(arg);
            if (files.empty() && !optional) {
                std::fprintf(stderr, "no inputs read from %s\n", arg.c_str());
                return 2;
            }
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else if (IsFile(arg)) {
            inputs.push_back(arg);
        } else if (optional) {
            std::printf("skipped: %s not found (shared data absent)\n", arg.c_str());
        } else {
            std::fprintf(stderr, "not found: %s\n", arg.c_str());
            return 2;
        }
        optional = false;
    }
    for (const std::string& path : inputs) {
        std::ifstream f(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(f)),
                                      std::istreambuf_iterator<char>());
        std::printf("replay %s (%zu bytes)\n", path.c_str(), bytes.size());
        std::fflush(stdout);
        // A copy of exactly the input's size, so that a read past its end is caught.
        std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
