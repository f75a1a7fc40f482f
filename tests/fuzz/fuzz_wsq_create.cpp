// Fuzz target: template creation from a WSQ stream (the input) through the public creator, for
// the finger position of the stream's size. A template made must pass the creation checks
// (fuzz_support.h). Frames above kMaxPixels (the card images among the seeds) are left out by a
// size query first, as their extraction takes seconds under the sanitizers (the creator itself
// refuses sides above 4096).

#include "interface/ZelvanFinger.h"
#include "tests/fuzz/fuzz_support.h"
#include "wsq/Wsq.h"

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint64_t kMaxPixels = 1u << 18; // 512 x 512

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace ZelvanFinger;
    if (size > 0x7FFFFFFF) {
        return 0;
    }
    static TemplateCreator* creator = TemplateCreator::create();
    static void* codec = init_instance();
    zffuzz::Require(creator != nullptr && codec != nullptr, "creator and codec created");
    std::vector<unsigned char> stream(data, data + size);
    unsigned char* s = stream.empty() ? nullptr : stream.data();
    const int n = static_cast<int>(size);
    int w = 0;
    int h = 0;
    const int guard = static_cast<int>(Wsq::wsqCheckSum(s, n));
    if (wsq_decode(codec, nullptr, s, n, &w, &h, guard) == WSQ_SIZE_QUERY &&
        static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) > kMaxPixels) {
        return 0;
    }
    WsqImage image{static_cast<int>(size % 11), n, s};
    unsigned created = 0;
    unsigned char quality = 0;
    const int code = creator->createTemplate(image, created, quality);
    zffuzz::CheckCreation(*creator, code, created, quality);
    return 0;
}
