// TemplateCreator and its implementation: argument checks, the extractor run, WSQ decoding
// (sides checked before the pixels are allocated), the template buffer, and the mapping of
// extractor and WSQ codes onto public codes. The public operations are this layer's exception
// edge: an allocation failure gives RESULT_NO_MEMORY, anything else RESULT_EXCEPTION.

#include "interface/TemplateBuilder.h"

#include "records/TemplateFormat.h"
#include "wsq/Wsq.h"

#include <cstring>
#include <memory>
#include <new>

namespace ZelvanFinger {
namespace {

// Decoder codes that stand for an allocation failure (the codec's own guard gives -3 too).
bool DecoderOutOfMemory(int code)
{
    return code == WSQ_ERR_HUFF_ALLOC || code == WSQ_ERR_COEFF_ALLOC || code == WSQ_ERR_RECON_ALLOC;
}

} // namespace

TemplateCreator::~TemplateCreator() = default;

TemplateCreator* TemplateCreator::create()
{
    try {
        return new TemplateBuilder();
    } catch (...) {
        return nullptr;
    }
}

void TemplateCreator::cancel(TemplateCreator*& p)
{
    delete p;
    p = nullptr;
}

TemplateBuilder::~TemplateBuilder()
{
    cancel_instance(m_wsq);
    delete[] m_buffer;
}

int TemplateBuilder::init()
{
    // 1. Once only.
    if (m_initialised != 0) {
        return RESULT_OK;
    }
    // 2. The template buffer, kept across failed attempts.
    if (m_buffer == nullptr) {
        TemplateData td{FINGER_UNKNOWN, nullptr};
        const int code = Ip::allocateTemplates(1, &td);
        if (code != 0) {
            return checkIpResult(code);
        }
        m_buffer = td.buffer;
    }
    // 3. The extractor.
    const int code = m_ip.init();
    m_initialised = code == 0 ? 1 : 0;
    return checkIpResult(code);
}

int TemplateBuilder::createTemplate(RawImage& image, unsigned& size, unsigned char& quality)
{
    Forget();
    try {
        return CreateRaw(image, size, quality);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    } catch (...) {
        return RESULT_EXCEPTION;
    }
}

int TemplateBuilder::createTemplate(WsqImage& image, unsigned& size, unsigned char& quality)
{
    Forget();
    try {
        return CreateWsq(image, size, quality);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    } catch (...) {
        return RESULT_EXCEPTION;
    }
}

int TemplateBuilder::CreateRaw(RawImage& image, unsigned& size, unsigned char& quality)
{
    // 1. The extractor, 2. empty images, 3. finger position, 4. sides.
    const int ready = init();
    if (ready != RESULT_OK) {
        return ready;
    }
    if (image.m_width == 0 || image.m_height == 0 || image.m_image == nullptr) {
        return RESULT_BAD_IMAGE;
    }
    if (static_cast<unsigned>(image.m_finger) > 10) {
        return RESULT_BAD_FINGER;
    }
    if (static_cast<unsigned>(image.m_width) > IP_MAX_SIDE ||
        static_cast<unsigned>(image.m_height) > IP_MAX_SIDE) {
        return RESULT_IMAGE_TOO_LARGE;
    }
    // 5. The run, 6. quality whatever the result; the size only on success.
    unsigned created = 0;
    int measured = 0;
    Frame frame{0, 0, 0, 0};
    const int code = m_ip.processRaw(
        nullptr, image.m_image, static_cast<unsigned short>(image.m_width),
        static_cast<unsigned short>(image.m_height), m_buffer, &created, &measured, nullptr, &frame,
        static_cast<FINGERS>(image.m_finger), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    quality = static_cast<unsigned char>(measured);
    if (code == 0) {
        size = created;
    }
    return checkIpResult(code);
}

int TemplateBuilder::CreateWsq(WsqImage& image, unsigned& size, unsigned char& quality)
{
    // 1. Empty streams.
    if (image.m_size <= 0 || image.m_wsq == nullptr) {
        return RESULT_BAD_IMAGE;
    }
    // 2. The decoder instance, kept until the builder goes.
    if (m_wsq == nullptr) {
        m_wsq = init_instance();
        if (m_wsq == nullptr) {
            return RESULT_WSQ_INSTANCE;
        }
    }
    // 3. The sides. A frame the decoder refuses for its geometry is told apart here: an empty
    // side is a bad image, a side above 4096 an image too large.
    const int guard = static_cast<int>(wsqCheckSum(image.m_wsq, image.m_size));
    int w = 0;
    int h = 0;
    int code = wsq_decode(m_wsq, nullptr, image.m_wsq, image.m_size, &w, &h, guard);
    if (code == WSQ_ERR_GEOMETRY) {
        const header_frm& frm = static_cast<const Wsq*>(m_wsq)->frame();
        w = frm.width;
        h = frm.height;
        if (w != 0 && h != 0 && w <= static_cast<int>(IP_MAX_SIDE) &&
            h <= static_cast<int>(IP_MAX_SIDE)) {
            return checkWsqResult(code);
        }
    } else if (code != WSQ_SIZE_QUERY && code < 0) {
        return DecoderOutOfMemory(code) ? RESULT_NO_MEMORY : checkWsqResult(code);
    }
    // 4. Empty or oversized frames, before anything is allocated.
    if (w <= 0 || h <= 0) {
        return RESULT_BAD_IMAGE;
    }
    if (w > static_cast<int>(IP_MAX_SIDE) || h > static_cast<int>(IP_MAX_SIDE)) {
        return RESULT_IMAGE_TOO_LARGE;
    }
    // 5. The pixels.
    std::unique_ptr<unsigned char[]> pixels(
        new unsigned char[static_cast<std::size_t>(w) * static_cast<std::size_t>(h)]);
    code = wsq_decode(m_wsq, pixels.get(), image.m_wsq, image.m_size, &w, &h, guard);
    if (code < 0) {
        return DecoderOutOfMemory(code) ? RESULT_NO_MEMORY : checkWsqResult(code);
    }
    // 6. The raw overload, through the virtual table.
    RawImage raw{image.m_finger, w, h, pixels.get()};
    TemplateCreator& self = *this;
    return self.createTemplate(raw, size, quality);
}

void TemplateBuilder::Forget()
{
    if (m_buffer != nullptr) {
        std::memset(m_buffer, 0, TF_PREFIX_SIZE);
    }
}

void TemplateBuilder::getTemplate(unsigned char* out)
{
    if (out == nullptr || m_buffer == nullptr) {
        return;
    }
    std::uint32_t n = TfRead32(m_buffer + TF_PREFIX_TOTAL_LENGTH);
    n = n > MAX_TEMPLATE_SIZE ? MAX_TEMPLATE_SIZE : n;
    std::memcpy(out, m_buffer, n);
}

unsigned wsqCheckSum(unsigned char* data, int n)
{
    return n < 1 || data == nullptr ? 0u : Wsq::wsqCheckSum(data, n);
}

int TemplateBuilder::checkIpResult(int code)
{
    switch (code) {
    case 0:
        return RESULT_OK;
    case IP_NO_MEMORY:
        return RESULT_NO_MEMORY;
    case IP_EXCEPTION:
        return RESULT_EXCEPTION;
    case IP_TOO_LARGE:
        return RESULT_IMAGE_TOO_LARGE;
    case IP_BAD_SIZE:
        return RESULT_BAD_IMAGE;
    default:
        return RESULT_EXTRACTION_FAILED; // the other -2xx codes and 1 from a failed cut
    }
}

int TemplateBuilder::checkWsqResult(int code)
{
    if (code == 0) {
        return RESULT_OK;
    }
    return code == WSQ_ERR_GUARD ? RESULT_WSQ_GUARD : RESULT_WSQ_DECODE;
}

} // namespace ZelvanFinger
