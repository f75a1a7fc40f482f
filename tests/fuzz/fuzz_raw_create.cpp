// Fuzz target: template creation from 8-bit pixels. The input's first byte picks the entry (bit
// 0: the extractor's bitmap entry, else the public raw entry) and the next its finger position;
// then come the sides (1..1024, the bitmap's 1..512 as its resolution may stretch it five
// times), for a bitmap its resolution, row order, palette size and header variations, and the
// rest of the input tiled over the pixels (and the palette). A template made must pass the
// creation checks (fuzz_support.h).

#include "extraction/ip.h"
#include "interface/ZelvanFinger.h"
#include "records/TemplateFormat.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstdint>
#include <vector>

namespace {

using zffuzz::Require;

void Put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v)
{
    TfWrite32(b.data() + at, v);
}

void Put16(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v)
{
    TfWrite16(b.data() + at, v);
}

void Raw(zffuzz::Input& in, int finger)
{
    static ZelvanFinger::TemplateCreator* creator = ZelvanFinger::TemplateCreator::create();
    Require(creator != nullptr, "creator created");
    const int w = 1 + in.U16() % 1024;
    const int h = 1 + in.U16() % 1024;
    std::vector<unsigned char> px = in.Tile(static_cast<std::size_t>(w) * h);
    ZelvanFinger::RawImage image{finger, w, h, px.data()};
    unsigned size = 0;
    unsigned char quality = 0;
    const int code = creator->createTemplate(image, size, quality);
    zffuzz::CheckCreation(*creator, code, size, quality);
}

// An 8-bit palette bitmap: header (biSize bytes, 40 or a little more), 256 palette entries,
// rows padded to 4 bytes.
void Bitmap(zffuzz::Input& in, int finger)
{
    static Ip ip;
    static TemplateData td{FINGER_UNKNOWN, nullptr};
    static ZelvanFinger::FpTemplateChecker* checker = ZelvanFinger::FpTemplateChecker::create();
    if (td.buffer == nullptr) {
        Require(ip.init() == 0 && Ip::allocateTemplates(1, &td) == 0 && checker != nullptr,
                "extractor ready");
    }
    const std::uint32_t w = 1 + in.U16() % 512;
    const std::uint32_t h = 1 + in.U16() % 512;
    const std::uint8_t flags = in.U8();
    const std::uint32_t xppm = in.U32();
    const std::uint32_t yppm = (flags & 1) != 0 ? xppm : in.U32();
    const std::uint32_t headerSize = 40 + 4 * ((flags >> 1) & 3);
    const std::uint32_t stride = (w + 3) & ~3u;
    std::vector<unsigned char> bmp(headerSize + IP_PALETTE_SIZE + stride * h);
    Put32(bmp, 0, headerSize);
    Put32(bmp, 4, w);
    Put32(bmp, 8, (flags & 8) != 0 ? static_cast<std::uint32_t>(-static_cast<std::int32_t>(h)) : h);
    Put16(bmp, 12, (flags & 16) != 0 ? in.U16() : 1); // planes
    Put16(bmp, 14, (flags & 32) != 0 ? in.U16() : 8); // bits per pixel
    Put32(bmp, 16, (flags & 64) != 0 ? in.U32() : 0); // compression
    Put32(bmp, 24, xppm);
    Put32(bmp, 28, yppm);
    Put32(bmp, 32, (flags & 128) != 0 ? 256 : 0); // palette entries used
    for (std::uint32_t i = 0; i < 256; ++i) {     // grey palette ...
        for (std::uint32_t c = 0; c < 3; ++c) {
            bmp[headerSize + 4 * i + c] = static_cast<unsigned char>(i);
        }
    }
    const std::vector<unsigned char> rest = in.Tile(IP_PALETTE_SIZE + stride * h);
    if ((in.U8() & 1) != 0) { // ... or the input's
        std::copy(rest.begin(), rest.begin() + IP_PALETTE_SIZE, bmp.begin() + headerSize);
    }
    std::copy(rest.begin() + IP_PALETTE_SIZE, rest.end(),
              bmp.begin() + headerSize + IP_PALETTE_SIZE);
    td.finger = static_cast<FINGERS>(finger < 0 ? 0 : finger % 11); // the creator checks it
    unsigned size = 0;
    int quality = -1;
    Frame frame{0, 0, 0, 0};
    const int code = ip.process(nullptr, CaptureData{td.finger, bmp.data()}, td, &size, &quality,
                                nullptr, &frame, nullptr, nullptr, nullptr, nullptr);
    Require(code <= 1, "the extractor answers 0, 1 or a negative code");
    if (code == 0) {
        Require(quality >= 0 && quality <= 100, "quality is a percentage");
        Require(size > static_cast<unsigned>(TF_PREFIX_SIZE) &&
                    size <= static_cast<unsigned>(MAX_TEMPLATE_SIZE),
                "template size in range");
        Require(checker->check(td.buffer), "the checker accepts a created template");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    zffuzz::Input in(data, size);
    const std::uint8_t entry = in.U8();
    const int finger = static_cast<int>(in.U8() % 13) - 1; // -1 .. 11: refusals included
    if ((entry & 1) != 0) {
        Bitmap(in, finger);
    } else {
        Raw(in, finger);
    }
    return 0;
}
