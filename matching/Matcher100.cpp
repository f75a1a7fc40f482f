// The matcher object: construction of its fixed tables, the parameter setter, and loading of
// one side from a finger template (validation, record copy, singular points, area mask,
// minutiae with their links, pair lengths and directions, nest signatures). Loading returns
// 0 or a -4xx code; construction throws MA_ERR_MEMORY.

#include "matching/Matcher100.h"

#include <cstring>
#include <new>

namespace accelMatch {
namespace {

constexpr int INITIAL_MINUTIAE = 510;
constexpr int MIN_ROTATION_LIMIT = 40;
constexpr int MAX_ROTATION_LIMIT = 180;
constexpr int MAX_IMAGE_SIDE = 4096;
constexpr int MAX_AREA_SIDE = 0xFFFF;
constexpr int WIDE_BIT = 0x40;
constexpr int HALVE_BIT = 0x80;
constexpr int QUALITY_MASK = 63;
constexpr int TYPE1_SHIFT = 5; // pixels a type-1 minutia moves against its direction

// Replaces a per-side array by one of n entries; false when it cannot be allocated.
template <typename T> bool MaRealloc(T*& p, int n)
{
    delete[] p;
    p = new (std::nothrow) T[n];
    return p != nullptr;
}

} // namespace

Matcher100::Matcher100()
{
    // 1. Pair arrays of the groups (their own sets free them if a later one fails), then the
    // scratch hit lists.
    for (int k = 0; k < NUM_GROUPS; ++k) {
        m_kernelGroups[k].m_pair.alloc();
        m_expandGroups[k].m_pair.alloc();
    }
    std::memset(m_nestCompare, 0, sizeof m_nestCompare);
    for (auto& list : m_hitLists) {
        list = new (std::nothrow) HitItem[MAX_NESTS];
        if (list != nullptr) {
            for (int k = 0; k < MAX_NESTS; ++k) {
                list[k] = EMPTY_HIT_ITEM;
            }
        }
    }
    m_scratchHit.m_items = m_hitLists[0];
    m_scratchHit.m_maxItems = MAX_NESTS;
    for (Transition t = 0; t < NUM_CACHED_TRANSITIONS; ++t) {
        m_emptyHits[t].m_transition = t;
    }

    // 2. Parameters and the distance tolerances (filled by the first matcher only).
    setParameters(50, 0);
    fillDistTolTab();

    // 3-5. Reader, area buffers, minutia arrays.
    m_unwrap = ESK::Unwrap::create();
    if (m_unwrap != nullptr) {
        m_unwrap->versor(ESK::ESK_ACCESS_CODE);
        m_unwrap->factor(false);
    }
    const bool ok = m_hitLists[0] != nullptr && m_hitLists[1] != nullptr &&
                    m_hitLists[2] != nullptr && m_unwrap != nullptr && allocArea() &&
                    reallocMinutiae(true, INITIAL_MINUTIAE) &&
                    reallocMinutiae(false, INITIAL_MINUTIAE);
    if (!ok) {
        releaseAll();
        throw MA_ERR_MEMORY;
    }

    // 6. Tolerances, empty cache cells, switches.
    for (int k = 0; k < NUM_GROUPS; ++k) {
        bindGroup(&m_kernelGroups[k]);
        bindGroup(&m_expandGroups[k]);
    }
    clearNestCompareCells(MAX_NESTS, MAX_NESTS);
    m_quadrantCheck = false;
    m_replacement = false;
    m_transitionLimit = 0;
}

Matcher100::~Matcher100()
{
    releaseAll();
}

void Matcher100::releaseAll()
{
    ESK::Unwrap::cancel(m_unwrap);
    for (ESK::Sign** p : {&m_minutiaeP, &m_minutiaeG}) {
        delete[] * p;
        *p = nullptr;
    }
    for (ESK::Link** p : {&m_linksP, &m_linksG}) {
        delete[] * p;
        *p = nullptr;
    }
    for (MinutiaeShort** p : {&m_carriedP, &m_carriedG}) {
        delete[] * p;
        *p = nullptr;
    }
    for (std::uint16_t** p : {&m_qualityWeightP, &m_qualityWeightG}) {
        delete[] * p;
        *p = nullptr;
    }
    freeNestAccel(m_accelP);
    freeNestAccel(m_accelG);
    delete[] m_ownAreaP;
    delete[] m_ownAreaG;
    m_ownAreaP = nullptr;
    m_ownAreaG = nullptr;
    for (auto& list : m_hitLists) {
        delete[] list;
        list = nullptr;
    }
    m_scratchHit.m_items = nullptr;
    m_scratchHit.m_maxItems = 0;
    for (auto& row : m_nestCompare) {
        for (NestCompareResult& cell : row) {
            for (HitGroup*& g : cell.groups) {
                g = nullptr;
            }
        }
    }
    m_hitStore.clear();
    m_capacityP = 0;
    m_capacityG = 0;
}

void Matcher100::setParameters(int maxAngle, int speed)
{
    m_maxAngle = maxAngle < MIN_ROTATION_LIMIT
                     ? MIN_ROTATION_LIMIT
                     : (maxAngle > MAX_ROTATION_LIMIT ? MAX_ROTATION_LIMIT : maxAngle);
    // The speed tables have rows 0..3: a negative level is the full search.
    m_speed = speed < 0 ? 0 : (speed < 4 ? speed : 3);
}

void Matcher100::setDistErrorLevel(int level)
{
    ZF_ASSERT(level >= 0 && level < MAX_ERROR_LEVEL);
    m_errorLevel = level;
}

int Matcher100::getDistTol(int errorLevel, int d) const
{
    ZF_ASSERT(errorLevel >= 0 && errorLevel < MAX_ERROR_LEVEL);
    return distTol(errorLevel, d);
}

void Matcher100::bindGroup(GroupEx* g)
{
    g->m_minutiaeP = m_minutiaeP;
    g->m_minutiaeG = m_minutiaeG;
    g->m_pairSetP = &m_pairSetP;
    g->m_pairSetG = &m_pairSetG;
    g->m_wideP = m_wideP;
    g->m_wideG = m_wideG;
    g->m_distUnit = m_distUnit;
    g->m_minAngleTol = m_minAngleTol;
    g->m_minAngleTolWide = m_minAngleTolWide;
    g->m_dirTol = m_dirTolBase;
}

void Matcher100::clearNestCompareCells(int numP, int numG)
{
    // The store takes every group back. Cells beyond the cleared ones are not read before a
    // later clearing covers them. The slot maps follow the match's transition matrix.
    m_hitStore.clear();
    refreshSlotMaps();
    const auto empty = [](NestCompareResult& cell) {
        if (cell.computed != 0) { // only a computed cell holds groups
            for (HitGroup*& g : cell.groups) {
                g = nullptr;
            }
        }
        cell.bestSim = 0;
        cell.rotation = 0;
        cell.bestTransition = TR_NONE;
        cell.computed = 0;
    };
    if (m_cellsSwept) {
        // Every other cell is still empty.
        for (std::uint32_t k = 0; k < m_numTouchedCells; ++k) {
            empty(m_nestCompare[m_touchedCells[k] / MAX_NESTS][m_touchedCells[k] % MAX_NESTS]);
        }
    } else {
        for (int i = 0; i < numP; ++i) {
            for (int j = 0; j < numG; ++j) {
                empty(m_nestCompare[i][j]);
            }
        }
        m_cellsSwept = numP >= MAX_NESTS && numG >= MAX_NESTS;
    }
    m_numTouchedCells = 0;
    for (int i = 0; i < numP && numG > 0; ++i) {
        std::memset(m_accelSim[i], 0, static_cast<std::size_t>(numG));
    }
}

bool Matcher100::allocArea()
{
    if (m_ownAreaP == nullptr) {
        m_ownAreaP = new (std::nothrow) unsigned char[MAX_AREA_CELLS];
    }
    if (m_ownAreaG == nullptr) {
        m_ownAreaG = new (std::nothrow) unsigned char[MAX_AREA_CELLS];
    }
    return m_ownAreaP != nullptr && m_ownAreaG != nullptr;
}

bool Matcher100::reallocMinutiae(bool isP, int n)
{
    int& capacity = isP ? m_capacityP : m_capacityG;
    if (n < capacity) {
        return true;
    }
    int grown = capacity;
    while (grown < n) {
        grown += MINUTIAE_CAPACITY_STEP;
    }
    bool ok = MaRealloc(isP ? m_minutiaeP : m_minutiaeG, grown);
    ok = MaRealloc(isP ? m_linksP : m_linksG, grown) && ok;
    ok = MaRealloc(isP ? m_carriedP : m_carriedG, grown) && ok;
    ok = MaRealloc(isP ? m_qualityWeightP : m_qualityWeightG, grown) && ok;
    ok = allocNestAccel(isP ? m_accelP : m_accelG, static_cast<unsigned>(grown)) != nullptr && ok;
    capacity = ok ? grown : 0;
    return ok;
}

bool Matcher100::validateTemplate(const unsigned char* tpl, unsigned char& quality,
                                  unsigned short& width, unsigned short& height)
{
    const unsigned char* rec = tpl + TF_PREFIX_SIZE;
    quality = m_unwrap->qualit(rec);
    if (quality > 100) {
        return false;
    }
    width = m_unwrap->size_x(rec);
    height = m_unwrap->size_y(rec);
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) {
        return false;
    }
    const unsigned layout = m_unwrap->versor(rec);
    if (layout != 72 && layout != 73 && layout != 110 && layout != 130) {
        return false;
    }
    return m_unwrap->verify(rec) && m_unwrap->defend(rec);
}

int Matcher100::loadTemplate(bool isP, unsigned char* tpl, FP_TYPE type, unsigned char* area, int w,
                             int h)
{
    const int code = loadSide(isP, tpl, type, area, w, h);
    if (code != 0) {
        // A refused side keeps no minutiae: nothing half-loaded can be compared.
        (isP ? m_numNestP : m_numNestG) = 0;
    }
    return code;
}

int Matcher100::loadSide(bool isP, unsigned char* tpl, FP_TYPE type, unsigned char* area, int w,
                         int h)
{
    // Answers kept for the side's earlier load no longer hold; after 255 loads the marks are
    // cleared before they repeat.
    UnreliableLinks& u = m_unreliableLinks[isP ? 0 : 1];
    if (++u.loadStamp == 0) {
        std::memset(u.load, 0, sizeof u.load);
        u.loadStamp = 1;
    }
    try {
        // 1. Argument and kind.
        if (tpl == nullptr) {
            return MA_ERR_NULL;
        }
        const int bad = isP ? MA_ERR_BAD_PROBE : MA_ERR_BAD_GALLERY;
        (isP ? m_typeP : m_typeG) = type;

        // 2. Validation. The buffer holds the prefix's total length: a record claiming another
        // length would send the checks past its end.
        if (TfRead32(tpl + TF_PREFIX_TOTAL_LENGTH) !=
            static_cast<std::uint64_t>(m_unwrap->length(tpl + TF_PREFIX_SIZE)) + TF_PREFIX_SIZE) {
            return bad;
        }
        unsigned char quality = 0;
        unsigned short width = 0;
        unsigned short height = 0;
        if (!validateTemplate(tpl, quality, width, height)) {
            return bad;
        }
        (isP ? m_qualityP : m_qualityG) = quality;
        (isP ? m_widthP : m_widthG) = width;
        (isP ? m_heightP : m_heightG) = height;

        // 3. The record copy.
        const std::uint32_t length = m_unwrap->length(tpl + TF_PREFIX_SIZE);
        if (length > MAX_RECORD_COPY - TF_PREFIX_SIZE) {
            return bad;
        }
        unsigned char* copy = isP ? m_recordP : m_recordG;
        std::memcpy(copy, tpl, length + TF_PREFIX_SIZE);
        unsigned char* rec = copy + TF_PREFIX_SIZE;
        (isP ? m_densityP : m_densityG) = m_unwrap->densit(rec);

        // 4-8. Singular points, area, minutiae, pair set, nest signatures.
        loadSingular(isP);
        loadArea(isP, rec, area, w, h);
        loadMinutiae(isP, copy);
        rebuildSide(isP);

        // 9. The distance unit follows the probe's ridge density; the groups follow the
        // side's arrays, which loading may have moved.
        if (isP) {
            m_distUnit = m_densityP / 8;
        }
        for (int k = 0; k < NUM_GROUPS; ++k) {
            bindGroup(&m_kernelGroups[k]);
            bindGroup(&m_expandGroups[k]);
        }
        return 0;
    } catch (int code) {
        return code;
    } catch (...) {
        return MA_ERR_EXCEPTION;
    }
}

void Matcher100::loadSingular(bool isP)
{
    const unsigned char* rec = (isP ? m_recordP : m_recordG) + TF_PREFIX_SIZE;
    // The scratch list holds 64 points: a record announcing more is damaged.
    if (m_unwrap->idmain(rec) > MAX_SINGULAR_DECODED) {
        throw isP ? MA_ERR_BAD_PROBE : MA_ERR_BAD_GALLERY;
    }
    ESK::Sign scratch[MAX_SINGULAR_DECODED];
    const unsigned n = m_unwrap->demain(scratch, rec);
    const int kept = n < MAX_SINGULAR ? static_cast<int>(n) : MAX_SINGULAR;
    std::memcpy(isP ? m_singularP : m_singularG, scratch, sizeof(ESK::Sign) * kept);
    (isP ? m_numSingularP : m_numSingularG) = kept;
}

void Matcher100::loadArea(bool isP, unsigned char* record, unsigned char* area, int w, int h)
{
    const int bad = isP ? MA_ERR_BAD_PROBE : MA_ERR_BAD_GALLERY;
    unsigned char*& inUse = isP ? m_areaP : m_areaG;
    std::uint16_t& areaWidth = isP ? m_areaWidthP : m_areaWidthG;
    std::uint16_t& areaHeight = isP ? m_areaHeightP : m_areaHeightG;
    if (area != nullptr) {
        // A caller's mask must fit the buffers every reader of a mask assumes.
        if (w < 1 || h < 1 || w > MAX_AREA_SIDE || h > MAX_AREA_SIDE ||
            static_cast<std::int64_t>(w) * h > MAX_AREA_CELLS) {
            throw bad;
        }
        inUse = area;
        areaWidth = static_cast<std::uint16_t>(w);
        areaHeight = static_cast<std::uint16_t>(h);
        return;
    }
    unsigned char* own = isP ? m_ownAreaP : m_ownAreaG;
    ZF_ASSERT(own);
    inUse = own;
    const unsigned v = m_unwrap->dearea(own, record);
    if (v == 0) {
        throw bad;
    }
    areaWidth = static_cast<std::uint16_t>(v & 0xFFFF);
    areaHeight = static_cast<std::uint16_t>(v >> 16);
}

void Matcher100::loadMinutiae(bool isP, unsigned char* tpl)
{
    ZF_ASSERT(m_unwrap);
    const int bad = isP ? MA_ERR_BAD_PROBE : MA_ERR_BAD_GALLERY;
    const unsigned char* rec = tpl + TF_PREFIX_SIZE;
    const unsigned n = m_unwrap->idnova(rec);
    if (n > 0xFFFF) {
        throw bad;
    }
    if (!reallocMinutiae(isP, static_cast<int>(n))) {
        throw MA_ERR_MEMORY;
    }
    ESK::Sign* minutiae = isP ? m_minutiaeP : m_minutiaeG;
    ESK::Link* links = isP ? m_linksP : m_linksG;
    if (m_unwrap->denova(minutiae, rec) != n ||
        m_unwrap->denest(links, minutiae, static_cast<unsigned short>(n), rec) != n) {
        throw bad;
    }
    const int count = n < MAX_NESTS ? static_cast<int>(n) : MAX_NESTS;
    (isP ? m_numNestP : m_numNestG) = count;
    (isP ? m_patternMaskP : m_patternMaskG) = m_unwrap->immask(rec);
    std::uint16_t* weights = isP ? m_qualityWeightP : m_qualityWeightG;
    std::uint8_t* wide = isP ? m_wideP : m_wideG;
    for (int i = 0; i < count; ++i) {
        ESK::Sign& m = minutiae[i];
        const int q = m.quality;
        weights[i] = static_cast<std::uint16_t>((q & HALVE_BIT) != 0 ? (q & QUALITY_MASK) >> 1
                                                                     : (q & QUALITY_MASK));
        wide[i] = (q & WIDE_BIT) != 0 ? 1 : 0;
        if (m.type == 1) {
            // Ridge endings sit a little back along their ridge.
            const int a = wrap180(m.angle - 180);
            m.x = static_cast<short>(m.x + round8192(TYPE1_SHIFT * cos8192(a)));
            m.y = static_cast<short>(m.y + round8192(TYPE1_SHIFT * sin8192(a)));
        }
    }
}

void Matcher100::rebuildSide(bool isP)
{
    const int count = isP ? m_numNestP : m_numNestG;
    MinutiaePairSet& pairs = isP ? m_pairSetP : m_pairSetG;
    pairs.build(isP ? m_minutiaeP : m_minutiaeG, count);
    buildLinkTables(isP);
}

} // namespace accelMatch
