// Engine driver: one extraction per wizardWork call (reset, loading with one retry on a nearly
// uniform image, quality, singular points, the final chain, the record and its prefix), the
// callbacks, and the thinning table. Engine stages throw int codes; the one handler of the
// driver turns them into the result and anything else into IP_EXCEPTION.

#include "extraction/processing.h"

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/TemplateFormat.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int SLOT_MAP = 2;                   // slot-count map of a full extraction
constexpr int SKELETON_LAYER = 5;             // level 0
constexpr int MAX_SINGULAR = 16;              // singular points handed to the callback
constexpr unsigned char QUALITY_DOUBT = 0x80; // minutia quality bit: not reliable
constexpr unsigned XAOS_SEED = 1101;

bool SingularType(int t)
{
    return t == 1 || t == 2 || t == 8;
}

// Buffer of an existing layer of the engine, or null.
unsigned char* LayerOf(wizard73::Codex& e, int id, int level)
{
    const int slot = e.GetKey(id, level);
    return slot < 0 ? nullptr : e.m_level[level].buf[slot];
}

} // namespace

std::uint16_t IpCheckValue(const unsigned char* pixels, std::size_t n)
{
    if (pixels == nullptr || n <= 255) {
        return 0;
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n - 255;) {
        const std::size_t j = i + pixels[i]; // at most i + 255 < n
        sum = (sum + pixels[j]) & 0xFFFFu;
        i = j + 1;
    }
    return static_cast<std::uint16_t>(sum);
}

void XaosImage(unsigned char* image, int width, int height)
{
    // 1. Histogram.
    if (image == nullptr || width <= 0 || height <= 0) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::size_t histogram[256] = {};
    for (std::size_t k = 0; k < n; ++k) {
        ++histogram[image[k]];
    }
    // 2. The mode (lowest grey on ties) must cover more than half of the pixels.
    int mode = 0;
    for (int g = 1; g < 256; ++g) {
        mode = histogram[g] > histogram[mode] ? g : mode;
    }
    if (histogram[mode] <= n / 2) {
        return;
    }
    // 3. Pixels of the mode spread over mode - 5 .. mode + 4.
    std::srand(XAOS_SEED);
    for (std::size_t k = 0; k < n; ++k) {
        if (image[k] == mode) {
            const int v = mode - 5 + std::rand() % 10;
            image[k] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

FpProcess::FpProcess()
{
    setSegmentationParameters(0, IP_MAX_SIDE, 0, IP_MAX_SIDE, 4, 1);
}

FpProcess::~FpProcess()
{
    FpProcess::release();
}

bool FpProcess::alloc(int reserved)
{
    if (!ProcessBase::alloc(reserved)) {
        return false;
    }
    m_engine.reset(new (std::nothrow) wizard73::Codex());
    return m_engine != nullptr;
}

void FpProcess::release()
{
    ProcessBase::release();
    m_engine.reset();
}

void FpProcess::setProtect(unsigned char* table)
{
    std::memcpy(wizard73::skeletMask.data(), table, wizard73::skeletMask.size());
}

void FpProcess::getProtect(unsigned char* out)
{
    std::memcpy(out, wizard73::skeletBuilt.data(), wizard73::skeletBuilt.size());
}

bool FpProcess::onProcess1Complete(void* ctx, SingularCompleteCallback cb, FINGERS finger)
{
    // 1. Nothing to tell.
    if (cb == nullptr) {
        return true;
    }
    // 2. The engine's list and pattern class.
    wizard73::SSign points[MAX_SINGULAR];
    int count = 0;
    m_engine->ExIndi(reinterpret_cast<unsigned char*>(points), count);
    const unsigned patternClass = m_engine->m_immask;
    // 3. The singular points proper.
    Singular list[MAX_SINGULAR] = {};
    unsigned n = 0;
    for (int k = 0; k < count; ++k) {
        const wizard73::SSign& p = points[k];
        if (!SingularType(p.type)) {
            continue;
        }
        const int q = (p.quality & 63) * 25;
        list[n++] = Singular{
            p.x,         p.y, static_cast<std::uint8_t>(p.quality >= 128 ? q >> 5 : q >> 4),
            p.angle * 2, 0,   p.type};
    }
    // 4. The caller's answer.
    return cb(ctx, finger, patternClass, n, list);
}

int FpProcess::wizardWork(void* ctx, unsigned char* image, unsigned width, unsigned height,
                          unsigned char* tpl, unsigned* size, int* quality, Frame& frame,
                          FINGERS finger, unsigned char* skeleton, int* skeletonSize,
                          bool isoMinutiae, PreProcessCompleteCallback cb1,
                          QualityCompleteCallback cb2, SingularCompleteCallback cb3,
                          SkeletonCompleteCallback cb4, bool qualityOnly)
{
    // 1. Arguments.
    if (quality == nullptr || image == nullptr) {
        return IP_NULL_ARGUMENT;
    }
    if (!qualityOnly && (size == nullptr || tpl == nullptr)) {
        return IP_NULL_ARGUMENT;
    }
    if (width == 0 || height == 0) {
        return IP_BAD_SIZE;
    }
    if (width > IP_MAX_SIDE || height > IP_MAX_SIDE) {
        return IP_TOO_LARGE;
    }
    if (m_engine == nullptr) {
        return IP_NOT_INITIALISED;
    }
    // 2. Nothing valid until the run succeeds.
    if (size != nullptr) {
        *size = 0;
    }
    *quality = 0;
    if (tpl != nullptr) {
        std::memset(tpl, 0, TF_PREFIX_SIZE);
    }
    int code = 0;
    try {
        code = Run(ctx, image, width, height, tpl, size, quality, frame, finger, skeleton,
                   skeletonSize, isoMinutiae, cb1, cb2, cb3, cb4, qualityOnly);
    } catch (int thrown) {
        code = thrown;
    } catch (...) {
        code = IP_EXCEPTION;
    }
    if (code != 0 && tpl != nullptr) {
        std::memset(tpl, 0, TF_PREFIX_SIZE); // a failed run leaves no template that looks valid
    }
    if (code != 0 && size != nullptr) {
        *size = 0;
    }
    return code;
}

int FpProcess::Run(void* ctx, unsigned char* image, unsigned width, unsigned height,
                   unsigned char* tpl, unsigned* size, int* quality, Frame& frame, FINGERS finger,
                   unsigned char* skeleton, int* skeletonSize, bool isoMinutiae,
                   PreProcessCompleteCallback cb1, QualityCompleteCallback cb2,
                   SingularCompleteCallback cb3, SkeletonCompleteCallback cb4, bool qualityOnly)
{
    wizard73::Codex& engine = *m_engine;
    const std::size_t n = static_cast<std::size_t>(width) * height;

    // 3. The image description.
    wizard73::SData data{};
    data.kind = TF_DEFAULT_KIND;
    data.finger = static_cast<std::uint8_t>(finger);
    data.width = static_cast<std::uint16_t>(width);
    data.height = static_cast<std::uint16_t>(height);
    data.xres = TF_DEFAULT_PPI;
    data.yres = TF_DEFAULT_PPI;
    data.links = TF_DEFAULT_LINKNO;
    data.pixels = image;
    data.check = IpCheckValue(image, n);

    // 4. The region is final.
    if (!onPreProcessComplete(ctx, cb1, finger, frame)) {
        return IP_STOPPED;
    }
    // 5. Reset, 6. load; a nearly uniform image is varied once, on a copy of the caller's.
    engine.Reset();
    int loaded = engine.Loader(data, wizard73::pyr[SLOT_MAP], isoMinutiae);
    if (loaded == wizard73::WZ_FLAT) {
        unsigned char* copy = OwnsImage(image) ? image : m_bufferB.get();
        if (copy != image) {
            std::memcpy(copy, image, n);
        }
        XaosImage(copy, static_cast<int>(width), static_cast<int>(height));
        data.pixels = copy;
        data.check = IpCheckValue(copy, n);
        loaded = engine.Loader(data, wizard73::pyr[SLOT_MAP], isoMinutiae);
    }
    // 7. Load failures.
    if (loaded == wizard73::WZ_FLAT || loaded == wizard73::WZ_TOO_SMALL) {
        return IP_BAD_SIZE;
    }
    if (loaded != 0) {
        return IP_EXTRACTION_FAILED;
    }
    // 8. Quality, 9. its callback.
    engine.Pickup(-1);
    *quality = static_cast<int>(engine.m_quality);
    if (!onGetQualityComplete(ctx, cb2, finger, *quality)) {
        return IP_STOPPED;
    }
    if (qualityOnly) {
        return 0;
    }
    // 10. Singular points, 11. their callback.
    engine.Xfocus(1);
    if (!onProcess1Complete(ctx, cb3, finger)) {
        return IP_STOPPED;
    }
    // 12. The final chain, 13. the record's size.
    engine.Epilog(-1);
    int len = 0;
    engine.GetSize(len);
    if (len <= 0 || len + TF_PREFIX_SIZE > MAX_TEMPLATE_SIZE) {
        return IP_EXTRACTION_FAILED;
    }
    // 14. The record, 15. the prefix.
    engine.ExGold(tpl + TF_PREFIX_SIZE);
    const wizard73::SSign* minutiae = engine.MinutiaList();
    const unsigned count = minutiae != nullptr ? engine.m_minutiae : 0u;
    unsigned reliable = 0;
    for (unsigned k = 0; k < count; ++k) {
        reliable += (minutiae[k].quality & QUALITY_DOUBT) == 0 ? 1u : 0u;
    }
    const std::uint32_t total = static_cast<std::uint32_t>(len) + TF_PREFIX_SIZE;
    unsigned char* prefix = tpl;
    std::memset(prefix, 0, TF_PREFIX_SIZE);
    TfWrite32(prefix + TF_PREFIX_TOTAL_LENGTH, total);
    prefix[TF_PREFIX_VERSION] = TF_PREFIX_VERSION_VALUE;
    TfWrite16(prefix + TF_PREFIX_MINUTIA_COUNT, count);
    prefix[TF_PREFIX_RELIABLE_COUNT] = static_cast<unsigned char>(reliable > 255 ? 255 : reliable);
    prefix[TF_PREFIX_QUALITY] = tpl[TF_PREFIX_SIZE + TF_QUALIT];
    *quality = prefix[TF_PREFIX_QUALITY];
    // 16. The skeleton callback, 17. the skeleton copy.
    unsigned char* skel = LayerOf(engine, SKELETON_LAYER, 0);
    const int skelSize = skel != nullptr ? static_cast<int>(engine.m_level[0].size) : 0;
    if (!onSkeletonComplete(ctx, cb4, finger, skel, skelSize)) {
        return IP_STOPPED;
    }
    if (skeleton != nullptr && skeletonSize != nullptr) {
        *skeletonSize = skelSize;
        if (skelSize > 0) {
            std::memcpy(skeleton, skel, static_cast<std::size_t>(skelSize));
        }
    }
    // 18. The region the engine worked on; the size only now.
    frame.right = frame.left + TfRead16(tpl + TF_PREFIX_SIZE + TF_I_SIZE_X) - 1;
    frame.bottom = frame.top + TfRead16(tpl + TF_PREFIX_SIZE + TF_I_SIZE_Y) - 1;
    *size = total;
    return 0;
}
