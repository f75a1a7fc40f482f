// WSQ decoding from a file and the corner checks of the segmentation tests.

#include "tests/segmentation/seg_checks.h"

#include "tests/support/data_path.h"
#include "wsq/Wsq.h"

#include <cstddef>

namespace segtest {

bool DecodeWsq(const std::string& path, std::vector<unsigned char>& pixels, int& w, int& h)
{
    std::vector<unsigned char> data = zftest::ReadFile(path);
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

bool Holds(const SgmRect& r, int x, int y)
{
    const int xs[4] = {r.x1, r.x2, r.x4, r.x3};
    const int ys[4] = {r.y1, r.y2, r.y4, r.y3};
    int positive = 0;
    int negative = 0;
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        const long cross = static_cast<long>(xs[j] - xs[i]) * (y - ys[i]) -
                           static_cast<long>(ys[j] - ys[i]) * (x - xs[i]);
        positive += cross > 0 ? 1 : 0;
        negative += cross < 0 ? 1 : 0;
    }
    return positive == 0 || negative == 0;
}

bool Inside(const SgmRect& r, unsigned w, unsigned h)
{
    const int xs[4] = {r.x1, r.x2, r.x3, r.x4};
    const int ys[4] = {r.y1, r.y2, r.y3, r.y4};
    for (int i = 0; i < 4; ++i) {
        if (xs[i] < 0 || ys[i] < 0 || xs[i] >= static_cast<int>(w) ||
            ys[i] >= static_cast<int>(h)) {
            return false;
        }
    }
    return true;
}

} // namespace segtest
