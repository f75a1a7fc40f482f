// Helpers of the fuzz targets: a reader that takes fixed-width fields from the front of the
// input (zeros once it is used up), pixel planes tiled from the rest, the failure report, and
// the checks every template creation must pass.
#pragma once

#include "interface/ZelvanFinger.h"
#include "records/TemplateFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zffuzz {

// Ends the run as a crash, so that libFuzzer keeps the input and the replay test fails.
[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

inline void Require(bool ok, const char* what)
{
    if (!ok) {
        Fail(what);
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
    std::uint32_t U32()
    {
        const std::uint32_t lo = U16();
        return lo | (static_cast<std::uint32_t>(U16()) << 16);
    }
    float F32()
    {
        const std::uint32_t bits = U32();
        float f = 0.0f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // n bytes: the unread input repeated (a mid grey when nothing is left).
    std::vector<unsigned char> Tile(std::size_t n)
    {
        std::vector<unsigned char> out(n, 128);
        const std::size_t left = m_size - m_pos;
        for (std::size_t i = 0; left != 0 && i < n; ++i) {
            out[i] = m_data[m_pos + i % left];
        }
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A created template (code 0) has a size within the buffer, a quality of 0..100 and passes the
// checker; a refusal leaves nothing to copy.
inline void CheckCreation(ZelvanFinger::TemplateCreator& creator, int code, unsigned size,
                          unsigned char quality)
{
    using namespace ZelvanFinger;
    static FpTemplateChecker* checker = FpTemplateChecker::create();
    Require(checker != nullptr, "checker created");
    if (code != RESULT_OK) {
        Require(code > 0, "refusals are positive codes");
        unsigned char probe[8] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
        creator.getTemplate(probe);
        for (unsigned char b : probe) {
            Require(b == 0xA5, "a refused creation leaves nothing to copy");
        }
        return;
    }
    Require(size > static_cast<unsigned>(TF_PREFIX_SIZE) &&
                size <= static_cast<unsigned>(MAX_TEMPLATE_SIZE),
            "template size in range");
    Require(quality <= 100, "quality is a percentage");
    std::vector<unsigned char> t(size);
    creator.getTemplate(t.data());
    Require(TfRead32(t.data()) == size, "the prefix holds the template size");
    Require(checker->check(t.data()), "the checker accepts a created template");
}

} // namespace zffuzz
