// Implementation side of TemplateCreator: drives the extractor on a raw or WSQ image, keeps the
// last template in its own buffer, and maps extractor and WSQ decoder codes onto the public
// result codes. No exception leaves it; size and quality reach the caller only on success
// (quality also on an extraction failure, as the extractor measured it).
#pragma once

#include "extraction/ip.h"
#include "interface/ZelvanFinger.h"

#include <cstdint>

namespace ZelvanFinger {

class TemplateBuilder : public TemplateCreator {
public:
    TemplateBuilder() = default;
    TemplateBuilder(const TemplateBuilder&) = delete;
    TemplateBuilder& operator=(const TemplateBuilder&) = delete;
    ~TemplateBuilder() override;

    int createTemplate(RawImage& image, unsigned& size, unsigned char& quality) override;
    int createTemplate(WsqImage& image, unsigned& size, unsigned char& quality) override;
    // Copies the template of the last creation (its first u32 bytes); nothing before the first
    // creation or after a failed one.
    void getTemplate(unsigned char* out) override;

    // Prepares the extractor and the template buffer on first use: 0, or a public code.
    int init();

    // Extractor code -> public code: 0, 2 (-204), 100 (-208), 3 (-212), 4 (-216), else 5.
    static int checkIpResult(int code);
    // WSQ decoder code -> public code: 0, 8 (-666 guard mismatch), else 9.
    static int checkWsqResult(int code);

private:
    // Clears the kept template's prefix: a creation that fails leaves nothing to copy.
    void Forget();
    int CreateRaw(RawImage& image, unsigned& size, unsigned char& quality);
    int CreateWsq(WsqImage& image, unsigned& size, unsigned char& quality);

    std::uint8_t m_initialised = 0;
    Ip m_ip;
    unsigned char* m_buffer = nullptr; // MAX_TEMPLATE_SIZE bytes from Ip::allocateTemplates
    void* m_wsq = nullptr;             // WSQ decoder instance
};

// Guard value handed to the WSQ decoder: the u32 sum over i = 0, 10, 20, ... below n of
// data[i] + 2 i; 0 when n < 1.
unsigned wsqCheckSum(unsigned char* data, int n);

} // namespace ZelvanFinger
