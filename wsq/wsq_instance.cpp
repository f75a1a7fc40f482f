// WSQ codec instance and its exported C entry points: creation with the standard's 9/7 analysis
// filters, release, the guard sum and the one try block of the codec, which turns any escaping
// exception into a negative code so that nothing unwinds through a C caller.

#include "wsq/Wsq.h"

#include <new>

namespace {

// Symmetric 9/7 analysis filters: the centre and one half; the other half mirrors it.
// clang-format off
const double kLowHalf[5] = {0.037828455506995, -0.02384946501938, -0.11062440441842,
                            0.37740285561265, 0.8526986790094};
const double kHighHalf[4] = {0.064538882628938, -0.040689417609558, -0.41809227322221,
                             0.78848561640566};
// clang-format on

constexpr int WSQ_EXCEPTION = -3; // an allocation failed outside the checked allocations

} // namespace

Wsq::Wsq() : m_frm{}, m_wtree{}, m_qtree{}
{
    for (int i = 0; i < 5; ++i) {
        m_lofilt[i] = kLowHalf[i];
        m_lofilt[8 - i] = kLowHalf[i];
    }
    for (int i = 0; i < 4; ++i) {
        m_hifilt[i] = kHighHalf[i];
        m_hifilt[6 - i] = kHighHalf[i];
    }
}

template <typename T> T* Wsq::Buffer<T>::Reserve(std::size_t n)
{
    if (size < n) {
        data.reset(); // the old contents are not kept: free them before the larger block
        data.reset(new (std::nothrow) T[n]);
        size = data ? n : 0;
    }
    return data.get();
}

template struct Wsq::Buffer<std::int16_t>;
template struct Wsq::Buffer<float>;

std::uint32_t Wsq::wsqCheckSum(const unsigned char* data, std::int64_t n)
{
    std::uint32_t sum = 0;
    for (std::int64_t i = 0; i < n; i += 10) {
        sum += data[i] + 2u * static_cast<std::uint32_t>(i);
    }
    return sum;
}

void* init_instance()
{
    return new (std::nothrow) Wsq();
}

void cancel_instance(void* inst)
{
    delete static_cast<Wsq*>(inst);
}

int wsq_decode(void* inst, unsigned char* pixels, unsigned char* data, int size, int* width,
               int* height, int guard)
{
    if (inst == nullptr) {
        return WSQ_NO_STREAM;
    }
    try {
        return static_cast<Wsq*>(inst)->decode(pixels, data, size, width, height, guard);
    } catch (...) {
        return WSQ_EXCEPTION;
    }
}

int wsq_encode(void* inst, unsigned char* pixels, unsigned char* out, int width, int height,
               float rate, int guard)
{
    if (inst == nullptr) {
        return WSQ_NO_STREAM;
    }
    try {
        return static_cast<Wsq*>(inst)->encode(pixels, out, width, height, rate, guard);
    } catch (...) {
        return WSQ_EXCEPTION;
    }
}
