// Gallery upload and coarse search: the upload keeps pointers into the caller's gallery items;
// the probe's finger blocks are built once per search; every uploaded record is compared with
// the probe finger pair by finger pair (which pairs and how many by the pairing mode and the
// speed row) and the fused scores rank the gallery, best first. Answers 0 or ACCEL_ERR_*.

#include "search/AccelLib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

namespace accelMatch {
namespace {

constexpr int PD_CLASS = 0;
constexpr int PD_ATTRIBUTE = 1;
constexpr int PD_RIGHT_HAND = 3; // positions 7 to 10
constexpr int PD_LEFT_HAND = 4;  // positions 2 to 5
constexpr int PD_THUMBS = 5;

const std::uint8_t* AcBytes(const PersonalData* pd)
{
    return reinterpret_cast<const std::uint8_t*>(pd);
}

bool AcGiven(const std::uint8_t* pd)
{
    for (int i = 0; i < 16; ++i) {
        if (pd[i] != 0) {
            return true;
        }
    }
    return false;
}

AccelData* AcOpen(void* handle, int& code)
{
    AccelData* data = static_cast<AccelData*>(handle);
    code = data == nullptr ? ACCEL_ERR_NULL : (data->open == 0 ? ACCEL_ERR_NOT_OPEN : ACCEL_OK);
    return code == ACCEL_OK ? data : nullptr;
}

// A gallery block the comparison can read without leaving it: the non-strict rule plus nest
// minutiae and item directions within range.
bool AcBlockReadable(unsigned char* block)
{
    return checkOneFingerAccel(block, false) && accelIndicesInRange(block);
}

void AcFreeUpload(AccelData* data)
{
    delete[] data->ids;
    delete[] data->accels;
    delete[] data->tpls;
    data->ids = nullptr;
    data->accels = nullptr;
    data->tpls = nullptr;
    data->count = 0;
}

// Adds gallery finger gf to probe finger record r unless it is there already.
void AcAddCandidate(FingerPairs& r, int gf, const TpAccel& gallery)
{
    for (unsigned c = 0; c < r.count; ++c) {
        if (r.cand[c].galleryFinger == gf) {
            return;
        }
    }
    if (r.count >= 10) {
        return;
    }
    FingerCandidate& c = r.cand[r.count++];
    c = FingerCandidate{};
    c.galleryFinger = static_cast<std::uint8_t>(gf);
    r.usable = std::min<std::uint8_t>(r.usable, gallery.finger[gf][FA_USABLE]);
}

// Extra pairs of a four-finger hand (first position `first`, 1-based) at shifted positions.
void AcHandPairs(AccelData* data, const TpAccel& gallery, FingerPairsSet& set, int first,
                 int flagByte, const std::uint8_t* pdP, const std::uint8_t* pdG)
{
    if (pdP[flagByte] == 0 && pdG[flagByte] == 0) {
        return;
    }
    int lo[2][4] = {};
    int hi[2][4] = {};
    bool has[2][4] = {};
    for (int side = 0; side < 2; ++side) {
        int c = 0;
        for (int i = 0; i < 4; ++i) {
            has[side][i] = side == 0 ? data->probe[first - 1 + i].present != nullptr
                                     : gallery.finger[first - 1 + i] != nullptr;
            c += has[side][i] ? 1 : 0;
        }
        if (c == 0) {
            return;
        }
        const bool shiftable = ((side == 0 ? pdP : pdG)[flagByte] & 1) != 0 && c <= 3;
        int k = 0;
        for (int i = 0; i < 4; ++i) {
            if (!has[side][i]) {
                continue;
            }
            lo[side][i] = shiftable ? k : i;
            hi[side][i] = shiftable ? 4 - c + k : i;
            ++k;
        }
    }
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            if (has[0][i] && has[1][j] &&
                std::max(lo[0][i], lo[1][j]) <= std::min(hi[0][i], hi[1][j])) {
                AcAddCandidate(set.rec[first - 1 + i], first - 1 + j, gallery);
            }
        }
    }
}

// Thumb cross pairs.
void AcThumbPairs(AccelData* data, const TpAccel& gallery, FingerPairsSet& set,
                  const std::uint8_t* pdP, const std::uint8_t* pdG)
{
    const bool pT[2] = {data->probe[0].present != nullptr, data->probe[5].present != nullptr};
    const bool gT[2] = {gallery.finger[0] != nullptr, gallery.finger[5] != nullptr};
    const bool oneP = pT[0] != pT[1] && (pdP[PD_THUMBS] & 1) != 0;
    const bool oneG = gT[0] != gT[1] && (pdG[PD_THUMBS] & 1) != 0;
    if (!oneP && !oneG) {
        return;
    }
    for (int t = 0; t < 2; ++t) {
        const int other = t == 0 ? 5 : 0;
        if (pT[t] && gT[other == 5 ? 1 : 0]) {
            AcAddCandidate(set.rec[t == 0 ? 0 : 5], other, gallery);
        }
    }
}

// Builds the pair records of the probe against gallery and returns the number of records to
// compare; loads the matching speed row into `row`.
int getFingerPairs(AccelData* data, AccelSearchParam& param, const TpAccel& gallery,
                   FingerPairsSet& set, int limit, std::uint32_t* row)
{
    for (int k = 0; k < 10; ++k) {
        FingerPairs& r = set.rec[k];
        r.probeFinger = static_cast<std::uint8_t>(k);
        r.count = 0;
        r.best = 0;
        r.key = 0;
        r.usable = data->probe[k].present != nullptr ? data->probe[k].accel[FA_USABLE] : 0;
        set.order[k] = &r;
    }
    const int mode = param.matchingMode;
    for (int k = 0; k < 10; ++k) {
        if (data->probe[k].present == nullptr) {
            continue;
        }
        FingerPairs& r = set.rec[k];
        if (gallery.finger[k] != nullptr && mode >= 0 && mode <= 3) {
            AcAddCandidate(r, k, gallery);
        }
        if (mode == MM_FINGER_MIX) {
            for (int j = 0; j < 10; ++j) {
                if (j != k && gallery.finger[j] != nullptr) {
                    AcAddCandidate(r, j, gallery);
                }
            }
        } else if (mode == MM_SLAP_MIX || mode == MM_HAND_MIX) {
            const int position = k + 1;
            int mirror = 0;
            if (position >= 2 && position <= 5) {
                mirror = 12 - position;
            } else if (position >= 7 && position <= 10) {
                mirror = 12 - position;
            } else if (mode == MM_HAND_MIX) {
                mirror = position == 1 ? 6 : 1;
            }
            if (mirror != 0 && gallery.finger[mirror - 1] != nullptr) {
                AcAddCandidate(r, mirror - 1, gallery);
            }
        }
    }
    const std::uint8_t* pdP = AcBytes(&data->personal);
    const std::uint8_t* pdG = AcBytes(gallery.personal);
    if (param.extraPairing != 0 && mode != MM_FINGER_MIX && mode >= 0 && mode <= 3 &&
        AcGiven(pdP) && AcGiven(pdG)) {
        AcHandPairs(data, gallery, set, 7, PD_RIGHT_HAND, pdP, pdG);
        AcHandPairs(data, gallery, set, 2, PD_LEFT_HAND, pdP, pdG);
        AcThumbPairs(data, gallery, set, pdP, pdG);
    }
    int P = 0;
    for (FingerPairs& r : set.rec) {
        if (r.count > 0) {
            r.usable = std::max<std::uint8_t>(r.usable, 1);
            r.key = r.usable;
            ++P;
        } else {
            r.usable = 0;
        }
    }
    AcStableSort(set.order, 10,
                 [](const FingerPairs* a, const FingerPairs* b) { return a->key > b->key; });
    if (limit >= 1 && limit < P) {
        getSpeedParams(param.searchSpeed, row, data->version, static_cast<unsigned>(limit));
        return limit;
    }
    getSpeedParams(param.searchSpeed, row, data->version, static_cast<unsigned>(P));
    return getFingersToCompare(row, set, limit, P);
}

} // namespace

void clearProbeFinger(ProbeFinger& f)
{
    f.accel = nullptr;
    f.present = nullptr;
    f.nests = nullptr;
    f.nestMinutia = nullptr;
    f.nestWeight = nullptr;
    f.items = nullptr;
    f.sizeX = f.sizeY = f.areaW = f.areaH = 0;
    std::memset(&f.nestOf, 0, sizeof(f.nestOf));
}

int getFingersToCompare(const std::uint32_t* row, FingerPairsSet& set, int limit, int P)
{
    if (limit != -1) {
        return std::min(std::max(limit, 1), P);
    }
    if (P < 2) {
        return P;
    }
    if (row[54] <= set.order[1]->usable) {
        return std::min(P, 2);
    }
    if (P < 3) {
        return P;
    }
    return row[55] > set.order[2]->usable ? std::min(P, 4) : std::min(P, 3);
}

int compareFingerPairs(const void* a, const void* b)
{
    const int ka = (*static_cast<FingerPairs* const*>(a))->key;
    const int kb = (*static_cast<FingerPairs* const*>(b))->key;
    return kb - ka;
}

int getFusedScore_accel(unsigned n, unsigned count, const int* scores)
{
    if (scores == nullptr) {
        return -1;
    }
    int sorted[10] = {};
    const unsigned m = std::min(n, 10u);
    std::copy(scores, scores + m, sorted);
    std::sort(sorted, sorted + 10, std::greater<int>());
    if (count == 0 || m == 0) {
        return 0;
    }
    if (count == 1) {
        return sorted[0];
    }
    static const int kWeights[3][4] = {{220, 40, 0, 0}, {195, 39, 26, 0}, {220, 26, 14, 0}};
    const int* w = kWeights[count == 2 ? 0 : (count == 3 ? 1 : 2)];
    long long sum = 0;
    for (unsigned i = 0; i < std::min(count, m) && i < 4; ++i) {
        const long long s = sorted[i];
        const long long k = s / 1000;
        if (k == 0) {
            sum += w[i] * s * 19 / 16384;
        } else if (k == 1 || k == 2) {
            sum += w[i] * s * 38 / 16384;
        } else if (k >= 3 && k <= 10) {
            sum += w[i] * s / 256;
        }
    }
    return static_cast<int>(std::min<long long>(sum, 10000));
}

int uploadDb(void* handle, std::list<GalleryItem>& gallery)
{
    int code = ACCEL_OK;
    AccelData* data = AcOpen(handle, code);
    if (data == nullptr) {
        return code;
    }
    if (gallery.empty()) {
        return ACCEL_ERR_EMPTY_GALLERY;
    }
    AcFreeUpload(data);
    const std::size_t n = gallery.size();
    data->ids = new (std::nothrow) std::uint64_t[n];
    data->accels = new (std::nothrow) unsigned char*[n];
    data->tpls = new (std::nothrow) unsigned char*[10 * n]();
    if (data->ids == nullptr || data->accels == nullptr || data->tpls == nullptr) {
        AcFreeUpload(data);
        return ACCEL_ERR_MEMORY;
    }
    for (const GalleryItem& item : gallery) {
        const std::uint64_t i = data->count;
        data->ids[i] = item.id;
        data->accels[i] = item.accel;
        std::copy(item.tpl, item.tpl + 10, data->tpls + 10 * i);
        ++data->count;
    }
    return ACCEL_OK;
}

int loadProbeFinger(AccelData* data, unsigned char* tpl, int finger, unsigned slot)
{
    ProbeFinger& f = data->probe[finger];
    clearProbeFinger(f);
    if (tpl == nullptr) {
        return ACCEL_ERR_NO_TEMPLATE;
    }
    if (slot >= data->threads) {
        return ACCEL_ERR_THREAD_INDEX;
    }
    // The record is checked before its mask is decoded.
    ESK::Unwrap* reader = data->slots[slot].reader;
    const unsigned char* rec = tpl + 21;
    if (!reader->verify(rec)) {
        return ACCEL_ERR_BAD_FINGER;
    }
    const unsigned wh = reader->dearea(f.area, rec);
    if (wh == 0) {
        return ACCEL_ERR_BAD_TEMPLATE;
    }
    f.areaW = wh & 0xFFFFu;
    f.areaH = wh >> 16;
    f.sizeX = reader->size_x(rec);
    f.sizeY = reader->size_y(rec);
    unsigned size = 0;
    const int code = calcOneFingerAccel(data, tpl, f.output, &size, slot, f.spare);
    if (code != ACCEL_OK) {
        return code;
    }
    unsigned char* block = f.output;
    f.accel = block;
    f.nests = FaNests(block);
    f.nestMinutia = FaNestMinutia(block);
    f.nestWeight = FaNestWeight(block);
    f.items = FaItems(block);
    for (unsigned j = 0; j < block[FA_NESTS]; ++j) {
        f.nestOf.nest[f.nestMinutia[j]] = &f.nests[j];
    }
    f.present = block;
    return ACCEL_OK;
}

int loadAccelTP(void* handle, TpTemplate& probe, PersonalData* personal)
{
    int code = ACCEL_OK;
    AccelData* data = AcOpen(handle, code);
    if (data == nullptr) {
        return code;
    }
    for (unsigned s = 0; s < data->threads; ++s) {
        data->slots[s].coarse.clear();
    }
    for (ProbeFinger& f : data->probe) {
        clearProbeFinger(f);
    }
    if (personal != nullptr) {
        data->personal = *personal;
    }
    const unsigned slot = data->slot();
    int present = 0;
    int loaded = 0;
    int last = ACCEL_OK;
    for (int k = 0; k < 10; ++k) {
        if (probe.finger[k] == nullptr) {
            continue;
        }
        ++present;
        const int r = loadProbeFinger(data, probe.finger[k], k, slot);
        if (r == ACCEL_OK) {
            ++loaded;
        } else {
            last = r;
        }
    }
    if (loaded > 0) {
        return ACCEL_OK;
    }
    return present == 0 ? ACCEL_ERR_NO_PROBE : last;
}

int loadProbeAccel(void* handle, unsigned char* tpl, int finger)
{
    int code = ACCEL_OK;
    AccelData* data = AcOpen(handle, code);
    if (data == nullptr) {
        return code;
    }
    if (finger < 0 || finger > 9) {
        return ACCEL_ERR_FINGER_INDEX;
    }
    for (unsigned s = 0; s < data->threads; ++s) {
        data->slots[s].coarse.clear();
        data->slots[s].finalRanking.clear();
    }
    return loadProbeFinger(data, tpl, finger, 0);
}

int compareAccelTP_(void* handle, AccelSearchParam& param, unsigned char* accel, unsigned slot,
                    MatchResultTT& result, bool collect)
{
    result.clear();
    if (accel == nullptr) {
        return ACCEL_OK;
    }
    int code = ACCEL_OK;
    AccelData* data = AcOpen(handle, code);
    if (data == nullptr) {
        return code;
    }
    if (slot >= data->threads) {
        return ACCEL_ERR_THREAD_INDEX;
    }
    ThreadData& t = data->slots[slot];
    // 1. The gallery record.
    TpAccel gallery;
    if (!gallery.readFromBuffer(accel)) {
        return ACCEL_ERR_BAD_ACCEL;
    }
    // 2. Filters.
    const std::uint8_t* pdP = AcBytes(&data->personal);
    const std::uint8_t* pdG = AcBytes(gallery.personal);
    if (param.filterClass != 0 && ((pdP[PD_CLASS] == 2 && pdG[PD_CLASS] == 1) ||
                                   (pdP[PD_CLASS] == 1 && pdG[PD_CLASS] == 2))) {
        return ACCEL_OK;
    }
    if (param.filterAttribute != 0) {
        const int aP = AcGet16(pdP + PD_ATTRIBUTE);
        const int aG = AcGet16(pdG + PD_ATTRIBUTE);
        if (aP != 0 && aG != 0 && std::abs(aP - aG) > param.attributeTolerance) {
            return ACCEL_OK;
        }
    }
    // 3.-4. Pairs and how many records of them are compared.
    int limit = 0;
    if (param.matchingMode == MM_FINGER_MIX) {
        param.maxFingerPairs = 10;
        limit = 10;
    } else {
        limit = std::min(param.maxFingerPairs, 10);
    }
    std::uint32_t row[SPEED_COLUMNS];
    const int records = getFingerPairs(data, param, gallery, t.pairs, limit, row);
    // 5. Usable gallery fingers.
    unsigned usable = 0;
    for (unsigned char* block : gallery.finger) {
        usable += block != nullptr && block[FA_USABLE] != 0 ? 1u : 0u;
    }
    // 6. The finger comparisons.
    unsigned compared = 0;
    for (int i = 0; i < records; ++i) {
        FingerPairs& r = *t.pairs.order[i];
        const int k = r.probeFinger;
        if (r.count == 0 || data->probe[k].present == nullptr) {
            continue;
        }
        for (unsigned c = 0; c < r.count; ++c) {
            FingerCandidate& cand = r.cand[c];
            unsigned char* block = gallery.finger[cand.galleryFinger];
            if (!AcBlockReadable(block)) {
                return ACCEL_ERR_BAD_ACCEL;
            }
            int score = 0;
            AccelPair* best = collect ? t.spare : nullptr;
            if (best != nullptr) {
                best->clear();
            }
            const int rc =
                compAccel(data, param, row, k, block, score, &t.galleryNests, t.pool, slot, best);
            if (rc != ACCEL_OK) {
                return rc;
            }
            if (collect) {
                cand.score = score;
                cand.numPairs = 0;
                for (unsigned s = 0; s < best->count && cand.numPairs < 16; ++s) {
                    if (best->p[s] >= 32768) {
                        continue;
                    }
                    cand.pairs[cand.numPairs][0] = static_cast<std::uint8_t>(best->p[s]);
                    cand.pairs[cand.numPairs][1] = static_cast<std::uint8_t>(best->g[s]);
                    ++cand.numPairs;
                }
                r.best = std::max(r.best, score);
            }
            if (score > result.fingerScore[k]) {
                result.fingerScore[k] = score;
                result.galleryFinger[k] = cand.galleryFinger;
            }
        }
        ++compared;
    }
    // 7. Fusion.
    result.numCompared = std::min(compared, usable);
    result.score = getFusedScore_accel(10, result.numCompared, result.fingerScore);
    return ACCEL_OK;
}

int compareAccelTP(void* handle, AccelSearchParam& param, unsigned char* accel, unsigned slot,
                   MatchResultTT& result)
{
    AccelData* data = static_cast<AccelData*>(handle);
    if (data != nullptr && data->open == 0) {
        return ACCEL_ERR_NOT_OPEN;
    }
    return compareAccelTP_(handle, param, accel, slot, result, false);
}

int accelIdentifyTP_(void* handle, AccelSearchParam& param, TpTemplate& probe, CoarseRanking& out,
                     PersonalData* personal)
{
    int code = ACCEL_OK;
    AccelData* data = AcOpen(handle, code);
    if (data == nullptr) {
        return code;
    }
    if (data->count == 0) {
        return ACCEL_ERR_NO_GALLERY;
    }
    code = loadAccelTP(handle, probe, personal);
    if (code != ACCEL_OK) {
        return code;
    }
    MatchResultTT result;
    for (std::uint64_t i = 0; i < data->count; ++i) {
        const unsigned slot = data->slot();
        if (compareAccelTP_(handle, param, data->accels[i], slot, result, false) == ACCEL_OK &&
            result.score != 0) {
            data->slots[slot].coarse.insert(RLex{i, -1, result.score});
        }
    }
    out.clear();
    for (unsigned s = 0; s < data->threads; ++s) {
        out.insert(data->slots[s].coarse.begin(), data->slots[s].coarse.end());
    }
    return ACCEL_OK;
}

int accelIdentifyTP(void* handle, AccelSearchParam& param, TpTemplate& probe, RL* list, unsigned n,
                    PersonalData* personal)
{
    if (list == nullptr) {
        return ACCEL_ERR_NULL;
    }
    CoarseRanking ranking;
    const int code = accelIdentifyTP_(handle, param, probe, ranking, personal);
    if (code != ACCEL_OK) {
        return code;
    }
    std::memset(static_cast<void*>(list), 0, sizeof(RL) * n);
    unsigned i = 0;
    for (auto it = ranking.begin(); it != ranking.end() && i < n; ++it, ++i) {
        list[i] = RL{it->index, static_cast<std::uint32_t>(-1), it->score};
    }
    const AccelData* data = static_cast<AccelData*>(handle);
    for (i = 0; i < n && list[i].score != 0; ++i) {
        list[i].listId = data->ids[list[i].listId];
    }
    return ACCEL_OK;
}

int accelPairMatch(void* handle, AccelSearchParam& param, unsigned char* probeTpl,
                   unsigned char* galleryAccel, int probeFinger, int galleryFinger, int& score,
                   MatchResult& result)
{
    const int loaded = loadProbeAccel(handle, probeTpl, probeFinger);
    if (loaded != ACCEL_OK) {
        return loaded;
    }
    AccelData* data = static_cast<AccelData*>(handle);
    if (galleryAccel == nullptr) {
        return ACCEL_ERR_NULL;
    }
    if (probeFinger < 0 || probeFinger > 9 || galleryFinger < 0 || galleryFinger > 9) {
        return ACCEL_ERR_FINGER_INDEX;
    }
    score = 0;
    std::memset(&result, 0, sizeof(result));
    std::uint32_t row[SPEED_COLUMNS];
    getSpeedParams(param.searchSpeed, row, data->version, 1);
    TpAccel gallery;
    if (!gallery.readFromBuffer(galleryAccel) || !AcBlockReadable(gallery.finger[galleryFinger])) {
        return ACCEL_ERR_BAD_ACCEL;
    }
    ThreadData& t = data->slots[0];
    AccelPair* best = t.spare;
    best->clear();
    const int rc = compAccel(data, param, row, probeFinger, gallery.finger[galleryFinger], score,
                             &t.galleryNests, t.pool, 0, best);
    result.fingerP = static_cast<std::uint32_t>(probeFinger);
    result.fingerG = static_cast<std::uint32_t>(galleryFinger);
    result.score = score;
    result.numPairs = best->count;
    for (unsigned s = 0; s < best->count; ++s) {
        result.pairs[s] = MatchPair{best->p[s], best->g[s]};
    }
    return rc;
}

bool compareTpByPatterns(AccelData* data, TpAccel& gallery)
{
    int opposed = 0;
    for (int k = 0; k < 10; ++k) {
        const unsigned char* p = data->probe[k].accel;
        const unsigned char* g = gallery.finger[k];
        if (p == nullptr || g == nullptr) {
            continue;
        }
        const int a = p[FA_PATTERN];
        const int b = g[FA_PATTERN];
        opposed += (a == 1 && b == 2) || (a == 2 && b == 1) ? 1 : 0;
    }
    return opposed == 0;
}

} // namespace accelMatch
