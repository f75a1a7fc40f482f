// FpProcess, the processor that runs the extraction engine: one wizard73::Codex per processor,
// reset for every image, driven through loading, quality, singular points and the final chain,
// then the template record behind the 21-byte prefix. Also the process-wide thinning table
// that the skeleton stage reads.
#pragma once

#include "extraction/processBase.h"

#include <cstdint>
#include <memory>

namespace wizard73 {
class Codex;
}

// Check value of the pixels that the engine's loader verifies: 0 for null pixels or at most
// 255 of them, else the 16-bit sum of the pixels met by jumping pixel-value steps.
std::uint16_t IpCheckValue(const unsigned char* pixels, std::size_t n);

// Varies a nearly uniform image (its most frequent grey above half of the pixels) in place
// around that grey, from the seed 1101 of rand.
void XaosImage(unsigned char* image, int width, int height);

class FpProcess final : public ProcessBase {
public:
    FpProcess();
    ~FpProcess() override;

    bool alloc(int reserved) override;
    void release() override;
    // 0 or an IP_ code, or the negative code an engine stage threw. The template buffer holds a
    // valid template only after 0; *size stays 0 otherwise.
    int wizardWork(void* ctx, unsigned char* image, unsigned width, unsigned height,
                   unsigned char* tpl, unsigned* size, int* quality, Frame& frame, FINGERS finger,
                   unsigned char* skeleton, int* skeletonSize, bool isoMinutiae,
                   PreProcessCompleteCallback cb1, QualityCompleteCallback cb2,
                   SingularCompleteCallback cb3, SkeletonCompleteCallback cb4,
                   bool qualityOnly) override;
    void setProtect(unsigned char* table) override;
    void getProtect(unsigned char* out) override;
    bool onProcess1Complete(void* ctx, SingularCompleteCallback cb, FINGERS finger) override;

    wizard73::Codex* engine() { return m_engine.get(); }

private:
    int Run(void* ctx, unsigned char* image, unsigned width, unsigned height, unsigned char* tpl,
            unsigned* size, int* quality, Frame& frame, FINGERS finger, unsigned char* skeleton,
            int* skeletonSize, bool isoMinutiae, PreProcessCompleteCallback cb1,
            QualityCompleteCallback cb2, SingularCompleteCallback cb3, SkeletonCompleteCallback cb4,
            bool qualityOnly);

    std::unique_ptr<wizard73::Codex> m_engine;
};
