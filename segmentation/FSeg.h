// Segmentation entry point: finds fingers (single finger or four-finger slap) in an 8-bit grey
// image and returns one rectangle per finger with its position code, corners in pixels of
// the input image. Also the parallelogram cut and a ridge-continuity score. Results are the
// SGM_ codes below; allocation failure propagates as std::bad_alloc.
#pragma once

#include "platform/export.h"

#include <cstdint>

// Kind of image.
enum SGM_TYPE : std::int32_t {
    SGM_TYPE_FINGER = 0,
    SGM_TYPE_SLAP = 1,
    SGM_TYPE_LOWER_PALM = 2,
    SGM_TYPE_WRITERS_PALM = 3,
    SGM_TYPE_THUMBS = 4,
    SGM_TYPE_LOWER_PALMS = 5,
    SGM_TYPE_FULL_PALM = 6,
};

// Hand of the image as the caller knows it.
enum SGM_HAND : std::int32_t {
    SGM_HAND_UNKNOWN = 0,
    SGM_HAND_LEFT = 1,
    SGM_HAND_RIGHT = 2,
    SGM_HAND_LEFT_EXPECTED = 3,
    SGM_HAND_RIGHT_EXPECTED = 4,
};

// Impression type code of the ANSI/NIST-ITL standard (any value may be passed).
enum NIST_IMP_TYPE : std::int32_t {
    NIST_IMP_LIVESCAN_PLAIN = 0,
    NIST_IMP_LIVESCAN_ROLLED = 1,
    NIST_IMP_NONLIVESCAN_PLAIN = 2,
    NIST_IMP_NONLIVESCAN_ROLLED = 3,
    NIST_IMP_LATENT_IMPRESSION = 4,
    NIST_IMP_LATENT_TRACING = 5,
    NIST_IMP_LATENT_PHOTO = 6,
    NIST_IMP_LATENT_LIFT = 7,
    NIST_IMP_UNKNOWN = 29,
};

// Finger and palm position codes of the ANSI/NIST-ITL standard.
enum SGM_FINGER : std::int32_t {
    SGM_FINGER_UNKNOWN = 0,
    SGM_FINGER_RIGHT_THUMB = 1,
    SGM_FINGER_RIGHT_INDEX = 2,
    SGM_FINGER_RIGHT_MIDDLE = 3,
    SGM_FINGER_RIGHT_RING = 4,
    SGM_FINGER_RIGHT_LITTLE = 5,
    SGM_FINGER_LEFT_THUMB = 6,
    SGM_FINGER_LEFT_INDEX = 7,
    SGM_FINGER_LEFT_MIDDLE = 8,
    SGM_FINGER_LEFT_RING = 9,
    SGM_FINGER_LEFT_LITTLE = 10,
    SGM_FINGER_RIGHT_WRITERS_PALM = 22,
    SGM_FINGER_LEFT_WRITERS_PALM = 24,
    SGM_FINGER_RIGHT_LOWER_PALM = 25,
    SGM_FINGER_LEFT_LOWER_PALM = 27,
    SGM_FINGER_RIGHT_INTERDIGITAL = 31,
    SGM_FINGER_LEFT_INTERDIGITAL = 34,
};

// One found object: position code, phalanx, then four corners. Upright boxes list top-left,
// top-right, bottom-left, bottom-right; turned boxes the same corners of the turned box.
struct SgmRect {
    std::int32_t code;
    std::int32_t phalanx;
    std::int32_t x1, y1;
    std::int32_t x2, y2;
    std::int32_t x3, y3;
    std::int32_t x4, y4;
};

// Results of FSeg, Get3Rect and GetFingerprintQuality.
constexpr int SGM_FOUND = 1;              // at least one rectangle written
constexpr int SGM_NOTHING = 0;            // nothing found; rectCount = 0
constexpr int SGM_HAND_CONTRADICTED = -1; // written, but the hand found is not the one expected
constexpr int SGM_NO_IMAGE = -2;
constexpr int SGM_BAD_WIDTH = -3;  // below 64 (or above SGM_MAX_SIDE)
constexpr int SGM_BAD_HEIGHT = -4; // below 64 (or above SGM_MAX_SIDE)
constexpr int SGM_BAD_DPI = -5;    // below 50
constexpr int SGM_BAD_TYPE = -6;   // unknown or unsupported kind of image
constexpr int SGM_NO_MISSING_LIST = -10;
constexpr int SGM_NO_RECTS = -11;
constexpr int SGM_NO_ROOM = -12; // capacity 0, or more rectangles than the capacity
constexpr int SGM_NO_BUFFER = -13;
constexpr int SGM_FAILED = -99;

constexpr unsigned SGM_MIN_SIDE = 64;
constexpr unsigned SGM_MIN_DPI = 50;
// Largest side accepted: keeps every w*h product of the segmenters inside 32 bits.
constexpr unsigned SGM_MAX_SIDE = 16384;

// Segments image (width x height bytes, dark ridges on light paper, dpi pixels per inch).
// background: null or an empty-scanner image of the same size. rectCount: capacity of rects
// on entry, rectangles written on return (results 1, 0, -1). Corners always lie inside the
// image. Upright boxes have sides that are multiples of 4 where the image allows it.
ZF_EXPORT int FSeg(unsigned char* image, unsigned char* background, unsigned width, unsigned height,
                   unsigned dpi, SGM_TYPE type, SGM_HAND hand, NIST_IMP_TYPE impression,
                   bool rotated, SGM_FINGER* missing, unsigned missingCount, SgmRect* rects,
                   unsigned& rectCount);

// Cuts the parallelogram with corners top-left (x1, y1), top-right (x2, y2), bottom-left
// (x3, y3) into out (fill 255 outside the image). Returns 1, -13 for a null out, -99 otherwise.
ZF_EXPORT int Get3Rect(unsigned char* image, unsigned width, unsigned height, int x1, int y1,
                       int x2, int y2, int x3, int y3, unsigned char* out, unsigned& outWidth,
                       unsigned& outHeight);

// Ridge-continuity score 0..100 of the image at dpi. Returns 1, or -3/-4 (image too small for
// the window), -13, -99; quality stays 0 on failure.
ZF_EXPORT int GetFingerprintQuality(unsigned char* image, unsigned width, unsigned height,
                                    unsigned dpi, unsigned char& quality);
