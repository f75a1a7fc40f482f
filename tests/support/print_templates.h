// Finger templates of real prints for the comparison tests, made through the public template
// creator: single prints from PGM or WSQ files, and the four fingers of a WSQ slap cut out by
// the slap segmentation. Files come from the shared data folder or tests/data; a template that
// cannot be made (file absent, creation refused) is an empty buffer.
#pragma once

#include <string>
#include <vector>

namespace zftest {

using Template = std::vector<unsigned char>;

// Template of an 8-bit PGM print at finger position `finger`.
Template TemplateFromPgm(const std::string& path, int finger);

// Template of a WSQ print at finger position `finger`.
Template TemplateFromWsq(const std::string& path, int finger);

// One template per finger of a four-finger WSQ slap, indexed by finger position - 1 (ten
// entries; the positions the segmentation found hold a template).
std::vector<Template> TemplatesFromSlap(const std::string& path);

// Path of a card file of the NIST ten-print card (fp01..fp14): the shared copy, else the
// project's own; "" when neither exists.
std::string NistCardFile(int number);

} // namespace zftest
