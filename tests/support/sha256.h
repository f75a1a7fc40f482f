// SHA-256 digest of a byte buffer as 64 lower-case hex digits, for comparing decoded images
// with committed digests.
#pragma once

#include <cstddef>
#include <string>

namespace zftest {

std::string Sha256Hex(const unsigned char* data, std::size_t size);

} // namespace zftest
