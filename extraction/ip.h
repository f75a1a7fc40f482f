// The extractor that the template creator holds: a thin owner of one FpProcess. Every
// forwarding operation answers IP_NOT_INITIALISED before init, and is the extractor's guard:
// no exception leaves it (an int thrown below keeps its code, anything else is IP_EXCEPTION).
#pragma once

#include "extraction/processBase.h"

#include <memory>

class FpProcess;

class Ip {
public:
    Ip();
    Ip(const Ip&) = delete;
    Ip& operator=(const Ip&) = delete;
    ~Ip();

    // Creates and initialises the processor (buffers, engine, built-in thinning table): 0 or
    // IP_NO_MEMORY, after which init may be called again.
    int init();
    // The same with the caller's 256-byte thinning table (null: IP_NULL_ARGUMENT).
    int initEx(unsigned char* table);
    // n template slots of MAX_TEMPLATE_SIZE zeroed bytes each.
    static int allocateTemplates(unsigned n, TemplateData* td);
    static int freeTemplates(unsigned n, TemplateData* td);

    int processRaw(void* ctx, unsigned char* image, unsigned short width, unsigned short height,
                   unsigned char* tpl, unsigned* size, int* quality, ProcessParam* param,
                   Frame* frame, FINGERS finger, unsigned char* skeleton, int* skeletonSize,
                   PreProcessCompleteCallback cb1, QualityCompleteCallback cb2,
                   SingularCompleteCallback cb3, SkeletonCompleteCallback cb4);
    int process(void* ctx, CaptureData cd, TemplateData& td, unsigned* size, int* quality,
                ProcessParam* param, Frame* frame, PreProcessCompleteCallback cb1,
                QualityCompleteCallback cb2, SingularCompleteCallback cb3,
                SkeletonCompleteCallback cb4);
    // Quality of a bitmap only: the run stops after the quality stage.
    int getQuality(CaptureData cd, int* quality, ProcessParam* param, Frame* frame);

    FpProcess* processor() { return m_processor.get(); }

private:
    std::unique_ptr<FpProcess> m_processor;
};
