// WSQ prints read from files for the tests, decoded by the project's own codec.
#pragma once

#include <string>
#include <vector>

namespace zftest {

// Decodes the WSQ file at `path` into 8-bit pixels of w x h; false when it cannot be read or
// decoded.
bool DecodeWsqFile(const std::string& path, std::vector<unsigned char>& pixels, int& w, int& h);

} // namespace zftest
