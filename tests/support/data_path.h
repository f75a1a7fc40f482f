// Locates the shared fingerprint images and the committed test fixtures.
#pragma once

#include <string>
#include <vector>

namespace zftest {

// Path of a file below the shared data folder (environment ZF_DATA, else ../shared/data
// beside the project root), or "" when it is absent: tests then skip with a message.
std::string SharedData(const std::string& relative);

// Sorted names of the files in `dir` whose names end in `suffix`; empty when the folder is absent.
std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix);

// Path of a file below tests/data of this project.
std::string TestData(const std::string& relative);

// Whole file as bytes; empty when it cannot be read.
std::vector<unsigned char> ReadFile(const std::string& path);

// 8-bit binary PGM (P5, maxval 255). Returns false when the file is not such an image.
bool ReadPgm(const std::string& path, std::vector<unsigned char>& pixels, int& width, int& height);

} // namespace zftest
