// Stage 8, Xfocus: the singular points. Scans the singular regions of stage 6 at the asked
// level (classes 129, labels 152, directions 37) with the orientation field of stage 7 (34, 144)
// for a twist strength per pixel, keeps the best pixel of every region, merges near candidates,
// grades them by the response layer 115 and the foreground 128 of level 3, infers missing
// points from the pattern they form, and compacts at most 16 whorls, loops and deltas into the
// front of the candidate table. Then the reference centre and the pattern class are set.
// Positions are level-0 pixels; angles 2-degree units. Throws only what stages 2 to 7 throw.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wizard73 {

int integ = 1;

namespace {

constexpr int XFOCUS_STAGE = 8;
constexpr int LEVEL3 = 3;
constexpr int SLOTS = 240;
constexpr int MAX_POINTS = 16;
constexpr int WEAK = 128;
constexpr int FAR = 99999;
constexpr int RING_POINTS = 96;
constexpr int WIDE_CLASS = 64;
// Layers bound by XfTune, in its order.
constexpr int XF_DIR = 0;        // 34, orientation
constexpr int XF_WEIGHT = 1;     // 144, its weight
constexpr int XF_CLASS = 2;      // 129
constexpr int XF_SIDE = 3;       // 48, written
constexpr int XF_LABEL = 4;      // 152
constexpr int XF_STRENGTH = 5;   // 240, written
constexpr int XF_REGION_DIR = 6; // 37

// Rounded distance of two points in level-0 pixels.
int Distance(const SSign& a, const SSign& b)
{
    const std::int64_t dx = static_cast<std::int64_t>(a.x) - b.x;
    const std::int64_t dy = static_cast<std::int64_t>(a.y) - b.y;
    return sqri(static_cast<int>(std::min<std::int64_t>(dx * dx + dy * dy, INT32_MAX)));
}

// Direction in degrees from a to b.
int Bearing(const SSign& a, const SSign& b)
{
    return atan(b.x - a.x, b.y - a.y);
}

// Stable sort of the first n slots by quality, highest first.
void SortByQuality(SSign* s, int n)
{
    std::stable_sort(s, s + n,
                     [](const SSign& a, const SSign& b) { return a.quality > b.quality; });
}

// c.quality weighted by the angle law G(d) = TabSig[90 - |d - 100|] (0 below 10 degrees).
int Graded(const SSign& c, int d)
{
    if (d < 10) {
        return 0;
    }
    const int e = d - 100 < 0 ? 100 - d : d - 100;
    const int v = Descale13(c.quality * TabSig[90 - e]);
    return v > 0 ? v : 0;
}

// The angle at c between the directions to a and to b.
int whole_(const SSign& a, const SSign& b, const SSign& c)
{
    return Graded(c, CWork::Turn(Bearing(c, a), Bearing(c, b)));
}

// The angle at a between the directions to b and to c.
int compl_(const SSign& a, const SSign& b, const SSign& c)
{
    return Graded(c, CWork::Turn(Bearing(a, b), Bearing(a, c)));
}

// c.quality * cos(150 - 2a) with a the turn between `bearing` and `dir` (degrees).
int Cosine(const SSign& c, int bearing, int dir)
{
    const int a = CWork::Turn(bearing, dir);
    return Descale13(c.quality * CosDeg(Mod360(150 - 2 * a)));
}

// Index of the first entry of exact type t among the first n, or -1.
int First(const SSign* s, int n, int t, int skip = 0)
{
    for (int i = 0; i < n; ++i) {
        if (s[i].type == t && skip-- == 0) {
            return i;
        }
    }
    return -1;
}

int CountType(const SSign* s, int n, int t)
{
    int c = 0;
    for (int i = 0; i < n; ++i) {
        c += s[i].type == t ? 1 : 0;
    }
    return c;
}

// Side of direction q relative to direction p (degrees): true for side one.
bool SideOne(int q, int p)
{
    const int g = Mod360(q) - Mod360(p);
    const int ag = g < 0 ? -g : g;
    return (ag < 180 && g < 0) || (ag >= 180 && g >= 0);
}

// Class bits of a list with one whorl.
int pocket(const SSign* list, int count)
{
    const int h = First(list, count, 1);
    int nearest = -1;
    int dist = 99;
    for (int k = 0; k < 2; ++k) {
        const int d = First(list, count, 8, k);
        if (d < 0 || h < 0) {
            break;
        }
        const int e = Distance(list[h], list[d]);
        if (e < dist) {
            dist = e;
            nearest = d;
        }
    }
    if (dist > 45 || nearest < 0) {
        return 64;
    }
    const int base = dist < 26 ? 0 : 64;
    SSign copy[MAX_POINTS + 1];
    std::memcpy(copy, list, sizeof(SSign) * count);
    copy[h].type = 2;
    copy[h].angle = static_cast<std::uint8_t>(Bearing(list[h], list[nearest]) / 2);
    copy[nearest].type = 0;
    const int p = First(copy, count, 2);
    const int dirP = 2 * copy[p].angle;
    if (CountType(copy, count, 8) == 1) {
        const int q = First(copy, count, 8);
        const int g = Mod360(2 * copy[q].angle) - Mod360(dirP);
        const int ag = g < 0 ? -g : g;
        return ag < 180 ? (g >= 0 ? base | 256 : base | 128) : (g >= 0 ? base | 128 : base | 256);
    }
    const int r = First(copy, count, 16);
    const int axis = r >= 0 ? copy[r].axis : 45;
    const int g = Mod360(2 * axis) - Mod360(dirP);
    const int ag = g < 0 ? -g : g;
    return ag < 180 ? (g <= 0 ? base | 256 : base | 128) : (g >= 0 ? base | 256 : base | 128);
}

// Creates or updates the reference entry (type 16) of the list.
void subaxe(SSign* list, int* count, int type, int value)
{
    // 1. Find or append.
    int ref = First(list, *count, 16);
    if (ref >= 0) {
        list[ref].axis = static_cast<std::uint8_t>((list[ref].angle + 45) & 255);
    } else {
        if (*count >= MAX_POINTS) {
            return;
        }
        ref = (*count)++;
        list[ref].type = 16;
        list[ref].x = 0;
        list[ref].y = 0;
        list[ref].angle = 0;
        list[ref].axis = 45;
    }
    // 2. Quality: the weakest point, flagged when loops and deltas do not balance.
    int q = value;
    int balance = 0;
    for (int i = 0; i < *count; ++i) {
        const int t = list[i].type;
        if (CWork::Singular(t)) {
            q = list[i].quality < q ? list[i].quality : q;
            balance += t == 2 ? 1 : t == 1 ? 2 : -1;
        }
    }
    list[ref].quality = static_cast<std::uint8_t>((q & 255) | (balance != 0 ? 128 : 0));
    // 3. Position of the anchoring point nearest the axis.
    if (type < 0) {
        return;
    }
    int best = -1;
    int bestTurn = 181;
    for (int i = 0; i < *count; ++i) {
        if (list[i].type != type) {
            continue;
        }
        const int t = CWork::Turn(2 * list[i].angle, 2 * list[ref].axis);
        if (t < bestTurn) {
            bestTurn = t;
            best = i;
        }
    }
    if (best >= 0) {
        list[ref].x = list[best].x;
        list[ref].y = list[best].y;
    }
}

// Calls visit(i), in order, for every i < n with cls[i] != 0. Each byte is read when the scan
// reaches it, after the visits before it; sixteen zero bytes are passed over in one step.
template <class Visit> void ForClassed(const unsigned char* cls, int n, Visit visit)
{
    int i = 0;
    while (i < n) {
        if (i + 16 <= n) {
            std::uint64_t a = 0;
            std::uint64_t b = 0;
            std::memcpy(&a, cls + i, sizeof a);
            std::memcpy(&b, cls + i + 8, sizeof b);
            if ((a | b) == 0) {
                i += 16;
                continue;
            }
        }
        for (const int end = std::min(i + 16, n); i < end; ++i) {
            if (cls[i] != 0) {
                visit(i);
            }
        }
    }
}

} // namespace

// Ring callback of the grading: walk cursors on the responses 115 and the foreground 128.
void Codex::XfIndi(int, int)
{
    ++m_xfVisited;
    m_xfSum += *m_walk[0];
    m_xfFore += (*m_walk[1] & 6) != 0 ? 1 : 0;
}

// Binds the layers of the scanned level: 34, 144, 129, 48, 152, 240, 37.
void Codex::XfTune(int level)
{
    static const int kIds[7] = {34, 144, 129, 48, 152, 240, 37};
    for (int k = 0; k < 7; ++k) {
        m_xfLay[k] = GetLay(kIds[k], level);
        if (m_xfLay[k] == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
    }
    m_xfLevel = level;
}

// Scan 1 at a singular pixel: the class-0 pixels of its ring get class 64.
void Codex::XfWideV(int i)
{
    const int w = m_level[m_xfLevel].width;
    unsigned char* centre = m_xfLay[XF_CLASS] + i;
    WalkAt(i % w, i / w, m_xfLevel, nullptr, m_xfLay[XF_CLASS]);
    RingOffsets(m_xfLevel, m_xfRadius, 1, [centre](int, std::int32_t off) {
        if (centre[off] == 0) {
            centre[off] = WIDE_CLASS;
        }
    });
}

// Scan 2 at a classed pixel: the side of the flow's turn, from the front and back ring sums.
void Codex::XfCurv(int i)
{
    const int w = m_level[m_xfLevel].width;
    unsigned char* dir = m_xfLay[XF_DIR];
    const int c = dir[i];
    m_frontCos = m_frontSin = m_backCos = m_backSin = 0;
    WalkAt(i % w, i / w, m_xfLevel, dir, dir, m_xfLay[XF_WEIGHT]);
    m_ringPoint = static_cast<RingFn>(&CWork::Argums_I);
    Spiral(m_xfLevel, m_xfRadius, 1);
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    const int a1 = HalfOr(m_frontCos, m_frontSin, c);
    const int a2 = HalfOr(m_backCos, m_backSin, c);
    m_xfLay[XF_SIDE][i] = static_cast<unsigned char>(
        Fold(a1 - c) - Fold(a2 - c) < 1 ? Mod360(c - 90) / 2 : (c + 90) / 2);
}

// Scan 3 at a singular pixel: its twist strength (a byte, modulo 256).
void Codex::XfTwis(int i)
{
    const int w = m_level[m_xfLevel].width;
    const int least = Twist(i % w, i / w, m_xfLevel, m_xfLay[XF_SIDE], m_xfRadius);
    unsigned char& strength = m_xfLay[XF_STRENGTH][i];
    strength = static_cast<unsigned char>((strength + least) & 255);
}

// Scan 4 at a singular pixel: the best pixel of every region (ties go to the later pixel).
void Codex::XfBest(int i)
{
    const int cls = m_xfLay[XF_CLASS][i];
    const int l = m_xfLay[XF_LABEL][i];
    if (l >= SLOTS) {
        return;
    }
    const int strength = m_xfLay[XF_STRENGTH][i];
    SSign& s = m_sign[l];
    if (s.quality > strength) {
        return;
    }
    const int w = m_level[m_xfLevel].width;
    const int scale = 1 << m_xfLevel;
    s.x = scale * (i % w) + scale / 2;
    s.y = scale * (i / w) + scale / 2;
    s.type = static_cast<std::uint8_t>(cls);
    s.quality = static_cast<std::uint8_t>(strength);
    s.angle = m_xfLay[XF_REGION_DIR][i];
    m_candidates = std::max(m_candidates, l + 1);
}

// The four per-pixel scans of the asked level.
void Codex::XfScan(int level)
{
    XfTune(level);
    const int n = static_cast<int>(m_level[level].size);
    // The scans visit the classed (2) or singular pixels (1, 3 and 4) only. The widening
    // changes only class-0 pixels, which are not singular, and every strength starts at 4.
    const unsigned char* cls = m_xfLay[XF_CLASS];
    ForClassed(cls, n, [&](int i) {
        if (Singular(cls[i])) {
            XfWideV(i);
        }
    });
    unsigned char* strength = m_xfLay[XF_STRENGTH];
    for (int i = 0; i < n; ++i) {
        strength[i] = 4;
    }
    ForClassed(cls, n, [&](int i) { XfCurv(i); });
    // Scan 4 at a pixel reads only what scan 3 wrote there, so the two run in one sweep.
    ForClassed(cls, n, [&](int i) {
        if (Singular(cls[i])) {
            XfTwis(i);
            XfBest(i);
        }
    });
}

// Merges candidate `index` of type `type` with its nearest neighbour where the rules say;
// then sorts by quality and drops candidates without quality. Returns 1 after a merge.
int Codex::Rename(int index, int type)
{
    const bool q = m_quick != 0;
    SSign* s = m_sign;
    const int n = m_candidates;
    // 1. Nearest other candidate.
    int o = -1;
    int d = FAR + 1;
    for (int j = 0; j < n; ++j) {
        if (j == index) {
            continue;
        }
        const int e = (s[j].type & 11) != 0 ? Distance(s[index], s[j]) : FAR;
        if (e < d) {
            d = e;
            o = j;
        }
    }
    int merged = 0;
    if (o >= 0) {
        SSign& a = s[index];
        SSign& b = s[o];
        auto unite = [&]() {
            b.type = 1;
            b.x = (b.x + a.x) / 2;
            b.y = (b.y + a.y) / 2;
            b.quality = std::max(b.quality, a.quality);
            a.quality = 0;
            merged = 1;
        };
        if (type == 8) {
            // 2. Two deltas close together: the weaker goes.
            if (d < (q ? 28 : 36) && b.type == 8) {
                (a.quality <= b.quality ? a : b).quality = 0;
                merged = 1;
            }
        } else if (type == 1) {
            // 3. A whorl absorbs a near whorl and removes a near loop.
            if (d <= (q ? 34 : 47)) {
                if (b.type == 1) {
                    unite();
                } else if (d < (q ? 27 : 36) && b.type == 2) {
                    b.quality = 0;
                    merged = 1;
                }
            }
        } else if (type == 2) {
            // 4. A loop and a delta on top of each other cancel; two facing loops are a whorl.
            if (b.type == 8 && (q ? d < 7 : d <= 9)) {
                a.quality = 0;
                b.quality = 0;
                merged = 1;
            } else if (d < (q ? 30 : 40) && b.type == 2) {
                const int a1 = Turn(Bearing(b, a), 2 * b.angle);
                const int a2 = Turn(Bearing(a, b), 2 * a.angle);
                const int m = std::min(a1, a2);
                if (d <= (q ? 30 : 40) - TabSqr[3 * m]) {
                    unite();
                }
            }
        }
        m_merges += merged;
    }
    // 5. Order and trim.
    SortByQuality(s, n);
    int last = 0;
    for (int j = 0; j < n; ++j) {
        last = s[j].quality != 0 ? j + 1 : last;
    }
    m_candidates = last;
    return merged;
}

void Codex::Rename()
{
    for (;;) {
        m_merges = 0;
        if (m_candidates < 2) {
            return;
        }
        bool merged = false;
        for (int i = 0; i < m_candidates - 1 && !merged; ++i) {
            if (Singular(m_sign[i].type)) {
                merged = Rename(i, m_sign[i].type) != 0;
            }
        }
        if (!merged) {
            return;
        }
    }
}

// Level and quality of every candidate from the radius-4 ring of level 3 around it.
void Codex::XfQuality()
{
    unsigned char* resp = GetLay(115, LEVEL3);
    unsigned char* fore = GetLay(128, LEVEL3);
    if (resp == nullptr || fore == nullptr) {
        m_error = WZ_NO_LAYER;
        throw WZ_NO_LAYER;
    }
    const int w3 = m_level[LEVEL3].width;
    const int h3 = m_level[LEVEL3].height;
    for (int k = 0; k < m_candidates; ++k) {
        SSign& s = m_sign[k];
        const int cx = std::clamp(s.x / 8, 0, w3 - 1);
        const int cy = std::clamp(s.y / 8, 0, h3 - 1);
        m_xfVisited = m_xfSum = m_xfFore = 0;
        WalkAt(cx, cy, LEVEL3, nullptr, resp, fore);
        m_ringPoint = static_cast<RingFn>(&Codex::XfIndi);
        Spiral(LEVEL3, m_xfRadius, 1);
        m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
        const int visited = m_xfVisited;
        const int sum = m_xfSum;
        const int inFore = m_xfFore;
        s.level = static_cast<std::uint8_t>(std::clamp(inFore * m_refLevel / RING_POINTS, 0, 255));
        s.quality = static_cast<std::uint8_t>(visited != 0 ? std::clamp(sum / visited, 0, 255) : 0);
    }
}

// One inference step; returns true when a weak candidate was accepted.
bool Codex::XfInfer(int best)
{
    const bool q = m_quick != 0;
    SSign* s = m_sign;
    const int n = m_candidates;
    const int loops = CountType(s, n, 2);
    const int whorls = CountType(s, n, 1);
    const int deltas = CountType(s, n, 8);
    int wanted;
    int threshold;
    int rule;
    if (deltas == 1 && loops == 0 && whorls == 0) {
        rule = 1, wanted = 2, threshold = q ? best / 6 : best / 4;
    } else if (deltas == 0 && loops == 1 && whorls == 0) {
        rule = 2, wanted = 8, threshold = q ? best / 6 : best / 4;
    } else if (deltas == 2 && loops == 0 && whorls == 0) {
        rule = 3, wanted = 1, threshold = best / 8;
    } else if (whorls == 1 && deltas == 1 && loops == 0) {
        rule = 4, wanted = 8, threshold = best / 4;
    } else if (loops == 2 && deltas == 1 && whorls == 0) {
        rule = 5, wanted = 8, threshold = best / 4;
    } else if (deltas == 2 && loops == 1 && whorls == 0) {
        rule = 6, wanted = 2, threshold = best / 4;
    } else {
        return false;
    }
    const int d1 = First(s, n, 8);
    const int d2 = First(s, n, 8, 1);
    const int l1 = First(s, n, 2);
    const int w1 = First(s, n, 1);
    int pick = -1;
    int top = threshold;
    for (int c = 0; c < n; ++c) {
        if (s[c].type != (wanted | WEAK)) {
            continue;
        }
        int score = 0;
        switch (rule) {
        case 1:
            score = Cosine(s[c], Bearing(s[c], s[d1]), 2 * s[c].angle);
            break;
        case 2:
            score = Cosine(s[c], Bearing(s[l1], s[c]), 2 * s[l1].angle);
            break;
        case 3:
        case 6:
            score = whole_(s[d1], s[d2], s[c]);
            break;
        case 4:
            score = compl_(s[w1], s[d1], s[c]);
            break;
        default:
            score = compl_(s[l1], s[d1], s[c]);
            break;
        }
        if (score > top && score > 0) {
            top = score;
            pick = c;
        }
    }
    if (pick < 0) {
        return false;
    }
    s[pick].type = static_cast<std::uint8_t>(s[pick].type & ~WEAK);
    return true;
}

// Grades the candidates, marks the weak ones, infers missing points (kind 'F') and compacts
// the accepted ones into the final list.
void Codex::XfIndiV()
{
    const bool q = m_quick != 0;
    SSign* s = m_sign;
    // 1.-2. Ring measures and the combined quality.
    XfQuality();
    int best = 0;
    for (int k = 0; k < m_candidates; ++k) {
        s[k].quality = static_cast<std::uint8_t>((50 * s[k].quality + 205 * s[k].level) / 255);
        best = std::max(best, static_cast<int>(s[k].quality));
    }
    // 3. Strongest first.
    SortByQuality(s, m_candidates);
    // 4. Weak marks against a balance of loops, whorls and deltas.
    int balance = 0;
    for (int k = 0; k < m_candidates; ++k) {
        const int threshold =
            balance == 0 ? m_refLevel * (q ? 66 : 56) / 100 : best * (q ? 74 : 64) / 100;
        if (s[k].quality < threshold || m_refLevel * (q ? 30 : 60) / 100 > best) {
            s[k].type = static_cast<std::uint8_t>(s[k].type | WEAK);
            continue;
        }
        const int t = s[k].type;
        balance += t == 2 ? 1 : t == 1 ? 2 : t == 8 ? -1 : 0;
    }
    // 5. Inference.
    if (m_xfKind == 'F') {
        while (XfInfer(best)) {
        }
    }
    // 6. Compaction.
    int count = 0;
    for (int k = 0; k < m_candidates && count < MAX_POINTS; ++k) {
        if (Singular(s[k].type)) {
            s[k].quality = static_cast<std::uint8_t>(s[k].quality * 63 / 255);
            s[count++] = s[k];
        }
    }
    m_singular = count;
}

void Codex::Xfocus(int level)
{
    // Pull and stage discipline.
    if (GetKey(144, LEVEL3) == -1) {
        Respon(1);
    }
    m_stage = XFOCUS_STAGE;
    OldLay(XFOCUS_STAGE);
    const int arg = std::clamp(level, 0, LEVEL3);
    // Preparation.
    m_xfRadius = 4;
    m_singular = 0;
    m_candidates = 0;
    m_merges = 0;
    m_xfKind = m_kind;
    if (integ != 0) {
        m_curLevel = arg;
        m_winLeft = 0;
        m_winTop = 0;
        m_winRight = m_level[arg].width - 1;
        m_winBottom = m_level[arg].height - 1;
        for (SSign& s : m_sign) {
            s.type = 0;
            s.level = 0;
            s.quality = 0;
        }
        static const int kTwist[] = {4, 0, 0, 20, 13, 45, 45, 90, 8};
        m_rank.RanIni(0);
        m_rank.CorGau(kTwist);
        m_rank.CorSmo(1);
        XfScan(arg);
        // Reference level from the responses of the inner level-3 cells (kept in Ran).
        const unsigned char* resp = GetLay(115, LEVEL3);
        if (resp == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
        const int w3 = m_level[LEVEL3].width;
        const int h3 = m_level[LEVEL3].height;
        for (int y = 1; y + 1 < h3; ++y) {
            for (int x = 1; x + 1 < w3; ++x) {
                ++m_rank.Ran[resp[static_cast<std::size_t>(y) * w3 + x]];
            }
        }
        m_refLevel = m_rank.RanSha(16);
        Rename();
        XfIndiV();
        Centre(m_refLevel * 63 / 255);
        Design();
    }
    // Release.
    static const int kReleased[] = {240, 113, 114, 115, 34, 33, 37, 129, 144, 48, 160, 152};
    m_curLevel = LEVEL3;
    for (int l = LEVEL3; l >= arg; --l) {
        for (int id : kReleased) {
            DelLay(id, l);
        }
    }
    Resume();
}

void Codex::Centre(int value)
{
    const int n = m_singular;
    const int type = First(m_sign, n, 1) >= 0   ? 1
                     : First(m_sign, n, 2) >= 0 ? 2
                     : First(m_sign, n, 8) >= 0 ? 8
                                                : -1;
    int count = m_singular;
    subaxe(m_sign, &count, type, value);
    m_singular = count;
}

int Codex::SubDes()
{
    const SSign* s = m_sign;
    const int n = m_singular;
    const int loops = CountType(s, n, 2);
    const int whorls = CountType(s, n, 1);
    const int deltas = CountType(s, n, 8);
    if (m_kind == 'P' || m_kind == 'S') {
        return 0;
    }
    if (n == 0) {
        return 1;
    }
    if ((whorls >= 1 && loops >= 1) || loops > 2 || whorls >= 2 || deltas > 2) {
        return 2048;
    }
    if (whorls == 1) {
        return pocket(s, n);
    }
    if (loops == 2) {
        const int a = First(s, n, 2);
        const int b = First(s, n, 2, 1);
        auto wrap = [](int d) {
            const int m = Mod360(d);
            return m > 180 ? m - 360 : m;
        };
        const int e1 = wrap(Bearing(s[a], s[b]) - 2 * s[a].angle);
        const int e2 = wrap(Bearing(s[b], s[a]) - 2 * s[b].angle);
        const int sum = e1 + e2 < 0 ? -(e1 + e2) : e1 + e2;
        const int dist = Distance(s[a], s[b]);
        if (sum < 30) {
            return 64;
        }
        if (sum <= 49 && sum * dist < 2000) {
            return 1600;
        }
        if (dist < 46) {
            SSign copy[MAX_POINTS];
            std::memcpy(copy, s, sizeof(SSign) * n);
            copy[a].type = 1;
            copy[b].type = 0;
            int k = pocket(copy, n);
            std::memcpy(copy, s, sizeof(SSign) * n);
            copy[a].type = 0;
            copy[b].type = 1;
            k |= pocket(copy, n);
            return k;
        }
        return 1536;
    }
    if (deltas == 2) {
        return 64;
    }
    if (deltas == 1 && loops == 1) {
        const SSign& p = s[First(s, n, 2)];
        const SSign& qd = s[First(s, n, 8)];
        const int a = Turn(Bearing(p, qd), 2 * p.angle);
        const bool one = SideOne(2 * qd.angle, 2 * p.angle);
        return a <= 13 ? 2 : a <= 33 ? (one ? 6 : 18) : (one ? 4 : 16);
    }
    if (loops == 1) {
        const SSign& p = s[First(s, n, 2)];
        const int r = First(s, n, 16);
        const int axis = r >= 0 ? s[r].axis : 45;
        const int g = Mod360(2 * axis) - Mod360(2 * p.angle);
        const int ag = g < 0 ? -g : g;
        return ag < 180 ? (g <= 0 ? 16 : 4) : (g < 0 ? 4 : 16);
    }
    if (deltas == 1) {
        return 64;
    }
    return 1;
}

void Codex::Design()
{
    m_class = static_cast<std::uint16_t>(SubDes());
    m_immask =
        static_cast<unsigned char>((m_class & 0xF80) != 0 ? (m_class & 127) | 128 : m_class & 255);
}

void Codex::DesImp()
{
    const int i = m_immask;
    int k = m_class;
    if ((i & 0xC0) != 0 && (k & 0xFC0) == 0) {
        k |= 64;
    }
    if ((i & 0x30) != 0 && (k & 16) == 0) {
        k |= 16;
    }
    if ((i & 0x0C) != 0 && (k & 4) == 0) {
        k |= 4;
    }
    if ((i & 2) != 0) {
        k |= 2;
    }
    if ((i & 1) != 0) {
        k |= 1;
    }
    m_class = static_cast<std::uint16_t>(k);
}

} // namespace wizard73
