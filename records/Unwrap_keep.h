// The record reader: header checks, the seal, header fields of layouts 'I' and 'N', and
// the section lookup in front of the decoders. Holds only the access code and the angle
// unit switch; reads each record's own length for every bound.
#pragma once

#include "records/Access_decode.h"
#include "records/Unwrap.h"

#include <cstdint>

namespace ESK {

class ZF_EXPORT Unwrap_keep final : public Unwrap {
public:
    void versor(unsigned code) override;
    void factor(bool on) override;
    bool verify(const unsigned char* rec) override;
    bool defend(const unsigned char* rec) override;
    bool hasher(const unsigned char* rec) override;
    std::uint32_t length(const unsigned char* rec) override;
    std::uint8_t versor(const unsigned char* rec) override;
    std::uint8_t qualit(const unsigned char* rec) override;
    std::uint8_t densit(const unsigned char* rec) override;
    std::uint8_t passxy(const unsigned char* rec) override;
    std::uint8_t passan(const unsigned char* rec) override;
    std::uint8_t square(const unsigned char* rec) override;
    std::uint8_t immask(const unsigned char* rec) override;
    std::uint16_t exmask(const unsigned char* rec) override;
    std::uint16_t size_x(const unsigned char* rec) override;
    std::uint16_t size_y(const unsigned char* rec) override;
    std::uint16_t imgppi(const unsigned char* rec) override;
    std::uint16_t tplppi(const unsigned char* rec) override;
    std::uint8_t finger(const unsigned char* rec) override;
    unsigned demain(Lot<short>* out, const unsigned char* rec) override;
    unsigned denova(Lot<short>* out, const unsigned char* rec) override;
    unsigned denest(Link* const& out, Lot<short>* const& minutiae, unsigned short count,
                    const unsigned char* rec) override;
    unsigned deabac(unsigned char* out, const unsigned char* rec) override;
    unsigned dearea(unsigned char* out, const unsigned char* rec) override;
    unsigned idmain(const unsigned char* rec) override;
    unsigned idnova(const unsigned char* rec) override;
    unsigned idarea(const unsigned char* rec) override;

private:
    bool Open() const { return m_code == ESK_ACCESS_CODE; }

    Access_decode<unsigned char> m_decode;
    std::uint8_t m_factor = 0;
    std::uint32_t m_code = 0;
};

} // namespace ESK
