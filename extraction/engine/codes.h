// Result codes of the extraction engine. Stages throw them as int (after storing them in the
// engine's last-error field where the stage says so); the extractor's guard maps them.
#pragma once

namespace wizard73 {

constexpr int WZ_TOO_LARGE = -2;     // working side above the kind's limit
constexpr int WZ_TOO_SMALL = -3;     // working side 63 or less
constexpr int WZ_FLAT = -4;          // grey-level span 16 or less
constexpr int WZ_NO_SOURCE = -5;     // layer 0 of level 0 missing when stage 2 starts
constexpr int WZ_BAD_KIND = -6;      // unknown image kind letter
constexpr int WZ_BAD_BLOCK = -7;     // a sealed data block whose length or seal does not check
constexpr int WZ_BAD_SECTION = -8;   // a point section or record that does not decode
constexpr int WZ_BAD_CHECK = -9;     // check value of the image does not match
constexpr int WZ_NO_LAYER = -250;    // the layer store has no free slot for a needed layer
constexpr int WZ_RECORD_FULL = -251; // a record section would not fit its layer or field

// Returned (not thrown) by the chain-code writer and reader of the skeleton arm walks.
constexpr int WZ_CHAIN_CENTRE = -20; // no walker pixel, or its code is not 4..7
constexpr int WZ_CHAIN_FULL = -21;   // the codes do not fit the buffer
constexpr int WZ_CHAIN_BAD = -22;    // the bytes read are not a chain code

} // namespace wizard73
