// Opening and closing of the accelerator library: the context, its work slots with their
// decoding buffers, pair groups and final-stage comparer, the probe buffers, and the
// candidate buffer of the final stage. All work memory is taken here; a failed opening frees
// everything it took and answers ACCEL_ERR_MEMORY.

#include "search/AccelLib.h"
#include "search/Ma100_TT.h"

#include <omp.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace accelMatch {
namespace {

template <typename T> T* AcNewZeroed(std::size_t n)
{
    T* p = new (std::nothrow) T[n];
    if (p != nullptr) {
        std::memset(static_cast<void*>(p), 0, n * sizeof(T));
    }
    return p;
}

template <typename T> void AcDeleteArray(T*& p)
{
    delete[] p;
    p = nullptr;
}

} // namespace

ThreadData::ThreadData()
{
    for (int k = 0; k < 10; ++k) {
        pairs.rec[k] = FingerPairs{};
        pairs.rec[k].probeFinger = static_cast<std::uint8_t>(k);
        pairs.order[k] = &pairs.rec[k];
    }
    std::memset(triplets, 0, sizeof(triplets));
    std::memset(&galleryNests, 0, sizeof(galleryNests));
}

ThreadData::~ThreadData()
{
    for (AccelPair*& g : pool) {
        delete g;
        g = nullptr;
    }
    delete spare;
    ESK::Unwrap::cancel(reader);
    AcDeleteArray(probeRadii);
    AcDeleteArray(galleryRadii);
    AcDeleteArray(probePolar);
    AcDeleteArray(galleryPolar);
    AcDeleteArray(links);
    AcDeleteArray(minutiae);
    AcDeleteArray(singular);
    AcDeleteArray(area);
    delete finalMatcher;
}

bool ThreadData::alloc()
{
    for (AccelPair*& g : pool) {
        g = new (std::nothrow) AccelPair;
        if (g == nullptr || !g->alloc()) {
            return false;
        }
    }
    spare = new (std::nothrow) AccelPair;
    if (spare == nullptr || !spare->alloc() || !mainPairs.alloc()) {
        return false;
    }
    reader = ESK::Unwrap::create();
    if (reader == nullptr) {
        return false;
    }
    reader->versor(ESK::ESK_ACCESS_CODE);
    reader->factor(false);
    probeRadii = AcNewZeroed<std::int16_t>(ACCEL_PAIRS);
    galleryRadii = AcNewZeroed<std::int16_t>(ACCEL_PAIRS);
    probePolar = AcNewZeroed<std::uint8_t>(ACCEL_PAIRS);
    galleryPolar = AcNewZeroed<std::uint8_t>(ACCEL_PAIRS);
    links = AcNewZeroed<ESK::Link>(ACCEL_MAX_MINUTIAE);
    minutiae = AcNewZeroed<ESK::Lot<short>>(ACCEL_MAX_MINUTIAE);
    singular = AcNewZeroed<ESK::Lot<short>>(ACCEL_MAX_SINGULAR);
    area = AcNewZeroed<unsigned char>(ACCEL_AREA_SIZE);
    finalMatcher = new (std::nothrow) Ma100_accel_TT;
    return probeRadii != nullptr && galleryRadii != nullptr && probePolar != nullptr &&
           galleryPolar != nullptr && links != nullptr && minutiae != nullptr &&
           singular != nullptr && area != nullptr && finalMatcher != nullptr;
}

bool AccelData::alloc()
{
    // 1. A context can be allocated again.
    free();
    // 2. The slots, constructed in place.
    slots = new (std::nothrow) ThreadData[threads];
    if (slots == nullptr) {
        return false;
    }
    // 3. Their buffers.
    for (unsigned s = 0; s < threads; ++s) {
        if (!slots[s].alloc()) {
            return false;
        }
    }
    // 4. The probe buffers of each finger.
    for (ProbeFinger& f : probe) {
        f.spare = static_cast<unsigned char*>(std::malloc(ACCEL_MAX_FINGER_FULL));
        f.output = static_cast<unsigned char*>(std::malloc(ACCEL_MAX_FINGER_FULL));
        f.area = new (std::nothrow) unsigned char[ACCEL_AREA_SIZE];
        if (f.spare == nullptr || f.output == nullptr || f.area == nullptr) {
            return false;
        }
    }
    return true;
}

void AccelData::free()
{
    delete[] slots;
    slots = nullptr;
    AcDeleteArray(candidates);
    capacity = 0;
    AcDeleteArray(ids);
    AcDeleteArray(accels);
    AcDeleteArray(tpls);
    count = 0;
    for (ProbeFinger& f : probe) {
        std::free(f.spare);
        std::free(f.output);
        delete[] f.area;
        f = ProbeFinger{};
    }
    finalReady = 0;
}

unsigned AccelData::slot() const
{
    return threads >= 2 ? static_cast<unsigned>(omp_get_thread_num()) : 0u;
}

int initAccelLib(void** handle, unsigned& threads)
{
    if (handle == nullptr) {
        return ACCEL_ERR_NULL;
    }
    AccelData* data = new (std::nothrow) AccelData;
    if (data == nullptr) {
        return ACCEL_ERR_MEMORY;
    }
    data->threads = threads != 0 ? threads : static_cast<unsigned>(omp_get_num_procs());
    omp_set_num_threads(1);
    omp_set_dynamic(0);
    bool ok = false;
    try {
        ok = data->alloc();
    } catch (...) {
        ok = false;
    }
    if (!ok || !initAccelTables(data->tables)) {
        data->free();
        delete data;
        return ACCEL_ERR_MEMORY;
    }
    data->version = 73;
    data->open = 1;
    threads = data->threads;
    *handle = data;
    return ACCEL_OK;
}

int closeAccelLib(void** handle)
{
    if (handle == nullptr) {
        return ACCEL_ERR_NULL;
    }
    AccelData* data = static_cast<AccelData*>(*handle);
    if (data == nullptr) {
        return ACCEL_OK;
    }
    data->free();
    delete data;
    *handle = nullptr;
    return ACCEL_OK;
}

int initFinalMatching(void* handle, unsigned& size)
{
    AccelData* data = static_cast<AccelData*>(handle);
    if (data == nullptr || data->open == 0) {
        return ACCEL_ERR_NOT_OPEN;
    }
    // 1. Whole multiples of 10 MiB (the largest that fits 32 bits caps the rounding).
    std::uint64_t rounded = (static_cast<std::uint64_t>(size) + ACCEL_FINAL_UNIT - 1) /
                            ACCEL_FINAL_UNIT * ACCEL_FINAL_UNIT;
    if (rounded == 0) {
        rounded = ACCEL_FINAL_UNIT;
    }
    if (rounded > 0xFFFFFFFFu) {
        rounded = 0xFFFFFFFFu / ACCEL_FINAL_UNIT * ACCEL_FINAL_UNIT;
    }
    size = static_cast<unsigned>(rounded);
    if (data->finalReady != 0) {
        return ACCEL_OK;
    }
    // 2. The candidate buffer, every entry empty.
    unsigned capacity = size / 512;
    if (capacity < 100) {
        capacity = 100;
    }
    if (data->candidates == nullptr) {
        data->candidates = new (std::nothrow) SS_RL[capacity];
        if (data->candidates == nullptr) {
            return ACCEL_ERR_MEMORY;
        }
        data->capacity = capacity;
        for (unsigned i = 0; i < capacity; ++i) {
            SS_RL& e = data->candidates[i];
            e.record = ~0ull;
            for (int k = 0; k < 10; ++k) {
                e.fingerScore[k] = -1;
                e.galleryFinger[k] = 0xFF;
            }
            e.score = -1;
        }
    }
    // 3. Every slot's comparer.
    for (unsigned s = 0; s < data->threads; ++s) {
        if (data->slots[s].finalMatcher->init(nullptr) != 0) {
            return ACCEL_ERR_MEMORY;
        }
    }
    data->finalReady = 1;
    return ACCEL_OK;
}

} // namespace accelMatch
