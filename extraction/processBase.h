// Image preparation in front of the extraction engine: the pipeline types shared with the
// template creator, the extractor codes, and ProcessBase, which owns two 16 MiB image buffers,
// checks and converts 8-bit palette bitmaps, resamples them to 500 pixels per inch, locates the
// finger with FSeg and cuts the region to process. Codes are 0 or the negative IP_ codes below
// (and 1 from processRaw when the cut fails); nothing here throws.
#pragma once

#include "interface/ZelvanFinger.h"

#include <cstdint>
#include <memory>

// Extractor codes.
constexpr int IP_BAD_TEMPLATE_COUNT = -202;
constexpr int IP_NO_MEMORY = -204;
constexpr int IP_NOT_INITIALISED = -206;
constexpr int IP_EXCEPTION = -208;
constexpr int IP_BAD_BITMAP = -210;
constexpr int IP_TOO_LARGE = -212;
constexpr int IP_BAD_RESOLUTION = -214;
constexpr int IP_BAD_SIZE = -216;
constexpr int IP_EXTRACTION_FAILED = -218;
constexpr int IP_NULL_ARGUMENT = -220;
constexpr int IP_STOPPED = -228;
constexpr int IP_TOO_SMALL = -232;
constexpr int IP_CUT_FAILED = 1; // processRaw: the region could not be cut

constexpr unsigned IP_MAX_SIDE = 4096;
constexpr std::size_t IP_BUFFER_SIZE = 16u << 20; // bytes of each image buffer
constexpr int IP_CUT_MARGIN = 22;                 // pixels added round the located finger
constexpr int IP_MIN_FINGER_BOX = 63;             // a located box must be wider and taller

// One template slot: finger position and a buffer of MAX_TEMPLATE_SIZE bytes.
struct TemplateData {
    FINGERS finger;
    unsigned char* buffer;
};

// Preparation parameters; a null pointer means {1, 1, 0, 4096, 4096, 0}.
struct ProcessParam {
    std::uint8_t useSegmentation; // locate the finger with FSeg and cut around it
    std::uint8_t allowPadding;    // the region may pass the image (filled with 255)
    std::uint8_t isoMinutiae;     // minutia directions follow the traced ridges only
    std::uint32_t maxWidth;       // bounds of the processed region; 0 or above 4096 -> 4096
    std::uint32_t maxHeight;
    std::uint32_t reserved;
};

// Region of the input image, inclusive pixel bounds.
struct Frame {
    int left;
    int right;
    int top;
    int bottom;
};

// An 8-bit palette bitmap in memory: 40-byte information header, 256 palette entries, rows
// padded to 4 bytes (bottom row first when the height is positive).
struct CaptureData {
    FINGERS finger;
    unsigned char* bitmap;
};

// One singular point reported to the caller.
struct Singular {
    int x;
    int y;
    std::uint8_t reliability; // 0..98
    int angle;                // degrees
    int reserved;
    int type; // 1 whorl, 2 loop, 8 delta
};

struct tagRGBQUAD {
    std::uint8_t blue;
    std::uint8_t green;
    std::uint8_t red;
    std::uint8_t reserved;
};

// The bitmap information header, fields decoded from little-endian bytes.
struct BitmapHeader {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
constexpr unsigned IP_BITMAP_HEADER_SIZE = 40;
constexpr unsigned IP_PALETTE_SIZE = 1024;

// Completion callbacks: the caller's context first; false stops the run with IP_STOPPED.
using PreProcessCompleteCallback = bool (*)(void* ctx, FINGERS finger, Frame& region);
using QualityCompleteCallback = bool (*)(void* ctx, FINGERS finger, int quality);
using SingularCompleteCallback = bool (*)(void* ctx, FINGERS finger, unsigned patternClass,
                                          unsigned count, const Singular* list);
using SkeletonCompleteCallback = bool (*)(void* ctx, FINGERS finger, unsigned char* skeleton,
                                          int size);

// Base of the processor: buffers, preparation and the region cut; the engine run is the
// derived class's wizardWork.
class ProcessBase {
public:
    ProcessBase();
    ProcessBase(const ProcessBase&) = delete;
    ProcessBase& operator=(const ProcessBase&) = delete;
    virtual ~ProcessBase();

    virtual int common_init(int reserved);
    virtual bool alloc(int reserved);
    virtual void release();
    // Runs the engine on width x height pixels and writes the template at tpl.
    virtual int wizardWork(void* ctx, unsigned char* image, unsigned width, unsigned height,
                           unsigned char* tpl, unsigned* size, int* quality, Frame& frame,
                           FINGERS finger, unsigned char* skeleton, int* skeletonSize,
                           bool isoMinutiae, PreProcessCompleteCallback cb1,
                           QualityCompleteCallback cb2, SingularCompleteCallback cb3,
                           SkeletonCompleteCallback cb4, bool qualityOnly) = 0;
    virtual void setProtect(unsigned char* table) = 0;
    virtual void getProtect(unsigned char* out) = 0;
    virtual bool onProcess1Complete(void* ctx, SingularCompleteCallback cb, FINGERS finger) = 0;

    void setSegmentationParameters(unsigned minW, unsigned maxW, unsigned minH, unsigned maxH,
                                   unsigned alignW, unsigned alignH);
    int init(int reserved);
    int initEx(unsigned char* table, int reserved);
    static int allocateTemplates(int n, TemplateData* td, unsigned size);
    static int freeTemplates(unsigned n, TemplateData* td);

    int checkImage() const;
    void flipImage();
    void correctRGB(const tagRGBQUAD* palette);
    int strechImage(ProcessParam& param, unsigned char* bitmap);
    void whitePadding();
    int prepareImage(unsigned char* bitmap, ProcessParam& param, Frame& frame);
    int correctImageSize(unsigned w, unsigned h, int& x1, int& y1, int& x2, int& y2,
                         ProcessParam& param) const;
    int cutImage(unsigned w, unsigned h, ProcessParam& param, Frame& frame);
    int processRaw(void* ctx, unsigned char* image, unsigned short width, unsigned short height,
                   unsigned char* tpl, unsigned* size, int* quality, ProcessParam* param,
                   Frame* frame, FINGERS finger, unsigned char* skeleton, int* skeletonSize,
                   PreProcessCompleteCallback cb1, QualityCompleteCallback cb2,
                   SingularCompleteCallback cb3, SkeletonCompleteCallback cb4, bool qualityOnly);
    int process(void* ctx, CaptureData cd, TemplateData& td, unsigned* size, int* quality,
                ProcessParam* param, Frame* frame, PreProcessCompleteCallback cb1,
                QualityCompleteCallback cb2, SingularCompleteCallback cb3,
                SkeletonCompleteCallback cb4, bool qualityOnly);

    bool onPreProcessComplete(void* ctx, PreProcessCompleteCallback cb, FINGERS finger,
                              Frame& region);
    bool onGetQualityComplete(void* ctx, QualityCompleteCallback cb, FINGERS finger, int quality);
    bool onSkeletonComplete(void* ctx, SkeletonCompleteCallback cb, FINGERS finger,
                            unsigned char* skeleton, int size);

    // Segmentation limits as stored (read by tests and the driver).
    unsigned alignW() const { return m_alignW; }
    unsigned alignH() const { return m_alignH; }
    unsigned minW() const { return m_minW; }
    unsigned maxW() const { return m_maxW; }
    unsigned minH() const { return m_minH; }
    unsigned maxH() const { return m_maxH; }
    const BitmapHeader& header() const { return m_header; }
    const unsigned char* current() const { return m_current; }

protected:
    // After writing into the other buffer: it becomes the current image.
    void SwapBuffers();
    // Points the current image at `image` and the other buffer at the buffer that is not it.
    void UseImage(unsigned char* image);
    bool OwnsImage(const unsigned char* p) const
    {
        return p != nullptr && (p == m_bufferA.get() || p == m_bufferB.get());
    }
    static ProcessParam Defaults(const ProcessParam* param);

    std::unique_ptr<unsigned char[]> m_bufferA;
    std::unique_ptr<unsigned char[]> m_bufferB;
    std::uint32_t m_toggle = 1;
    BitmapHeader m_header{}; // working copy of a bitmap's header
    unsigned char* m_current = nullptr;
    unsigned char* m_other = nullptr;
    std::uint32_t m_alignW = 0, m_alignH = 0, m_minW = 0, m_maxW = 0, m_minH = 0, m_maxH = 0;
    std::uint8_t m_initialised = 0;
};
