// Entry points and result codes of the WSQ grey-scale fingerprint codec (the FBI WSQ byte
// format): a codec instance, decoding with a size query, and encoding at a bit rate or a
// compression ratio. Pixels are 8-bit grey, rows top to bottom without padding. Installed as
// <zelvanfp/WsqCodec.h>: it includes nothing of the project.
#pragma once

#ifndef ZF_EXPORT
#define ZF_EXPORT __attribute__((visibility("default")))
#endif

#include <cstdint>

// Result codes of the codec (D: decoder, E: encoder). Several are shared by unrelated failures.
constexpr int WSQ_NO_STREAM = -1;            // D: no stream; E: no pixels or no output buffer
constexpr int WSQ_ERR_HUFF_TABLE = -2;       // D: DHT without room for a table or redefining an id
constexpr int WSQ_ERR_HUFF_ALLOC = -3;       // D, E: Huffman table allocation
constexpr int WSQ_ERR_HUFF_COUNTS = -4;      // D: code-length counts above 257 symbols
constexpr int WSQ_SIZE_QUERY = -5;           // D: no output buffer; width and height were written
constexpr int WSQ_ERR_RATE = -8;             // E: rate 0
constexpr int WSQ_ERR_SAMPLE_ALLOC = -10;    // E: sample buffer
constexpr int WSQ_ERR_BLOCK_SIZES = -11;     // E: block sizes disagree with the coefficient count
constexpr int WSQ_ERR_SCRATCH_ALLOC = -13;   // E: coded-block scratch
constexpr int WSQ_ERR_COEFF_ALLOC = -20;     // D: coefficient buffer
constexpr int WSQ_ERR_OUT_BYTE = -32;        // E: output capacity reached writing one byte
constexpr int WSQ_ERR_OUT_BLOCK = -33;       // E: output capacity reached copying bytes
constexpr int WSQ_ERR_END_BYTE = -39;        // D: stream ends inside a one-byte read
constexpr int WSQ_ERR_END_BYTES = -40;       // D: stream ends inside a longer read
constexpr int WSQ_ERR_MARKER_IN_BITS = -41;  // D: marker inside escape bits
constexpr int WSQ_ERR_COUNT_ALLOC = -48;     // E: symbol-count table
constexpr int WSQ_ERR_NO_HUFF_TABLE = -51;   // D: block names an undefined table
constexpr int WSQ_ERR_BAD_SYMBOL = -52;      // D: symbol 0 or 255
constexpr int WSQ_ERR_BIN_WIDTH = -86;       // E: bin width too wide for 16 bits
constexpr int WSQ_ERR_ZERO_BIN_WIDTH = -87;  // E: zero-bin width too wide for 16 bits
constexpr int WSQ_ERR_NO_SOI = -88;          // D: stream does not start with SOI
constexpr int WSQ_ERR_BEFORE_SOF = -89;      // D: unexpected marker before SOF
constexpr int WSQ_ERR_BEFORE_BLOCK = -90;    // D: unexpected marker before a block; E: quantiser
constexpr int WSQ_ERR_AFTER_COMMENT = -91;   // D: no marker after a trailing comment; samples
constexpr int WSQ_ERR_NO_DQT = -92;          // D: no quantisation table
constexpr int WSQ_ERR_BETWEEN_BLOCKS = -93;  // D: unexpected marker between blocks
constexpr int WSQ_ERR_TRANSFORM_ALLOC = -94; // E: transform scratch
constexpr int WSQ_ERR_NO_LOWPASS = -95;      // D: no transform table at reconstruction
constexpr int WSQ_ERR_NO_HIGHPASS = -96;     // D: no high-pass filter at reconstruction
constexpr int WSQ_ERR_RECON_ALLOC = -97;     // D: reconstruction scratch
constexpr int WSQ_ERR_FILTER_LENGTH = -98;   // D: DTT filter length 0 or even
constexpr int WSQ_ERR_HUFF_ID = -99;         // D: Huffman table id of 8 or more
constexpr int WSQ_ERR_GEOMETRY = -100; // D, E: a side below 65, or too many pixels (see below)
constexpr int WSQ_ERR_SEGMENT_LENGTH = -101; // D: a segment length shorter than its own field
constexpr int WSQ_ERR_COEFF_RANGE = -102;    // E: a coefficient beyond 16 bits (rate too high)
constexpr int WSQ_ERR_NOT_FINITE = -103;     // D: reconstruction overflowed (infinite or NaN)
constexpr int WSQ_ERR_COUNT_OVER = -510;     // D: symbol after the expected coefficient count
constexpr int WSQ_ERR_RUN_OVER = -511;       // D: zero run (1..100) past the expected count
constexpr int WSQ_ERR_RUN8_OVER = -512;      // D: zero run (8-bit) past the expected count
constexpr int WSQ_ERR_RUN16_OVER = -513;     // D: zero run (16-bit) past the expected count
constexpr int WSQ_ERR_BAD_CODE = -514;       // D: bit string that matches no Huffman code
constexpr int WSQ_ERR_GUARD = -666;          // D, E: guard value differs from the guard sum

// Images need at least this many pixels on each side (the innermost transform step needs lines
// of 5 samples) and at most WSQ_MAX_PIXELS pixels in all, so that every working buffer
// (10 bytes per pixel) stays addressable on a 32-bit target.
// That limit is far above any print: a valid stream of a few hundred bytes may declare
// 16384 x 16384 pixels, whose decode takes gigabytes and tens of seconds. A caller decoding
// streams it does not trust asks for the size first (null pixels: WSQ_SIZE_QUERY) and refuses
// frames above its own bound before allocating the pixels; template creation refuses sides
// above 4096 that way.
constexpr int WSQ_MIN_SIDE = 65;
constexpr std::uint32_t WSQ_MAX_PIXELS = 1u << 28;

// Fixed software implementation number written into every frame header.
constexpr std::uint16_t WSQ_SOFTWARE_ID = 200;

// `guard` is the guard sum of the input: the 32-bit unsigned sum, over i = 0, 10, 20, ...
// below the number of input bytes, of byte i + 2 i; another value fails with WSQ_ERR_GUARD.
extern "C" {
// New codec instance, or null when it cannot be allocated.
ZF_EXPORT void* init_instance();
// Frees an instance; null does nothing.
ZF_EXPORT void cancel_instance(void* inst);
// Decodes `size` stream bytes into `pixels` (width * height bytes) and returns the stream's
// software implementation number (0 or more); with `pixels` null it only writes the width and
// height and returns WSQ_SIZE_QUERY. Checks: null instance or stream (WSQ_NO_STREAM), then the
// guard. Other failures are the negative codes above.
ZF_EXPORT int wsq_decode(void* inst, unsigned char* pixels, unsigned char* data, int size,
                         int* width, int* height, int guard);
// Encodes width * height pixels at `rate` (negative: bits per pixel; positive: compression
// ratio) into `out`, which must hold width * height bytes, the most the stream can take; returns
// the stream length or a negative code. Checks, in order: rate 0 (-8), null buffers (-1),
// geometry (-100), guard (-666).
ZF_EXPORT int wsq_encode(void* inst, unsigned char* pixels, unsigned char* out, int width,
                         int height, float rate, int guard);
}
