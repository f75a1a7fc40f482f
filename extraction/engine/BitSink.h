// Bit streams of the record sections. BitSink fills each byte from bit 0 upwards and clears a
// byte when its first bit is written; writing past `capacity` bytes writes nothing more and sets
// the overflow flag, and the caller decides whether that is an error code or a throw. BitSource
// reads such a stream back; bits past its `capacity` read as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace wizard73 {

class BitSink {
public:
    BitSink() = default;
    BitSink(unsigned char* out, std::size_t capacity) : m_out(out), m_capacity(capacity) {}

    // The low `width` bits of v, least significant first; a width below 1 writes nothing.
    void Put(std::uint32_t v, int width)
    {
        for (int b = 0; b < width; ++b) {
            const std::size_t byte = m_bits >> 3;
            const unsigned bit = static_cast<unsigned>(m_bits & 7);
            if (byte >= m_capacity) {
                m_overflow = true;
                return;
            }
            if (bit == 0) {
                m_out[byte] = 0;
            }
            if (((v >> b) & 1u) != 0) {
                m_out[byte] = static_cast<unsigned char>(m_out[byte] | (1u << bit));
            }
            ++m_bits;
        }
    }
    // Bytes touched: full bytes, plus one for a partial last byte.
    std::size_t Bytes() const { return (m_bits + 7) >> 3; }
    bool Overflow() const { return m_overflow; }

private:
    unsigned char* m_out = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_bits = 0;
    bool m_overflow = false;
};

class BitSource {
public:
    BitSource() = default;
    explicit BitSource(const unsigned char* in,
                       std::size_t capacity = std::numeric_limits<std::size_t>::max())
        : m_in(in), m_capacity(capacity)
    {
    }
    // The next `width` bits (0..32), least significant first.
    std::uint32_t Get(unsigned width)
    {
        std::uint32_t v = 0;
        for (unsigned b = 0; b < width; ++b) {
            const std::uint64_t byte = m_bits >> 3;
            const unsigned bit = byte < m_capacity ? (m_in[byte] >> (m_bits & 7)) & 1u : 0u;
            v |= static_cast<std::uint32_t>(bit) << b;
            ++m_bits;
        }
        return v;
    }

private:
    const unsigned char* m_in = nullptr;
    std::size_t m_capacity = 0;
    std::uint64_t m_bits = 0;
};

} // namespace wizard73
