// Ip: creation of the processor on first init and the guard around every forwarded run.

#include "extraction/ip.h"

#include "extraction/processing.h"
#include "records/TemplateFormat.h"

#include <new>

namespace {

// The extractor's one exception edge.
template <typename Fn> int Guarded(Fn&& fn)
{
    try {
        return fn();
    } catch (int code) {
        return code;
    } catch (const std::bad_alloc&) {
        return IP_NO_MEMORY;
    } catch (...) {
        return IP_EXCEPTION;
    }
}

} // namespace

Ip::Ip() = default;

Ip::~Ip() = default;

int Ip::init()
{
    return Guarded([&] {
        if (m_processor == nullptr) {
            m_processor.reset(new FpProcess());
        }
        return m_processor->init(0);
    });
}

int Ip::initEx(unsigned char* table)
{
    return Guarded([&] {
        if (m_processor == nullptr) {
            m_processor.reset(new FpProcess());
        }
        return m_processor->initEx(table, 0);
    });
}

int Ip::allocateTemplates(unsigned n, TemplateData* td)
{
    return ProcessBase::allocateTemplates(n > 10 ? 11 : static_cast<int>(n), td, MAX_TEMPLATE_SIZE);
}

int Ip::freeTemplates(unsigned n, TemplateData* td)
{
    return ProcessBase::freeTemplates(n, td);
}

int Ip::processRaw(void* ctx, unsigned char* image, unsigned short width, unsigned short height,
                   unsigned char* tpl, unsigned* size, int* quality, ProcessParam* param,
                   Frame* frame, FINGERS finger, unsigned char* skeleton, int* skeletonSize,
                   PreProcessCompleteCallback cb1, QualityCompleteCallback cb2,
                   SingularCompleteCallback cb3, SkeletonCompleteCallback cb4)
{
    if (m_processor == nullptr) {
        return IP_NOT_INITIALISED;
    }
    return Guarded([&] {
        return m_processor->processRaw(ctx, image, width, height, tpl, size, quality, param, frame,
                                       finger, skeleton, skeletonSize, cb1, cb2, cb3, cb4, false);
    });
}

int Ip::process(void* ctx, CaptureData cd, TemplateData& td, unsigned* size, int* quality,
                ProcessParam* param, Frame* frame, PreProcessCompleteCallback cb1,
                QualityCompleteCallback cb2, SingularCompleteCallback cb3,
                SkeletonCompleteCallback cb4)
{
    if (m_processor == nullptr) {
        return IP_NOT_INITIALISED;
    }
    return Guarded([&] {
        return m_processor->process(ctx, cd, td, size, quality, param, frame, cb1, cb2, cb3, cb4,
                                    false);
    });
}

int Ip::getQuality(CaptureData cd, int* quality, ProcessParam* param, Frame* frame)
{
    if (m_processor == nullptr) {
        return IP_NOT_INITIALISED;
    }
    return Guarded([&] {
        TemplateData td{FINGER_UNKNOWN, nullptr};
        unsigned size = 0;
        return m_processor->process(nullptr, cd, td, &size, quality, param, frame, nullptr, nullptr,
                                    nullptr, nullptr, true);
    });
}
