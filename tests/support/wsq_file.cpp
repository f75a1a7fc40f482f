// WSQ file decoding for the tests: the size query first, then the pixels.

#include "tests/support/wsq_file.h"

#include "tests/support/data_path.h"
#include "wsq/Wsq.h"

#include <cstddef>

namespace zftest {

bool DecodeWsqFile(const std::string& path, std::vector<unsigned char>& pixels, int& w, int& h)
{
    std::vector<unsigned char> data = ReadFile(path);
    if (data.empty()) {
        return false;
    }
    const int size = static_cast<int>(data.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(data.data(), size));
    void* inst = init_instance();
    bool ok = inst != nullptr &&
              wsq_decode(inst, nullptr, data.data(), size, &w, &h, guard) == WSQ_SIZE_QUERY;
    if (ok) {
        pixels.resize(static_cast<std::size_t>(w) * h);
        ok = wsq_decode(inst, pixels.data(), data.data(), size, &w, &h, guard) >= 0;
    }
    cancel_instance(inst);
    return ok;
}

} // namespace zftest
