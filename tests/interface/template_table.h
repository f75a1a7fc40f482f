// The template digest table: one row per input image and path (a PGM, or a WSQ stream taken
// either through the creator's WSQ entry or decoded first and given as raw pixels) with the
// SHA-256 of the template the public creator makes from it. A table in tests/data pins every
// template byte; template_digests writes it and the interface tests compare against it.
#pragma once

#include <string>
#include <vector>

namespace zftest {

struct TemplateRow {
    std::string source; // "data" (tests/data), "shared" (the shared data folder) or "file"
                        // (the image field is a path of its own)
    std::string image;  // path below that folder
    std::string path;   // "raw" or "wsq"
    std::string digest; // SHA-256 of the template, or "error:<code>"
};

// The images the table covers, in table order: FVC2002 DB1 set B and MINEX SD29 from the shared
// data (absent ones are left out), and the NIST card of tests/data through both paths.
std::vector<TemplateRow> TemplateTableInputs();

// Full path of the row's image, or "" when it is not there.
std::string TemplateRowFile(const TemplateRow& row);

// Creates the row's template and returns its digest (or "error:<code>"); "" when the image
// cannot be read.
std::string TemplateRowDigest(const TemplateRow& row);

// One table line: "<source> <image> <path> <digest>".
std::string FormatTemplateRow(const TemplateRow& row);

// Reads a table file (blank lines and lines starting with # are skipped). False when it cannot
// be read or a line is malformed.
bool ReadTemplateTable(const std::string& file, std::vector<TemplateRow>& rows);

} // namespace zftest
