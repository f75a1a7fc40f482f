// Fuzz target: WSQ decoding through the exported entry points. The input is the stream. A wrong
// guard is refused first; the size query answers sides the codec accepts; a decode writes only
// the pixels the query announced (the sanitizers watch the exact-size buffer) and answers the
// software number or a negative code. Frames above kMaxPixels are only queried, as a caller
// bounds them.

#include "tests/fuzz/fuzz_support.h"
#include "wsq/Wsq.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

// Larger frames (the card images among the seeds) are only queried: their decode takes seconds
// under the sanitizers, and the small seeds reach the same code.
constexpr std::uint64_t kMaxPixels = 1u << 18;

struct InstanceDeleter {
    void operator()(void* p) const { cancel_instance(p); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using zffuzz::Require;
    if (size > 0x7FFFFFFF) {
        return 0;
    }
    std::unique_ptr<void, InstanceDeleter> inst(init_instance());
    Require(inst != nullptr, "codec instance created");
    std::vector<unsigned char> stream(data, data + size); // the entry point takes non-const bytes
    unsigned char* s = stream.empty() ? nullptr : stream.data();
    const int n = static_cast<int>(size);
    const int guard = static_cast<int>(Wsq::wsqCheckSum(s, n));
    int w = -1;
    int h = -1;
    if (s != nullptr) {
        Require(wsq_decode(inst.get(), nullptr, s, n, &w, &h, guard + 1) == WSQ_ERR_GUARD,
                "a wrong guard is refused");
    }
    const int query = wsq_decode(inst.get(), nullptr, s, n, &w, &h, guard);
    if (query != WSQ_SIZE_QUERY) {
        Require(query < 0, "the size query never decodes");
        return 0;
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    Require(w >= WSQ_MIN_SIDE && h >= WSQ_MIN_SIDE && pixels <= WSQ_MAX_PIXELS,
            "the size query answers sides the codec accepts");
    if (pixels > kMaxPixels) {
        return 0;
    }
    std::vector<unsigned char> out(static_cast<std::size_t>(pixels));
    int w2 = -1;
    int h2 = -1;
    const int rc = wsq_decode(inst.get(), out.data(), s, n, &w2, &h2, guard);
    Require(rc != WSQ_SIZE_QUERY, "a decode with pixels is no size query");
    Require(w2 == w && h2 == h, "the decode reports the queried sides");
    Require(rc < 0 || rc <= 0xFFFF, "success is the 16-bit software number");
    return 0;
}
