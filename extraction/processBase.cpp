// ProcessBase: buffers, bitmap checks and conversion, resampling to 500 pixels per inch, the
// finger cut with FSeg and the region limits, and the forwarding of raw images to wizardWork.
// Returns 0 or the IP_ codes; FSeg's allocation failure passes on as std::bad_alloc to the
// extractor's guard (Ip).

#include "extraction/processBase.h"

#include "imaging/imageUtl.h"
#include "imaging/stretch.h"
#include "records/TemplateFormat.h"
#include "segmentation/FSeg.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr unsigned TARGET_DPI = 500;
constexpr unsigned MIN_DPI = 100;
constexpr unsigned MAX_DPI = 1000;
constexpr unsigned NEAR_TARGET_LOW = 495;
constexpr unsigned NEAR_TARGET_HIGH = 505;

std::uint32_t Le32(const unsigned char* p)
{
    return TfRead32(p);
}

unsigned Rows(const BitmapHeader& h)
{
    const std::int64_t r = h.biHeight;
    return static_cast<unsigned>(r < 0 ? -r : r);
}

unsigned Stride(const BitmapHeader& h)
{
    return (static_cast<unsigned>(h.biWidth) + 3u) & ~3u;
}

// Pixels per inch of a pixels-per-metre field, or 0 when outside 100..1000.
unsigned Dpi(std::int32_t perMetre)
{
    const double d = perMetre * 25.4 / 1000 + 0.5;
    if (d < MIN_DPI || d >= MAX_DPI + 1) {
        return 0;
    }
    return static_cast<unsigned>(d);
}

// Side rounded down to a multiple of `align` (align >= 1).
int Align(int v, unsigned align)
{
    return static_cast<int>(align) * (v / static_cast<int>(align));
}

} // namespace

ProcessBase::ProcessBase()
{
    setSegmentationParameters(0, IP_MAX_SIDE, 0, IP_MAX_SIDE, 4, 1);
}

ProcessBase::~ProcessBase() = default;

void ProcessBase::setSegmentationParameters(unsigned minW, unsigned maxW, unsigned minH,
                                            unsigned maxH, unsigned alignW, unsigned alignH)
{
    // 1. Bounds, 2. alignments, 3. limits rounded to them. An alignment of 0 for the heights
    // means no alignment (1), as it already does for the widths.
    const unsigned mw = maxW >= 1 && maxW <= IP_MAX_SIDE ? maxW : IP_MAX_SIDE;
    const unsigned mh = maxH >= 1 && maxH <= IP_MAX_SIDE ? maxH : IP_MAX_SIDE;
    const unsigned aw = alignH == 0 ? 1 : std::max(alignW, 4u);
    const unsigned ah = alignH == 0 ? 1 : alignH;
    m_minW = aw * (std::min(mw, minW) / aw);
    m_maxW = aw * (mw / aw);
    m_minH = ah * (std::min(mh, minH) / ah);
    m_maxH = ah * (mh / ah);
    m_alignW = aw;
    m_alignH = ah;
}

int ProcessBase::common_init(int reserved)
{
    if (m_initialised != 0) {
        return 0;
    }
    return alloc(reserved) ? 0 : IP_NO_MEMORY;
}

bool ProcessBase::alloc(int /*unused: no variants*/)
{
    release();
    m_bufferA.reset(new (std::nothrow) unsigned char[IP_BUFFER_SIZE]);
    m_bufferB.reset(new (std::nothrow) unsigned char[IP_BUFFER_SIZE]);
    return m_bufferA != nullptr && m_bufferB != nullptr;
}

void ProcessBase::release()
{
    m_bufferA.reset();
    m_bufferB.reset();
    m_current = nullptr;
    m_other = nullptr;
}

int ProcessBase::init(int reserved)
{
    if (m_initialised != 0) {
        return 0;
    }
    const int code = common_init(reserved);
    if (code == 0) {
        unsigned char table[256];
        getProtect(table);
        setProtect(table);
        m_initialised = 1;
    }
    return code;
}

int ProcessBase::initEx(unsigned char* table, int reserved)
{
    if (m_initialised != 0) {
        return 0;
    }
    if (table == nullptr) {
        return IP_NULL_ARGUMENT;
    }
    const int code = common_init(reserved);
    if (code != 0) {
        return code;
    }
    setProtect(table);
    m_initialised = 1;
    return 0;
}

int ProcessBase::allocateTemplates(int n, TemplateData* td, unsigned size)
{
    if (n < 1 || n > 10) {
        return IP_BAD_TEMPLATE_COUNT;
    }
    if (td == nullptr) {
        return IP_NULL_ARGUMENT;
    }
    for (int i = 0; i < n; ++i) {
        td[i] = TemplateData{FINGER_UNKNOWN, nullptr};
    }
    for (int i = 0; i < n; ++i) {
        td[i].buffer = new (std::nothrow) unsigned char[size]();
        if (td[i].buffer == nullptr) {
            return IP_EXCEPTION; // the buffers already given stay in their entries
        }
    }
    return 0;
}

int ProcessBase::freeTemplates(unsigned n, TemplateData* td)
{
    if (n < 1 || n > 10) {
        return IP_BAD_TEMPLATE_COUNT;
    }
    if (td == nullptr) {
        return IP_NULL_ARGUMENT;
    }
    for (unsigned i = 0; i < n; ++i) {
        delete[] td[i].buffer;
        td[i].buffer = nullptr;
    }
    return 0;
}

void ProcessBase::SwapBuffers()
{
    m_toggle ^= 1u;
    m_current = m_toggle == 1 ? m_bufferA.get() : m_bufferB.get();
    m_other = m_toggle == 1 ? m_bufferB.get() : m_bufferA.get();
}

void ProcessBase::UseImage(unsigned char* image)
{
    m_current = image;
    if (image == m_bufferB.get()) {
        m_other = m_bufferA.get();
        m_toggle = 0;
    } else {
        m_other = m_bufferB.get();
        m_toggle = 1;
    }
}

ProcessParam ProcessBase::Defaults(const ProcessParam* param)
{
    ProcessParam p = param != nullptr ? *param : ProcessParam{1, 1, 0, IP_MAX_SIDE, IP_MAX_SIDE, 0};
    if (p.maxWidth < 1 || p.maxWidth > IP_MAX_SIDE) {
        p.maxWidth = IP_MAX_SIDE;
    }
    if (p.maxHeight < 1 || p.maxHeight > IP_MAX_SIDE) {
        p.maxHeight = IP_MAX_SIDE;
    }
    return p;
}

int ProcessBase::checkImage() const
{
    const BitmapHeader& h = m_header;
    const bool good = h.biWidth >= 1 && h.biHeight != 0 && h.biPlanes == 1 && h.biBitCount == 8 &&
                      h.biCompression == 0 && (h.biClrUsed == 0 || h.biClrUsed == 256);
    return good ? 0 : IP_BAD_BITMAP;
}

int ProcessBase::strechImage(ProcessParam& param, unsigned char* bitmap)
{
    BitmapHeader& h = m_header;
    // 1. Resolutions.
    const unsigned xdpi = Dpi(h.biXPelsPerMeter);
    const unsigned ydpi = Dpi(h.biYPelsPerMeter);
    if (xdpi == 0 || ydpi == 0) {
        return IP_BAD_RESOLUTION;
    }
    // 2. Source pixels.
    unsigned char* src = bitmap + h.biSize + IP_PALETTE_SIZE;
    const unsigned stride = Stride(h);
    const unsigned rows = Rows(h);
    const std::int32_t sign = h.biHeight < 0 ? -1 : 1;
    // 3. Near 500 ppi: a copy.
    if (xdpi >= NEAR_TARGET_LOW && xdpi <= NEAR_TARGET_HIGH && ydpi >= NEAR_TARGET_LOW &&
        ydpi <= NEAR_TARGET_HIGH) {
        if (static_cast<unsigned>(h.biWidth) > IP_MAX_SIDE || rows > IP_MAX_SIDE) {
            return IP_TOO_LARGE;
        }
        if (param.allowPadding == 0) {
            const int cw = Align(h.biWidth, m_alignW);
            const int ch = Align(static_cast<int>(rows), m_alignH);
            if (cw > 0 && ch > 0) {
                cut(src, stride, rows, 0, 0, static_cast<unsigned>(cw), static_cast<unsigned>(ch),
                    m_bufferA.get());
            }
            h.biWidth = cw;
            h.biHeight = sign * ch;
        } else {
            std::memcpy(m_bufferA.get(), src, static_cast<std::size_t>(rows) * stride);
        }
        m_current = m_bufferA.get();
        m_other = m_bufferB.get();
        m_toggle = 1;
        return 0;
    }
    // 4. Resampling to 500 ppi. Both the aligned sides and the sides that stretch itself
    // writes must stay within the buffers.
    const float fx = 500.0f / static_cast<float>(xdpi);
    const float fy = 500.0f / static_cast<float>(ydpi);
    const double sw = static_cast<double>(h.biWidth) * fx;
    const double sh = static_cast<double>(rows) * fy;
    if (sw >= IP_MAX_SIDE + 4 || sh >= IP_MAX_SIDE + 4) {
        return IP_TOO_LARGE;
    }
    const int tw = Align(static_cast<int>(static_cast<float>(h.biWidth) * fx), m_alignW);
    const int th = Align(static_cast<int>(static_cast<float>(rows) * fy), m_alignH);
    const unsigned ow = static_cast<unsigned>(static_cast<float>(h.biWidth) * fx) & ~3u;
    const unsigned oh = static_cast<unsigned>(static_cast<float>(rows) * fy) & ~3u;
    if (tw > static_cast<int>(IP_MAX_SIDE) || th > static_cast<int>(IP_MAX_SIDE) ||
        ow > IP_MAX_SIDE || oh > IP_MAX_SIDE) {
        return IP_TOO_LARGE;
    }
    m_current = src;
    m_other = m_bufferB.get();
    m_toggle = 1;
    unsigned outW = 0;
    unsigned outH = 0;
    stretch(static_cast<unsigned>(h.biWidth), rows, stride, src, fx, fy, &outW, &outH, m_other);
    SwapBuffers();
    h.biWidth = static_cast<std::int32_t>(outW);
    h.biHeight = sign * static_cast<std::int32_t>(outH);
    return 0;
}

void ProcessBase::whitePadding()
{
    const unsigned width = static_cast<unsigned>(m_header.biWidth);
    const unsigned stride = Stride(m_header);
    if (stride <= width) {
        return;
    }
    const unsigned rows = Rows(m_header);
    for (unsigned y = 0; y < rows; ++y) {
        std::memset(m_current + static_cast<std::size_t>(y) * stride + width, 255, stride - width);
    }
}

void ProcessBase::correctRGB(const tagRGBQUAD* palette)
{
    bool identity = true;
    for (int i = 0; i < 256 && identity; ++i) {
        identity = palette[i].blue == i && palette[i].green == i && palette[i].red == i;
    }
    if (identity) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(Rows(m_header)) * Stride(m_header);
    for (std::size_t k = 0; k < n; ++k) {
        m_current[k] = palette[m_current[k]].green;
    }
}

void ProcessBase::flipImage()
{
    if (m_header.biHeight < 1) {
        return; // already top row first
    }
    flipH(m_current, m_other, Stride(m_header), static_cast<unsigned>(m_header.biHeight));
    m_header.biHeight = -m_header.biHeight;
    SwapBuffers();
}

int ProcessBase::prepareImage(unsigned char* bitmap, ProcessParam& param, Frame& frame)
{
    const unsigned char* b = bitmap;
    m_header.biSize = Le32(b);
    m_header.biWidth = static_cast<std::int32_t>(Le32(b + 4));
    m_header.biHeight = static_cast<std::int32_t>(Le32(b + 8));
    m_header.biPlanes = TfRead16(b + 12);
    m_header.biBitCount = TfRead16(b + 14);
    m_header.biCompression = Le32(b + 16);
    m_header.biSizeImage = Le32(b + 20);
    m_header.biXPelsPerMeter = static_cast<std::int32_t>(Le32(b + 24));
    m_header.biYPelsPerMeter = static_cast<std::int32_t>(Le32(b + 28));
    m_header.biClrUsed = Le32(b + 32);
    m_header.biClrImportant = Le32(b + 36);
    int code = checkImage();
    if (code == 0) {
        code = strechImage(param, bitmap);
    }
    if (code != 0) {
        return code;
    }
    whitePadding();
    tagRGBQUAD palette[256];
    std::memcpy(palette, bitmap + m_header.biSize, sizeof palette);
    correctRGB(palette);
    flipImage();
    frame = Frame{0, m_header.biWidth - 1, 0, static_cast<int>(Rows(m_header)) - 1};
    return 0;
}

int ProcessBase::correctImageSize(unsigned w, unsigned h, int& x1, int& y1, int& x2, int& y2,
                                  ProcessParam& param) const
{
    const int aw = static_cast<int>(m_alignW);
    const int ah = static_cast<int>(m_alignH);
    const int minW = static_cast<int>(m_minW);
    const int minH = static_cast<int>(m_minH);
    const int iw = static_cast<int>(w);
    const int ih = static_cast<int>(h);
    // 1. Limits, 2. aligned sides.
    const int limW = static_cast<int>(std::min<std::uint32_t>(m_maxW, param.maxWidth));
    const int limH = static_cast<int>(std::min<std::uint32_t>(m_maxH, param.maxHeight));
    int cw = aw * ((x2 - x1 + 1) / aw);
    int ch = ah * ((y2 - y1 + 1) / ah);
    // 3. Too large: centred shrink.
    if (cw > limW) {
        x1 += (cw - limW) / 2;
        cw = limW;
    }
    if (ch > limH) {
        y1 += (ch - limH) / 2;
        ch = limH;
    }
    // 4. Too small: centred growth.
    if (cw < minW) {
        x1 -= (minW - cw) / 2;
        x2 = x1 + minW - 1;
        cw = minW;
    }
    if (ch < minH) {
        y1 -= (minH - ch) / 2;
        y2 = y1 + minH - 1;
        ch = minH;
    }
    // 5. Without padding the region stays inside the image.
    if (param.allowPadding == 0) {
        x1 = std::max(x1, 0);
        y1 = std::max(y1, 0);
        x2 = std::min(x2, iw - 1);
        y2 = std::min(y2, ih - 1);
        cw = aw * ((x2 - x1 + 1) / aw);
        ch = ah * ((y2 - y1 + 1) / ah);
        if (cw < minW) {
            if (x1 != 0) {
                x1 = x2 - minW + 1;
            } else {
                x2 = minW - 1;
            }
            cw = minW;
        }
        if (ch < minH) {
            if (y1 != 0) {
                y1 = y2 - minH + 1;
            } else {
                y2 = minH - 1;
            }
            ch = minH;
        }
    }
    // 6. Final corners, 7. whole image or not.
    x2 = x1 + cw - 1;
    y2 = y1 + ch - 1;
    return x1 == 0 && y1 == 0 && cw == iw && ch == ih ? 0 : 1;
}

int ProcessBase::cutImage(unsigned w, unsigned h, ProcessParam& param, Frame& frame)
{
    // 1. The whole image.
    if (w == 0 || h == 0) {
        return IP_BAD_SIZE;
    }
    int x1 = 0;
    int y1 = 0;
    int x2 = static_cast<int>(w) - 1;
    int y2 = static_cast<int>(h) - 1;
    // 2. The located finger to its first crease, with a margin.
    if (param.useSegmentation != 0) {
        SgmRect rects[2] = {};
        unsigned n = 2;
        const int found = FSeg(m_current, nullptr, w, h, TARGET_DPI, SGM_TYPE_FINGER,
                               SGM_HAND_UNKNOWN, NIST_IMP_UNKNOWN, false, nullptr, 0, rects, n);
        const SgmRect& r = rects[1];
        if (found == SGM_FOUND && n >= 2 && r.y3 - r.y1 > IP_MIN_FINGER_BOX &&
            r.x2 - r.x1 > IP_MIN_FINGER_BOX) {
            x1 = r.x1 - IP_CUT_MARGIN;
            x2 = r.x2 + IP_CUT_MARGIN;
            y1 = r.y1 - IP_CUT_MARGIN;
            y2 = r.y3 + IP_CUT_MARGIN;
        }
    }
    // 3. Too small without padding.
    if ((w < m_minW || h < m_minH) && param.allowPadding == 0) {
        return IP_TOO_SMALL;
    }
    // 4. Limits; the whole image is processed in place.
    if (correctImageSize(w, h, x1, y1, x2, y2, param) == 0) {
        return 0;
    }
    // 5. Empty region.
    if (x2 <= x1 || y2 <= y1) {
        return IP_BAD_SIZE;
    }
    // 6. The copy (255 outside the image), 7. the region in input coordinates.
    unsigned outW = 0;
    unsigned outH = 0;
    if (Get3Rect(m_current, w, h, x1, y1, x2, y1, x1, y2, m_other, outW, outH) != SGM_FOUND ||
        static_cast<std::size_t>(outW) * outH > IP_BUFFER_SIZE) {
        return IP_BAD_SIZE;
    }
    SwapBuffers();
    frame.left += x1;
    frame.right = frame.left + static_cast<int>(outW) - 1;
    frame.top += y1;
    frame.bottom = frame.top + static_cast<int>(outH) - 1;
    return 0;
}

int ProcessBase::processRaw(void* ctx, unsigned char* image, unsigned short width,
                            unsigned short height, unsigned char* tpl, unsigned* size, int* quality,
                            ProcessParam* param, Frame* frame, FINGERS finger,
                            unsigned char* skeleton, int* skeletonSize,
                            PreProcessCompleteCallback cb1, QualityCompleteCallback cb2,
                            SingularCompleteCallback cb3, SkeletonCompleteCallback cb4,
                            bool qualityOnly)
{
    // 1. State, 2. arguments.
    if (m_initialised == 0) {
        return IP_NOT_INITIALISED;
    }
    ProcessParam params = Defaults(param);
    if (image == nullptr) {
        return IP_NULL_ARGUMENT;
    }
    if (width == 0 || height == 0) {
        return IP_BAD_SIZE;
    }
    if (width > IP_MAX_SIDE || height > IP_MAX_SIDE) {
        return IP_TOO_LARGE;
    }
    // 3. The caller's pixels are the current image; they are only read.
    UseImage(image);
    // 4. The cut.
    Frame region{0, width - 1, 0, height - 1};
    if (cutImage(width, height, params, region) != 0) {
        return IP_CUT_FAILED;
    }
    // 5. The engine, 6. the region as the run left it.
    const int code = wizardWork(
        ctx, m_current, static_cast<unsigned>(region.right - region.left + 1),
        static_cast<unsigned>(region.bottom - region.top + 1), tpl, size, quality, region, finger,
        skeleton, skeletonSize, params.isoMinutiae != 0, cb1, cb2, cb3, cb4, qualityOnly);
    if (frame != nullptr) {
        *frame = region;
    }
    return code;
}

int ProcessBase::process(void* ctx, CaptureData cd, TemplateData& td, unsigned* size, int* quality,
                         ProcessParam* param, Frame* frame, PreProcessCompleteCallback cb1,
                         QualityCompleteCallback cb2, SingularCompleteCallback cb3,
                         SkeletonCompleteCallback cb4, bool qualityOnly)
{
    // 1. State and parameters.
    if (m_initialised == 0) {
        return IP_NOT_INITIALISED;
    }
    ProcessParam params = Defaults(param);
    Frame local = frame != nullptr ? *frame : Frame{0, 0, 0, 0};
    // 2. Arguments, 3. the bitmap as an upright 500-ppi grey image.
    if (cd.bitmap == nullptr || quality == nullptr) {
        return IP_NULL_ARGUMENT;
    }
    const int prepared = prepareImage(cd.bitmap, params, local);
    if (prepared != 0) {
        return prepared;
    }
    // 4. The slot, 5. the padded rows as the processed width.
    td.finger = cd.finger;
    const unsigned stride = Stride(m_header);
    const unsigned rows = Rows(m_header);
    if (stride > IP_MAX_SIDE || rows > IP_MAX_SIDE) {
        return IP_TOO_LARGE;
    }
    const int code =
        processRaw(ctx, m_current, static_cast<unsigned short>(stride),
                   static_cast<unsigned short>(rows), td.buffer, size, quality, &params, &local,
                   cd.finger, nullptr, nullptr, cb1, cb2, cb3, cb4, qualityOnly);
    // 6. The region.
    if (frame != nullptr) {
        *frame = local;
    }
    return code;
}

bool ProcessBase::onPreProcessComplete(void* ctx, PreProcessCompleteCallback cb, FINGERS finger,
                                       Frame& region)
{
    return cb == nullptr || cb(ctx, finger, region);
}

bool ProcessBase::onGetQualityComplete(void* ctx, QualityCompleteCallback cb, FINGERS finger,
                                       int quality)
{
    return cb == nullptr || cb(ctx, finger, quality);
}

bool ProcessBase::onSkeletonComplete(void* ctx, SkeletonCompleteCallback cb, FINGERS finger,
                                     unsigned char* skeleton, int size)
{
    return cb == nullptr || cb(ctx, finger, skeleton, size);
}
