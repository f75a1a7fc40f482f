// Segmentation entry: picks the segmenter for the kind of image and runs the driver; the
// parallelogram cut of a found rectangle; the ridge-continuity score of an image. Returns the
// SGM_ codes; a failed allocation propagates as std::bad_alloc, the segmenter freed.

#include "segmentation/FSeg.h"

#include "imaging/graph8.h"
#include "imaging/graph8_bin.h"
#include "imaging/graph8_scale.h"
#include "segmentation/FPS.h"
#include "segmentation/FPS_palm.h"

#include <cstddef>
#include <cstring>
#include <memory>

namespace {

// Upright output sides are made multiples of this.
constexpr unsigned OUTPUT_ALIGN = 4;
constexpr int QUALITY_DPI = 200;
constexpr int QUALITY_WINDOW = 5;

bool FsLatent(NIST_IMP_TYPE impression)
{
    return impression >= NIST_IMP_LATENT_IMPRESSION && impression <= NIST_IMP_LATENT_LIFT;
}

// A segmenter default-initialised: every member has an initialiser or a constructor, and the
// contour arrays of its spots (about 3 MB) are written before they are read, so the object is
// not cleared first as value-initialisation would.
template <class T> std::unique_ptr<CFps> FsMake()
{
    return std::unique_ptr<CFps>(new T);
}

// The segmenter of a kind of image; null for kinds this library does not segment.
std::unique_ptr<CFps> FsCreate(SGM_TYPE type, NIST_IMP_TYPE impression)
{
    switch (type) {
    case SGM_TYPE_FINGER:
        return FsLatent(impression) ? FsMake<CFpsLatent>() : FsMake<CFpsFinger>();
    case SGM_TYPE_SLAP:
        return FsMake<CFpsSlap>();
    case SGM_TYPE_LOWER_PALM:
        return FsMake<CFpsLowerPalm>();
    case SGM_TYPE_WRITERS_PALM:
        return FsMake<CFpsWritersPalm>();
    case SGM_TYPE_THUMBS:
        return FsMake<CFpsThumbs>();
    case SGM_TYPE_LOWER_PALMS:
        return FsMake<CFpsLowerPalms>();
    case SGM_TYPE_FULL_PALM:
        // Value-initialised: the hand model's rasters start cleared.
        return std::unique_ptr<CFps>(new CFpsFullPalm());
    default:
        return nullptr;
    }
}

// Pixel at (x, y) of a packed image, 1 outside.
int FsPixel(const unsigned char* img, int w, int h, int x, int y)
{
    if (x < 0 || y < 0 || x >= w || y >= h) {
        return 1;
    }
    return img[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + x];
}

} // namespace

int FSeg(unsigned char* image, unsigned char* background, unsigned width, unsigned height,
         unsigned dpi, SGM_TYPE type, SGM_HAND hand, NIST_IMP_TYPE impression, bool rotated,
         SGM_FINGER* missing, unsigned missingCount, SgmRect* rects, unsigned& rectCount)
{
    // 1. The segmenter for the kind; unknown and unsupported kinds first of all.
    std::unique_ptr<CFps> segmenter = FsCreate(type, impression);
    if (!segmenter) {
        return SGM_BAD_TYPE;
    }
    // The hand model needs at least its working raster (checked in the driver's order).
    if (type == SGM_TYPE_FULL_PALM && image != nullptr) {
        const int refused = CFpsFullPalm::CheckSize(width, height);
        if (refused != 0) {
            return refused;
        }
    }
    // 2, 3. The driver; the segmenter is freed on every path.
    return segmenter->Segmentation(image, background, width, height, dpi, hand, impression, rotated,
                                   missing, missingCount, rects, rectCount, OUTPUT_ALIGN);
}

int Get3Rect(unsigned char* image, unsigned width, unsigned height, int x1, int y1, int x2, int y2,
             int x3, int y3, unsigned char* out, unsigned& outWidth, unsigned& outHeight)
{
    if (image == nullptr) {
        return SGM_FAILED;
    }
    const int code =
        Get3Rect8(image, width, height, x1, y1, x2, y2, x3, y3, out, outWidth, outHeight, 255);
    if (code == 0) {
        return SGM_FOUND;
    }
    return code == IMG_NO_OUTPUT ? SGM_NO_BUFFER : SGM_FAILED;
}

int GetFingerprintQuality(unsigned char* image, unsigned width, unsigned height, unsigned dpi,
                          unsigned char& quality)
{
    // 1. A copy reduced to at most 200 dpi in the first half of a double buffer.
    quality = 0;
    if (image == nullptr) {
        return SGM_NO_IMAGE;
    }
    if (width == 0 || width > SGM_MAX_SIDE) {
        return SGM_BAD_WIDTH;
    }
    if (height == 0 || height > SGM_MAX_SIDE) {
        return SGM_BAD_HEIGHT;
    }
    const std::size_t n = static_cast<std::size_t>(width) * height;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[2 * n]);
    std::memcpy(buffer.get(), image, n);
    unsigned w = width;
    unsigned h = height;
    ResizeDecFastForDPI8(buffer.get(), w, h, FpDpiArg(dpi), QUALITY_DPI);
    // 2. Local-mean binarisation into the second half.
    unsigned char* bin = buffer.get() + n;
    const int code = BinarizationToL8(buffer.get(), w, h, 0, 0, static_cast<int>(w) - 1,
                                      static_cast<int>(h) - 1, QUALITY_WINDOW, bin);
    if (code == IMG_NO_OUTPUT) {
        return SGM_NO_BUFFER;
    }
    if (code == IMG_BAD_GEOMETRY) {
        return w > h ? SGM_BAD_HEIGHT : SGM_BAD_WIDTH;
    }
    if (code != 0) {
        return SGM_FAILED;
    }
    // 3. Ridge pixels, and those continued on both sides.
    const int iw = static_cast<int>(w);
    const int ih = static_cast<int>(h);
    unsigned ridge = 0;
    unsigned regular = 0;
    for (int y = 1; y + 1 < ih; ++y) {
        for (int x = 1; x + 1 < iw; ++x) {
            if (FsPixel(bin, iw, ih, x, y) != 0) {
                continue;
            }
            ++ridge;
            auto at = [&](int dx, int dy) { return FsPixel(bin, iw, ih, x + dx, y + dy) == 0; };
            const int sum = FsPixel(bin, iw, ih, x - 1, y - 1) + FsPixel(bin, iw, ih, x, y - 1) +
                            FsPixel(bin, iw, ih, x + 1, y - 1) + FsPixel(bin, iw, ih, x - 1, y) +
                            FsPixel(bin, iw, ih, x + 1, y) + FsPixel(bin, iw, ih, x - 1, y + 1) +
                            FsPixel(bin, iw, ih, x, y + 1) + FsPixel(bin, iw, ih, x + 1, y + 1);
            if (sum < 2) {
                continue;
            }
            const bool nw = at(-1, -1);
            const bool no = at(0, -1);
            const bool ne = at(1, -1);
            const bool ea = at(1, 0);
            const bool se = at(1, 1);
            const bool so = at(0, 1);
            const bool sw = at(-1, 1);
            const bool we = at(-1, 0);
            const bool continued = (nw && (ea || so || se)) || (no && (sw || so || se)) ||
                                   (ne && (we || sw || so)) || (ea && (sw || we || nw)) ||
                                   (se && (nw || we || no)) || (so && (no || ne || nw)) ||
                                   (sw && (ne || no || ea)) || (we && (se || ea || ne));
            regular += continued ? 1 : 0;
        }
    }
    // 4. Share of continued ridge pixels.
    quality = static_cast<unsigned char>(100u * regular / (ridge + 1));
    return SGM_FOUND;
}
