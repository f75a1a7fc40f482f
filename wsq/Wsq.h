// WSQ grey-scale fingerprint codec: the instance object `Wsq`, its result codes and the four
// exported C entry points. Pixels are 8-bit grey, rows top to bottom without padding; streams are
// the FBI WSQ byte format (big-endian markers and segments). Every failure is a negative code;
// no exception leaves an entry point.
#pragma once

#include "wsq/WsqCodec.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct header_frm {
    std::uint8_t black;
    std::uint8_t white;
    std::uint16_t width;
    std::uint16_t height;
    float m_shift;
    float r_scale;
    std::uint8_t wsq_encoder;
    std::uint16_t software;
};

// Region that one transform step splits; inv_rw (rows) and inv_cl (columns) put the high-pass
// half before the low-pass half.
struct wavlet_tree {
    int x;
    int y;
    int lenx;
    int leny;
    int inv_rw;
    int inv_cl;
};

// One subband rectangle.
struct quant_tree {
    int x;
    int y;
    int lenx;
    int leny;
};

constexpr int W_TREELEN = 20;
constexpr int Q_TREELEN = 64;
constexpr int NUM_SUBBANDS = 60; // subbands 60..63 never carry coefficients

class Wsq {
public:
    Wsq();

    // Decodes `size` stream bytes into `pixels` (width * height bytes) or, with `pixels` null,
    // reports the dimensions and returns WSQ_SIZE_QUERY. Success is the stream's software
    // implementation number (0 or more). Checks: null stream, then the guard.
    int decode(unsigned char* pixels, const unsigned char* data, int size, int* width, int* height,
               int guard);
    // Encodes width * height pixels at `rate` (negative: bits per pixel; positive: compression
    // ratio). Returns the stream length or a negative code. The output buffer must hold
    // width * height bytes; the stream never goes past that bound (it fails with -32 / -33).
    int encode(const unsigned char* pixels, unsigned char* out, int width, int height, float rate,
               int guard);

    // Guard sum: u32 sum over i = 0, 10, 20, ... below n of data[i] + 2 i.
    static std::uint32_t wsqCheckSum(const unsigned char* data, std::int64_t n);
    // Bit rate in bits per pixel for a compression ratio, from the fixed table.
    static float GetBitRate(float ratio);

    // Subband geometry for an image (both trees).
    void build_wsq_trees(int width, int height);

    // Analysis (get_lets, double taps) and synthesis (join_lets, single-precision taps) of
    // `lines` lines of n samples each; `work` holds at least WsqLineWork(n) floats. Filters have
    // odd lengths of at most 255.
    static void get_lets(float* out, const float* in, int lines, int n, int pitch, int stride,
                         const double* hi, int hsz, const double* lo, int lsz, int inv,
                         float* work);
    static void join_lets(float* out, const float* in, int lines, int n, int pitch, int stride,
                          const float* hi, int hsz, const float* lo, int lsz, int inv, float* work);
    // The analysis one line and one value at a time, for any pitch and stride: the scalar twin
    // of the lane-wise forms that get_lets picks for adjacent lines (pitch 1) or contiguous
    // lines (stride 1). Both give the same bits.
    static void get_lets_scalar(float* out, const float* in, int lines, int n, int pitch,
                                int stride, const double* hi, int hsz, const double* lo, int lsz,
                                int inv, float* work);
    // The same synthesis one line and one sample at a time, for any pitch and stride: the
    // scalar twin of the lane-wise forms that join_lets picks for adjacent lines (pitch 1) or
    // contiguous lines (stride 1). Both give the same bits.
    static void join_lets_scalar(float* out, const float* in, int lines, int n, int pitch,
                                 int stride, const float* hi, int hsz, const float* lo, int lsz,
                                 int inv, float* work);

    // Pixels from samples: p = s r_scale + m_shift + 0.5 in single precision; below 0 gives 0,
    // above 255 gives 255, otherwise p truncated. Returns 0, or WSQ_ERR_NOT_FINITE at the first
    // sample that is infinite or NaN or gives a NaN p (the pixels before it are written).
    static int conv_img_2_uchar(unsigned char* pixels, const float* samples, std::size_t n,
                                float r_scale, float m_shift);

    const header_frm& frame() const { return m_frm; }
    const wavlet_tree* wtree() const { return m_wtree; }
    const quant_tree* qtree() const { return m_qtree; }

    double m_hifilt[7]; // analysis high-pass
    double m_lofilt[9]; // analysis low-pass

private:
    static void get_across(float* out, const float* in, int lines, int n, int stride,
                           const double* hi, int hsz, const double* lo, int lsz, int inv);
    static void get_along(float* out, const float* in, int lines, int n, int pitch,
                          const double* hi, int hsz, const double* lo, int lsz, int inv,
                          float* work);
    static void join_across(float* out, const float* in, int lines, int n, int stride,
                            const float* hi, int hsz, const float* lo, int lsz, int inv);
    static void join_along(float* out, const float* in, int lines, int n, int pitch,
                           const float* hi, int hsz, const float* lo, int lsz, int inv,
                           float* work);
    void build_w_tree(int width, int height);
    void w_tree4(int p, int c, int lenx, int leny, int x, int y, bool stop);
    void build_q_tree();
    void q_tree4(int p, int lenx, int leny, int x, int y);
    void q_tree16(int p, int lenx, int leny, int x, int y, int rw, int cl);

    int wsq_decode_mem(unsigned char* pixels, const unsigned char* data, std::size_t size,
                       int* width, int* height);
    int wsq_encode_mem(unsigned char* out, int* olen, float r_bitrate, const unsigned char* pixels,
                       int width, int height);

    header_frm m_frm;
    wavlet_tree m_wtree[W_TREELEN];
    quant_tree m_qtree[Q_TREELEN];

    // Coefficient, sample and transform buffers of the decoder and the encoder, kept from one
    // call to the next and grown when an image needs more, so that repeated calls do not map
    // fresh memory each time; freed with the instance.
    template <typename T> struct Buffer {
        std::unique_ptr<T[]> data;
        std::size_t size = 0;
        // At least n elements (contents unspecified), or null when they cannot be allocated.
        T* Reserve(std::size_t n);
    };
    Buffer<std::int16_t> m_coeffs;
    Buffer<float> m_samples;
    Buffer<float> m_scratch;
    Buffer<float> m_lineWork;

    friend struct WsqDecoder;
    friend struct WsqEncoder;
};

// Room on each side of a line copy for the symmetric extension of filters up to 255 taps.
constexpr int WSQ_LINE_MARGIN = 260;

// Most taps one output parity of the synthesis uses: half of each of two 255-tap filters.
constexpr int WSQ_PARITY_TAPS = 256;

// out[i] = 0 + src[0][i] tap[0] + src[1][i] tap[1] + ... for i below n, each product and sum
// rounded to float in that order. WsqTapSum runs four lanes at a time, WsqTapSumScalar one
// sample at a time; both give the same bits. At most WSQ_PARITY_TAPS taps.
void WsqTapSum(float* out, const float* const* src, const float* tap, int taps, int n);
void WsqTapSumScalar(float* out, const float* const* src, const float* tap, int taps, int n);

// The analysis sums: out[i] = src[0][i] tap[0], then out[i] + src[t][i] tap[t] for t = 1, 2, ...
// below `taps` (1 to WSQ_PARITY_TAPS), each product and sum in double precision and stored to float
// in that order. WsqTapSumD runs four lanes at a time, WsqTapSumDScalar one value at a time; both
// give the same bits.
void WsqTapSumD(float* out, const float* const* src, const double* tap, int taps, int n);
void WsqTapSumDScalar(float* out, const float* const* src, const double* tap, int taps, int n);

// Floats of line work space that filtering lines of up to n samples needs.
inline std::size_t WsqLineWork(int n)
{
    return 2 * static_cast<std::size_t>(n) + 2 * WSQ_LINE_MARGIN;
}
