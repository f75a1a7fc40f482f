// Gallery and identification of the matcher: records are kept as deep copies under 64-bit
// identifiers with their accelerator records, uploaded to the accelerator library when the
// gallery changed, and searched into candidates of identifier text and similarity. No
// exception leaves these operations: memory shortage gives 2, anything else 100.

#include "interface/RealMatcher.h"

#include <omp.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace ZelvanFinger {
namespace {

constexpr unsigned GALLERY_CAPACITY = 5400;
constexpr unsigned PREFIX_SIZE = 21;
constexpr unsigned MAX_TEMPLATE = 12288;

// The u64 that strtoull reads from the start of the text (0 without digits, saturating).
std::uint64_t GaParseId(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 10);
}

std::uint32_t GaTotalLength(const unsigned char* tpl)
{
    return static_cast<std::uint32_t>(tpl[0]) | (static_cast<std::uint32_t>(tpl[1]) << 8) |
           (static_cast<std::uint32_t>(tpl[2]) << 16) | (static_cast<std::uint32_t>(tpl[3]) << 24);
}

} // namespace

int RealMatcher::initUnwrap()
{
    if (m_unwrap != nullptr) {
        return RESULT_OK;
    }
    m_unwrap = ESK::Unwrap::create();
    if (m_unwrap == nullptr) {
        return RESULT_NO_MEMORY;
    }
    m_unwrap->versor(ESK::ESK_ACCESS_CODE);
    return RESULT_OK;
}

int RealMatcher::allocAccelBuffer()
{
    if (m_scratch != nullptr) {
        return RESULT_OK;
    }
    m_scratch = new (std::nothrow) unsigned char[accelMatch::getMaximumAccelSize(10)];
    return m_scratch == nullptr ? RESULT_NO_MEMORY : RESULT_OK;
}

int RealMatcher::initAccel_1st_stage(unsigned threads)
{
    // 1. Scratch buffer and reader.
    int r = allocAccelBuffer();
    if (r == RESULT_OK) {
        r = initUnwrap();
    }
    if (r != RESULT_OK) {
        return r;
    }
    // 2.-3. A library with enough slots stays.
    if (threads == 0) {
        threads = static_cast<unsigned>(omp_get_num_procs());
    }
    if (m_accel != nullptr && m_accelThreads >= threads) {
        return RESULT_OK;
    }
    // 4. (Re-)open; a closed library held the upload, so the next search uploads again.
    if (m_accel != nullptr) {
        accelMatch::closeAccelLib(&m_accel);
        m_accelThreads = 0;
        m_galleryChanged = true;
    }
    const int code = accelMatch::initAccelLib(&m_accel, threads);
    if (code != accelMatch::ACCEL_OK) {
        return checkAccelMatchResult(static_cast<unsigned>(code));
    }
    m_accelThreads = threads;
    return RESULT_OK;
}

int RealMatcher::initAccelMatching(unsigned threads, unsigned count)
{
    const int r = initAccel_1st_stage(threads);
    if (r != RESULT_OK) {
        return r;
    }
    if (m_finalSize == 0 && count == 0) {
        return RESULT_OK;
    }
    unsigned size = count;
    const int code = accelMatch::initFinalMatching(m_accel, size);
    if (code != accelMatch::ACCEL_OK) {
        return checkAccelMatchResult(static_cast<unsigned>(code));
    }
    m_finalSize = size;
    return RESULT_OK;
}

int RealMatcher::check(TpTemplate& record)
{
    for (unsigned char* tpl : record.finger) {
        if (tpl == nullptr) {
            continue;
        }
        const std::uint32_t total = GaTotalLength(tpl);
        if (total > MAX_TEMPLATE || total < PREFIX_SIZE || !m_unwrap->verify(tpl + PREFIX_SIZE) ||
            m_unwrap->length(tpl + PREFIX_SIZE) + PREFIX_SIZE != total ||
            !m_unwrap->defend(tpl + PREFIX_SIZE)) {
            return RESULT_BAD_TEMPLATE;
        }
    }
    return RESULT_OK;
}

int RealMatcher::createGalleryItem(std::uint64_t id, TpTemplate& record,
                                   accelMatch::GalleryItem& item)
{
    item = accelMatch::GalleryItem{};
    item.id = id;
    for (int k = 0; k < 10; ++k) {
        const unsigned char* tpl = record.finger[k];
        if (tpl == nullptr) {
            continue;
        }
        const std::uint32_t total = GaTotalLength(tpl);
        item.tpl[k] = new (std::nothrow) unsigned char[total];
        if (item.tpl[k] == nullptr) {
            releaseGalleryItem(item);
            return RESULT_NO_MEMORY;
        }
        std::memcpy(item.tpl[k], tpl, total);
    }
    return RESULT_OK;
}

int RealMatcher::calculateAccelerator(accelMatch::GalleryItem& item, TpTemplate& record)
{
    unsigned size = 0;
    const int code = accelMatch::calcAccel(m_accel, record, m_scratch, size, nullptr);
    if (code != accelMatch::ACCEL_OK) {
        return checkAccelMatchResult(static_cast<unsigned>(code));
    }
    std::uint8_t* accel = nullptr;
    if (allocAccel(accel, size) != RESULT_OK) {
        return RESULT_NO_MEMORY;
    }
    std::memcpy(accel, m_scratch, size);
    item.accel = accel;
    return RESULT_OK;
}

int RealMatcher::allocAccel(std::uint8_t*& p, unsigned size)
{
    void* block = nullptr;
    if (posix_memalign(&block, 16, size == 0 ? 16 : size) != 0) {
        p = nullptr;
        return RESULT_NO_MEMORY;
    }
    p = static_cast<std::uint8_t*>(block);
    return RESULT_OK;
}

void RealMatcher::freeAccel(std::uint8_t*& p)
{
    std::free(p);
    p = nullptr;
}

void RealMatcher::releaseGalleryItem(accelMatch::GalleryItem& item)
{
    for (unsigned char*& tpl : item.tpl) {
        delete[] tpl;
        tpl = nullptr;
    }
    freeAccel(item.accel);
}

std::list<accelMatch::GalleryItem>::iterator RealMatcher::findItem(std::uint64_t id)
{
    for (auto it = m_gallery.begin(); it != m_gallery.end(); ++it) {
        if (it->id == id) {
            return it;
        }
    }
    return m_gallery.end();
}

bool RealMatcher::checkDouble(std::uint64_t id)
{
    return findItem(id) != m_gallery.end();
}

void RealMatcher::freeGallery()
{
    for (accelMatch::GalleryItem& item : m_gallery) {
        releaseGalleryItem(item);
    }
    m_gallery.clear();
}

void RealMatcher::releaseGallery()
{
    accelMatch::closeAccelLib(&m_accel);
    freeGallery();
    delete[] m_scratch;
    m_scratch = nullptr;
    ESK::Unwrap::cancel(m_unwrap);
}

int RealMatcher::insertItem(std::uint64_t id, TpTemplate& record)
{
    // 2. Duplicates.
    if (checkDouble(id)) {
        return RESULT_DUPLICATE_ID;
    }
    // 3. The library.
    int r = initAccel_1st_stage(0);
    if (r != RESULT_OK) {
        return r;
    }
    // 4. Every present finger.
    r = check(record);
    if (r != RESULT_OK) {
        return r;
    }
    // 5. Capacity.
    if (m_gallery.size() >= GALLERY_CAPACITY) {
        return RESULT_GALLERY_FULL;
    }
    // 6.-8. Copies, accelerator, the new node.
    accelMatch::GalleryItem item;
    r = createGalleryItem(id, record, item);
    if (r != RESULT_OK) {
        return r;
    }
    try {
        r = calculateAccelerator(item, record);
        if (r == RESULT_OK) {
            m_gallery.push_back(item);
        }
    } catch (const std::bad_alloc&) {
        r = RESULT_NO_MEMORY;
    } catch (...) {
        r = RESULT_EXCEPTION;
    }
    if (r != RESULT_OK) {
        releaseGalleryItem(item);
        return r;
    }
    m_galleryChanged = true;
    return RESULT_OK;
}

int RealMatcher::insertRecord(std::string& id, TpTemplate& record)
{
    try {
        return insertItem(GaParseId(id), record);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    } catch (...) {
        return RESULT_EXCEPTION;
    }
}

int RealMatcher::deleteRecord(std::string& id)
{
    try {
        const auto it = findItem(GaParseId(id));
        if (it == m_gallery.end()) {
            return RESULT_ID_NOT_FOUND;
        }
        releaseGalleryItem(*it);
        m_gallery.erase(it);
        m_galleryChanged = true;
        return RESULT_OK;
    } catch (...) {
        return RESULT_EXCEPTION;
    }
}

int RealMatcher::getFinalGallerySize()
{
    return static_cast<int>(m_gallery.size());
}

int RealMatcher::identifyItems(MatchingParameters& parameters, TpTemplate& probe, unsigned threads,
                               unsigned maxCandidates, std::vector<candidates_string>& candidates)
{
    // 2. Library and final stage.
    int r = initAccelMatching(threads, static_cast<unsigned>(m_gallery.size()));
    if (r != RESULT_OK) {
        return r;
    }
    // 3. The search list.
    accelMatch::RL* list = nullptr;
    if (maxCandidates < 133169153u) {
        list = new (std::nothrow) accelMatch::RL[maxCandidates == 0 ? 1 : maxCandidates];
    }
    if (list == nullptr) {
        return RESULT_NO_MEMORY;
    }
    std::unique_ptr<accelMatch::RL[]> owner(list);
    // 4.-5. The upload of a changed gallery.
    if (m_galleryChanged) {
        const int code = accelMatch::uploadDb(m_accel, m_gallery);
        if (code != accelMatch::ACCEL_OK) {
            return checkAccelMatchResult(static_cast<unsigned>(code));
        }
    }
    m_galleryChanged = false;
    // 6. The search; a matcher that never uploaded a gallery finds nothing.
    accelMatch::AccelSearchParam asp = {static_cast<std::uint32_t>(parameters.searchSpeed),
                                        parameters.maxAngle,
                                        parameters.maxAngleThumbs,
                                        -1,
                                        0,
                                        0,
                                        5,
                                        0,
                                        parameters.matchingMode,
                                        0,
                                        10000};
    const int code =
        accelMatch::completeIdentifyTP(m_accel, asp, probe, list, maxCandidates, nullptr);
    if (code == accelMatch::ACCEL_ERR_NO_GALLERY) {
        return RESULT_OK;
    }
    if (code != accelMatch::ACCEL_OK) {
        return checkAccelMatchResult(static_cast<unsigned>(code));
    }
    // 7. Candidates, best first, up to the first zero score.
    for (unsigned i = 0; i < maxCandidates && list[i].score != 0; ++i) {
        candidates.push_back(
            {std::to_string(list[i].listId), static_cast<float>(list[i].score) / 10000.0f});
    }
    return RESULT_OK;
}

int RealMatcher::identify_record(MatchingParameters& parameters, TpTemplate& probe,
                                 unsigned threads, unsigned maxCandidates,
                                 std::vector<candidates_string>& candidates)
{
    // 1. Written on every path.
    candidates.clear();
    try {
        const int r = identifyItems(parameters, probe, threads, maxCandidates, candidates);
        if (r != RESULT_OK) {
            candidates.clear();
        }
        return r;
    } catch (const std::bad_alloc&) {
        candidates.clear();
        return RESULT_NO_MEMORY;
    } catch (...) {
        candidates.clear();
        return RESULT_EXCEPTION;
    }
}

} // namespace ZelvanFinger
