// Fuzz target: WSQ encoding. The input gives the sides (1..320; the codec refuses those below
// 65), the rate (one of the usual rates or, when the first byte is odd, any float bit pattern)
// and then the pixels, tiled from the rest. The stream never passes its w x h buffer, and every
// stream made decodes back to the same sides.

#include "tests/fuzz/fuzz_support.h"
#include "wsq/Wsq.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using zffuzz::Require;

struct InstanceDeleter {
    void operator()(void* p) const { cancel_instance(p); }
};

constexpr float kRates[] = {-0.75f, -2.25f, -1.0f, 15.0f, 5.0f, 40.0f, -8.0f, 0.0f};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    zffuzz::Input in(data, size);
    const std::uint8_t mode = in.U8();
    const int w = 1 + in.U16() % 320;
    const int h = 1 + in.U16() % 320;
    const float rate = (mode & 1) != 0 ? in.F32() : kRates[(mode >> 1) % 8];
    std::vector<unsigned char> px = in.Tile(static_cast<std::size_t>(w) * h);
    const std::vector<unsigned char> original = px;
    std::unique_ptr<void, InstanceDeleter> inst(init_instance());
    Require(inst != nullptr, "codec instance created");
    // The stream goes into a block of exactly w x h bytes, with a canary after it.
    std::vector<unsigned char> out(px.size() + 1, 0x5A);
    const int guard =
        static_cast<int>(Wsq::wsqCheckSum(px.data(), static_cast<std::int64_t>(w) * h));
    const int n = wsq_encode(inst.get(), px.data(), out.data(), w, h, rate, guard);
    Require(out.back() == 0x5A, "the stream stays within w x h bytes");
    Require(px == original, "the pixels are not written");
    if (n <= 0) {
        Require(n < 0, "an empty stream is a failure code");
        return 0;
    }
    Require(static_cast<std::size_t>(n) <= px.size(), "stream length within the buffer");
    int dw = 0;
    int dh = 0;
    const int query = wsq_decode(inst.get(), nullptr, out.data(), n, &dw, &dh,
                                 static_cast<int>(Wsq::wsqCheckSum(out.data(), n)));
    Require(query == WSQ_SIZE_QUERY && dw == w && dh == h, "the stream declares the sides");
    std::vector<unsigned char> back(px.size());
    const int rc = wsq_decode(inst.get(), back.data(), out.data(), n, &dw, &dh,
                              static_cast<int>(Wsq::wsqCheckSum(out.data(), n)));
    Require(rc == WSQ_SOFTWARE_ID, "every stream made decodes");
    return 0;
}
