// Record comparison: probe loading, the positional comparison with its early stops, the slap,
// finger and hand mixes, and one-finger comparison. Finger scores come from the finger
// matchers (one per position); fusion after every counted finger comparison.

#include "search/Compare100_TT.h"

#include "platform/assert.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace accelMatch {
namespace {

// Gallery position compared with each probe position 1..10 (0 = none).
// clang-format off
constexpr int kStraight[10]       = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr int kMirrored[10]       = {1, 10, 9, 8, 7, 6, 5, 4, 3, 2};
constexpr int kFourStraight[10]   = {0, 2, 3, 4, 5, 0, 7, 8, 9, 10};
constexpr int kFourMirrored[10]   = {0, 10, 9, 8, 7, 0, 5, 4, 3, 2};
constexpr int kThumbsStraight[10] = {1, 0, 0, 0, 0, 6, 0, 0, 0, 0};
constexpr int kThumbsSwapped[10]  = {6, 0, 0, 0, 0, 1, 0, 0, 0, 0};
// 0-based gallery finger of positions 2..5 and 7..10 after a mirrored mapping.
constexpr std::uint8_t kMirroredGallery[10] = {0, 9, 8, 7, 6, 0, 4, 3, 2, 1};
// clang-format on

// A mode's comparison result that stops the mode: anything but success and nothing-to-compare.
bool HardFailure(int r)
{
    return r != 0 && r != MA_ERR_NOTHING_TO_COMPARE;
}

// Threshold stop on the fused score: only the threshold averages use the thresholds.
bool ThresholdStop(const SearchParam& sp, const MatchResultTT& res)
{
    if (sp.fusionMethod != FUSION_ASCENDING_THRESHOLD &&
        sp.fusionMethod != FUSION_DESCENDING_THRESHOLD) {
        return false;
    }
    return res.numCompared >= sp.minFingers &&
           (res.score >= sp.highScore || res.score <= sp.lowScore);
}

// Slap-mix choice between a straight and a mirrored result of the four fingers: the mirrored
// one when it scores higher, or as much and not zero.
void TakeBetter(MatchResultTT& straight, const MatchResultTT& mirrored)
{
    if (straight.score > mirrored.score || (straight.score == 0 && mirrored.score == 0)) {
        return;
    }
    straight = mirrored;
    for (int p : {2, 3, 4, 5, 7, 8, 9, 10}) {
        straight.galleryFinger[p - 1] = kMirroredGallery[p - 1];
    }
}

// A matched finger pair of finger mix: probe index, gallery index (0-based), score.
struct PairScore {
    int probe;
    int gallery;
    int score;
};

} // namespace

Compare100_TT::~Compare100_TT()
{
    free();
}

int Compare100_TT::init(void* unused)
{
    if (m_init) {
        return 0;
    }
    int matrix[NUM_NEST_TRANSITIONS * NUM_LINK_SLOTS];
    std::memcpy(matrix, DEFAULT_TRANSITION_MATRIX, sizeof matrix);
    return initEx(unused, matrix);
}

int Compare100_TT::initEx(void* /*unused*/, int* matrix)
{
    if (m_init) {
        return 0;
    }
    if (matrix == nullptr) {
        return MA_ERR_NULL;
    }
    // Every entry names a link slot 0..34 or none (-1).
    const int count = NUM_NEST_TRANSITIONS * NUM_LINK_SLOTS;
    if (std::any_of(matrix, matrix + count, [](int v) { return v < -1 || v >= NUM_LINK_SLOTS; })) {
        return MA_ERR_NULL;
    }
    std::memcpy(TransitionMatrix, matrix, sizeof TransitionMatrix);
    const int r = alloc();
    if (r != 0) {
        return r;
    }
    m_loaded = false;
    std::fill(m_probeLoaded, m_probeLoaded + 10, false);
    m_init = true;
    return 0;
}

int Compare100_TT::alloc()
{
    free();
    try {
        m_matcher = new (std::nothrow) Matcher100[10];
    } catch (int code) {
        return code;
    } catch (...) {
        return MA_ERR_MEMORY;
    }
    m_fs = new (std::nothrow) Fs;
    if (m_fs == nullptr) {
        return MA_ERR_MEMORY;
    }
    return m_matcher != nullptr ? 0 : MA_ERR_MEMORY;
}

void Compare100_TT::free()
{
    delete[] m_matcher;
    m_matcher = nullptr;
    delete m_fs;
    m_fs = nullptr;
}

bool Compare100_TT::checkSearchParam(SearchParam& sp)
{
    return isSearchParamValid(sp) && sp.fusionMethod >= FUSION_RANK_WEIGHTS &&
           sp.fusionMethod <= FUSION_DESCENDING_THRESHOLD;
}

int Compare100_TT::angleLimit(const SearchParam& sp, int position)
{
    return position == 1 || position == 6 ? sp.maxAngleThumbs : sp.maxAngle;
}

bool Compare100_TT::probeReady(int position) const
{
    return position >= 1 && position <= 10 && m_probeLoaded[position - 1];
}

void Compare100_TT::pairing(const int* table, TpTemplate& gallery, TemplateData* td)
{
    for (int i = 0; i < 10; ++i) {
        td[i] = table[i] == 0 ? TemplateData{0, nullptr}
                              : TemplateData{i + 1, gallery.finger[table[i] - 1]};
    }
}

int Compare100_TT::loadProbeFinger(int position, unsigned char* tpl, FP_TYPE type,
                                   unsigned char* area, int width, int height)
{
    return m_matcher[position - 1].loadTemplate(true, tpl, type, area, width, height);
}

int Compare100_TT::matchGalleryFinger(int position, unsigned char* tpl, FP_TYPE type, int maxAngle,
                                      int speed, MatchResult& r)
{
    Matcher100& m = m_matcher[position - 1];
    const int loaded = m.loadTemplate(false, tpl, type, nullptr, 0, 0);
    if (loaded != 0) {
        return loaded;
    }
    return m.match(r, maxAngle, speed, false, nullptr, nullptr, 0, false);
}

int Compare100_TT::loadTT(TpTemplate& probe, FP_TYPE type, unsigned char** areas, int* widths,
                          int* heights)
{
    // 1. Unloaded until the load succeeds.
    m_loaded = false;
    std::fill(m_probeLoaded, m_probeLoaded + 10, false);
    if (!m_init || m_matcher == nullptr || m_fs == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    TemplateData list[10];
    int present = 0;
    int loaded = 0;
    int lastError = 0;
    try {
        // 2. Every position is tried whatever fails.
        for (int p = 1; p <= 10; ++p) {
            unsigned char* tpl = probe.finger[p - 1];
            list[p - 1] = {p, tpl};
            if (tpl == nullptr) {
                continue;
            }
            ++present;
            const int r = loadProbeFinger(p, tpl, type, areas != nullptr ? areas[p - 1] : nullptr,
                                          widths != nullptr ? widths[p - 1] : 0,
                                          heights != nullptr ? heights[p - 1] : 0);
            if (r != 0) {
                lastError = r;
            } else {
                m_probeLoaded[p - 1] = true;
                ++loaded;
            }
        }
    } catch (...) {
        std::fill(m_probeLoaded, m_probeLoaded + 10, false);
        return MA_ERR_EXCEPTION;
    }
    // 3. Nothing present, or nothing usable.
    if (present == 0) {
        return MA_ERR_NOTHING_TO_COMPARE;
    }
    if (loaded == 0) {
        return lastError;
    }
    // 4. Probe qualities, rejected fingers included.
    const int r = m_fs->loadTemplate1(10, list);
    if (r != 0) {
        return r;
    }
    // 5. Loaded; say so when some fingers were rejected.
    m_loaded = true;
    return loaded == present ? 0 : MA_ERR_PROBE_PARTLY_LOADED;
}

int Compare100_TT::matchTTEx(SearchParam& sp, TpTemplate& gallery, MatchResultTT& res, FP_TYPE type)
{
    if (!checkSearchParam(sp)) {
        return MA_ERR_SEARCH_PARAM;
    }
    if (!m_init || m_matcher == nullptr || m_fs == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    if (!m_loaded) {
        return MA_ERR_PROBE_NOT_LOADED;
    }
    try {
        TemplateData straight[10];
        switch (sp.matchingMode) {
        case MM_SLAP_MIX:
            return slapMixMatchTTex(sp, gallery, type, res);
        case MM_HAND_MIX:
            return handMixMatchTTex(sp, gallery, type, res);
        case MM_FINGER_MIX:
            pairing(kStraight, gallery, straight);
            return fingerMixMatchTTex(sp, straight, type, res);
        default:
            pairing(kStraight, gallery, straight);
            return compareTT(sp, straight, res, type);
        }
    } catch (int code) {
        return code;
    } catch (...) {
        return MA_ERR_EXCEPTION;
    }
}

int Compare100_TT::compareTT(SearchParam& sp, TemplateData* td, MatchResultTT& res, FP_TYPE type)
{
    ZF_ASSERT(m_init && m_matcher && m_fs);
    // 1. Gallery qualities.
    res.clear();
    int r = m_fs->loadTemplate2(10, td);
    if (r != 0) {
        return r;
    }
    // 2. Comparison order.
    unsigned order[10];
    const unsigned n = m_fs->getBestPairs(order, sp.matchingMode);
    if (n == 0) {
        return MA_ERR_NOTHING_TO_COMPARE;
    }
    // 3. Each position of the order with a gallery finger and a usable probe finger.
    MatchResult local = {};
    for (unsigned i = 0; i < n; ++i) {
        const int p = static_cast<int>(order[i]);
        if (p < 1 || p > 10 || td[p - 1].tpl == nullptr || !probeReady(p)) {
            continue;
        }
        r = matchGalleryFinger(p, td[p - 1].tpl, type, angleLimit(sp, p), sp.matcherSpeed, local);
        if (r != 0) {
            return r;
        }
        // 4. Count and fuse.
        if (local.score != 0) {
            res.fingerScore[p - 1] = local.score;
            res.galleryFinger[p - 1] = static_cast<std::uint8_t>(p - 1);
        }
        ++res.numCompared;
        res.score = calcFusionScore(sp, 10, res.numCompared, res.fingerScore);
        // 5. Early stops.
        if (res.numCompared >= sp.maxFingers || ThresholdStop(sp, res)) {
            break;
        }
    }
    return 0;
}

int Compare100_TT::slapMixMatchTTex(SearchParam& sp, TpTemplate& gallery, FP_TYPE type,
                                    MatchResultTT& res)
{
    TemplateData td[10];
    // 1. Straight.
    pairing(kStraight, gallery, td);
    const int a = compareTT(sp, td, res, type);
    if (HardFailure(a)) {
        return a;
    }
    // 2. The four fingers of each hand mirrored.
    MatchResultTT mirrored;
    pairing(kMirrored, gallery, td);
    const int b = compareTT(sp, td, mirrored, type);
    if (HardFailure(b)) {
        return b;
    }
    // 3. Neither compared anything.
    if (a != 0 && b != 0) {
        return MA_ERR_NOTHING_TO_COMPARE;
    }
    // 4. The better mapping.
    TakeBetter(res, mirrored);
    return 0;
}

int Compare100_TT::handMixMatchTTex(SearchParam& sp, TpTemplate& gallery, FP_TYPE type,
                                    MatchResultTT& res)
{
    TemplateData td[10];
    // 1. The four fingers straight and mirrored.
    pairing(kFourStraight, gallery, td);
    const int a = compareTT(sp, td, res, type);
    if (HardFailure(a)) {
        return a;
    }
    MatchResultTT mirrored;
    pairing(kFourMirrored, gallery, td);
    const int b = compareTT(sp, td, mirrored, type);
    if (HardFailure(b)) {
        return b;
    }
    const bool none = a != 0 && b != 0;
    // 2. The better of the two.
    TakeBetter(res, mirrored);
    // 3. Early stops on the four fingers.
    if (!none && (res.numCompared >= sp.maxFingers || ThresholdStop(sp, res))) {
        return 0;
    }
    // 4. The thumbs straight and swapped.
    MatchResultTT straightThumbs;
    pairing(kThumbsStraight, gallery, td);
    const int c = compareTT(sp, td, straightThumbs, type);
    if (HardFailure(c)) {
        return c;
    }
    MatchResultTT swappedThumbs;
    pairing(kThumbsSwapped, gallery, td);
    const int d = compareTT(sp, td, swappedThumbs, type);
    if (HardFailure(d)) {
        return d;
    }
    // 5. Nothing compared at all.
    if (none && c != 0 && d != 0) {
        return MA_ERR_NOTHING_TO_COMPARE;
    }
    // 6. The better thumbs join the fingers' result.
    const bool straight = straightThumbs.score > swappedThumbs.score ||
                          (straightThumbs.score == 0 && swappedThumbs.score == 0);
    const MatchResultTT& thumbs = straight ? straightThumbs : swappedThumbs;
    res.galleryFinger[0] = straight ? 0 : 5;
    res.galleryFinger[5] = straight ? 5 : 0;
    res.fingerScore[0] = thumbs.fingerScore[0];
    res.fingerScore[5] = thumbs.fingerScore[5];
    res.numCompared += thumbs.numCompared;
    res.score = calcFusionScore(sp, 10, res.numCompared, res.fingerScore);
    return 0;
}

int Compare100_TT::fingerMixMatchTTex(SearchParam& sp, TemplateData* td, FP_TYPE type,
                                      MatchResultTT& res)
{
    ZF_ASSERT(m_init && m_matcher && m_fs);
    // 1. Gallery fingers and the probe order.
    res.clear();
    if (!m_loaded) {
        return MA_ERR_PROBE_NOT_LOADED;
    }
    unsigned g = 0;
    for (int k = 0; k < 10; ++k) {
        g += td[k].tpl != nullptr ? 1 : 0;
    }
    int r = m_fs->loadTemplate2(10, td);
    if (r != 0) {
        return r;
    }
    unsigned order[10];
    const unsigned n = m_fs->getBestPairs(order, MM_FINGER_MIX);
    if (g == 0 || n == 0) {
        return MA_ERR_NOTHING_TO_COMPARE;
    }
    // 2. Scores of every probe / gallery finger pair that matched.
    MatchResult local = {};
    PairScore pairs[100];
    int numPairs = 0;
    // 3. Every probe finger of the order against every gallery finger.
    for (unsigned i = 0; i < n; ++i) {
        const int p = static_cast<int>(order[i]);
        if (p < 1 || p > 10 || !probeReady(p)) {
            continue;
        }
        bool compared = false;
        for (int k = 0; k < 10; ++k) {
            if (td[k].tpl == nullptr) {
                continue;
            }
            r = matchGalleryFinger(p, td[k].tpl, type, angleLimit(sp, p), sp.matcherSpeed, local);
            if (r != 0) {
                return r;
            }
            compared = true;
            if (local.score != 0) {
                ZF_ASSERT(numPairs < 100);
                pairs[numPairs++] = {p - 1, k, local.score};
            }
        }
        // 4. Count, then assign greedily from the best pair; a taken pair's probe and gallery
        // fingers are struck from the list for good.
        if (compared) {
            ++res.numCompared;
        }
        res.numCompared = std::min(res.numCompared, g);
        std::fill(res.fingerScore, res.fingerScore + 10, 0);
        std::fill(res.galleryFinger, res.galleryFinger + 10, NO_GALLERY_FINGER);
        std::stable_sort(pairs, pairs + numPairs,
                         [](const PairScore& x, const PairScore& y) { return x.score > y.score; });
        for (int t = 0; t < numPairs; ++t) {
            if (pairs[t].score == 0) {
                continue;
            }
            res.fingerScore[pairs[t].probe] = pairs[t].score;
            res.galleryFinger[pairs[t].probe] = static_cast<std::uint8_t>(pairs[t].gallery);
            for (int u = t + 1; u < numPairs; ++u) {
                if (pairs[u].probe == pairs[t].probe || pairs[u].gallery == pairs[t].gallery) {
                    pairs[u].score = 0;
                }
            }
        }
        res.score = calcFusionScore(sp, 10, res.numCompared, res.fingerScore);
    }
    return 0;
}

int Compare100_TT::matchEx(SearchParam& sp, unsigned char* tpl, int& score, FINGERS finger,
                           MatchResult* out, FP_TYPE type, bool accelMode, unsigned char* accelP,
                           unsigned char* accelG, unsigned char numAccel, bool quick)
{
    if (!checkSearchParam(sp)) {
        return MA_ERR_SEARCH_PARAM;
    }
    if (!m_init || m_matcher == nullptr) {
        return MA_ERR_NOT_INIT;
    }
    if (tpl == nullptr) {
        return MA_ERR_NULL;
    }
    const int p = static_cast<int>(finger);
    if (p < 1 || p > 10) {
        return MA_ERR_FINGER_POSITION;
    }
    score = 0;
    if (out != nullptr) {
        std::memset(out, 0, sizeof *out);
        out->fingerP = static_cast<std::uint32_t>(p);
        out->fingerG = static_cast<std::uint32_t>(p);
    }
    if (!probeReady(p)) {
        return MA_ERR_PROBE_NOT_LOADED;
    }
    try {
        Matcher100& m = m_matcher[p - 1];
        const int loaded = m.loadTemplate(false, tpl, type, nullptr, 0, 0);
        if (loaded != 0) {
            return loaded;
        }
        MatchResult local = {};
        if (m.match(local, angleLimit(sp, p), sp.matcherSpeed, accelMode, accelP, accelG, numAccel,
                    quick) != 0) {
            score = 0;
            return MA_ERR_MATCH_FAILED;
        }
        score = local.score;
        if (out != nullptr) {
            *out = local;
        }
        return 0;
    } catch (int code) {
        return code;
    } catch (...) {
        return MA_ERR_EXCEPTION;
    }
}

} // namespace accelMatch
