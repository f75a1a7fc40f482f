// Stage 21, Linker: puts the minutia list into its visiting order and, stepping from each
// minutia across the ridges on both sides of its direction, records the neighbouring minutiae
// reached along each ridge as link codes into the record's nest section (layer 179 of level 1,
// a bit stream). Reads the skeleton (layer 5 of level 0), period 56 and flow 36 of level 1;
// work map 240 of level 0. Throws WZ_NO_LAYER, or WZ_RECORD_FULL when the stream passes its layer.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/TemplateFormat.h"

#include <cstddef>
#include <cstring>
#include <memory>

namespace wizard73 {
namespace {

constexpr int LINKER_STAGE = 21;
constexpr int CELL_LEVEL = 1;
constexpr int HISTORY = 9;
constexpr int FAR = 10000;
constexpr int NO_NEIGHBOUR = 2550;
constexpr int SIDE_RIDGE = 4;
constexpr int UNMARKED = 255;
constexpr int ARM_SLOTS = 4;

// Unsigned difference of two angles in 0..359 lies in 90..269.
bool Opposed(int a, int b)
{
    const int d = a > b ? a - b : b - a;
    return d >= 90 && d <= 269;
}

int Distance(const SSign& a, const SSign& b)
{
    const int dx = a.x - b.x;
    const int dy = a.y - b.y;
    return sqri(dx * dx + dy * dy);
}

// Ring index -> row of the link table: 0 -> 0, k < H -> 2k - 1, H + j -> 2(j + 1).
int RowOf(int ring, int half)
{
    return ring == 0 ? 0 : ring < half ? 2 * ring - 1 : 2 * (ring - half + 1);
}

} // namespace

void Codex::BitStart(unsigned char* out, std::size_t capacity)
{
    m_bitSink = BitSink(out, capacity);
}

void Codex::PutBits(unsigned value, int width)
{
    m_bitSink.Put(value, width);
    if (m_bitSink.Overflow()) {
        m_error = WZ_RECORD_FULL;
        throw WZ_RECORD_FULL;
    }
}

std::size_t Codex::BitBytes() const
{
    return m_bitSink.Bytes();
}

void Codex::LiSort()
{
    const int n = m_minutiae;
    SSign* list = reinterpret_cast<SSign*>(Layer(176, CELL_LEVEL));
    if (n < 2) {
        return;
    }
    std::unique_ptr<int[]> rank(new int[n]);
    for (int i = 0; i < n; ++i) {
        rank[i] = -1;
    }
    rank[0] = 0;
    int history[HISTORY];
    int kept = 0;
    int current = 0;
    for (int counter = 1;; ++counter) {
        int best = -1;
        int bestCost = 0;
        for (int j = 0; j < n; ++j) {
            if (rank[j] >= 0) {
                continue;
            }
            int h = FAR;
            for (int k = 0; k < kept; ++k) {
                const int d = Distance(list[history[k]], list[j]);
                h = d < h ? d : h;
            }
            const int cost = h + Distance(list[current], list[j]);
            if (best < 0 || cost < bestCost) {
                best = j;
                bestCost = cost;
            }
        }
        if (best < 0) {
            break;
        }
        if (kept == HISTORY) {
            std::memmove(history, history + 1, sizeof(int) * (HISTORY - 1));
            --kept;
        }
        history[kept++] = current;
        rank[best] = counter;
        current = best;
    }
    for (int i = 0; i + 1 < n; ++i) {
        for (int k = i + 1; k < n; ++k) {
            if (rank[i] > rank[k]) {
                const SSign t = list[i];
                list[i] = list[k];
                list[k] = t;
                const int r = rank[i];
                rank[i] = rank[k];
                rank[k] = r;
            }
        }
    }
}

// Walker on level-0 pixel (x, y) with the skeleton under cursor 0 and the work map under 1; the
// point is kept as the saved point of the ridge search.
void Codex::LiAt(int x, int y)
{
    WalkAt(x, y, 0, nullptr, GetLay(5, 0), GetLay(240, 0));
    m_liX = x;
    m_liY = y;
}

void Codex::Lining()
{
    const int w1 = m_level[CELL_LEVEL].width;
    const int at = (m_liY / 2) * w1 + m_liX / 2;
    m_liPeriod = GetLay(56, CELL_LEVEL)[at];
    m_liRef = GetLay(36, CELL_LEVEL)[at];
}

int Codex::LiFind(int angle)
{
    const int r0 = 90 * m_liPeriod / 100;
    if (r0 <= 0) {
        return 0;
    }
    // LiAt at the saved point before every probe, with the two layers looked up once (the
    // probes claim and free none).
    unsigned char* const skeleton = GetLay(5, 0);
    unsigned char* const work = GetLay(240, 0);
    for (int r = r0; r < 2 * r0; ++r) {
        for (int j = 0; j < 9; ++j) {
            const int turn = 6 * ((j + 1) / 2) * (j % 2 == 1 ? 1 : -1);
            const int d = angle + turn;
            WalkAt(m_liX, m_liY, 0, nullptr, skeleton, work);
            if (SkeSke(d, Descale13(r * CosDeg(Mod360(-turn))), 0) != 0) {
                LiAt(m_hitX, m_hitY);
                return 1;
            }
        }
    }
    LiAt(m_liX, m_liY);
    return 0;
}

void Codex::LiHand()
{
    const SSign* list = reinterpret_cast<const SSign*>(Layer(176, CELL_LEVEL));
    unsigned char* work = Layer(240, 0);
    for (int i = 0; i < m_minutiae; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        // 1, 2. Period at the point; the arm length covers half a period across the ridge.
        LiAt(x, y);
        Lining();
        const int theta = 2 * list[i].angle;
        const int s = SinDeg(Mod360(theta));
        const int c = CosDeg(Mod360(theta));
        const int big = (s < 0 ? -s : s) > (c < 0 ? -c : c) ? (s < 0 ? -s : s) : (c < 0 ? -c : c);
        const int length = ((big * m_liPeriod + 4096) >> 13) / 2 + 3;
        // 3. Own mark and own arms.
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * m_level[0].width + x;
        work[at] = static_cast<unsigned char>(i & 127);
        Colour(length);
        // 4. The first ridge on either side.
        for (const int side : {90, -90}) {
            LiAt(x, y);
            if (LiFind(theta + side) != 0) {
                *m_walk[0] = SIDE_RIDGE;
                *m_walk[1] = static_cast<unsigned char>(i & 127);
            }
        }
        // 5. Arms unmarked.
        LiAt(x, y);
        Visual(length);
    }
}

// Link-stage answer of the arm walk on a side-ridge pixel: 0 (stop, raw code 1) unless its mark
// belongs to the active minutia.
int Codex::LiAsk()
{
    if (NativeI(*m_walk[1])) {
        return 1;
    }
    m_armCode = 1;
    return 0;
}

void Codex::GetRid()
{
    for (int r = 0; r < WZ_LINK_ROWS; ++r) {
        for (int s = 0; s < WZ_LINK_SLOTS; ++s) {
            m_linkCode[r][s] = 0;
            m_linkIndex[r][s] = -1;
            m_linkExtra[r][s] = 0;
        }
    }
}

void Codex::Lizard()
{
    const unsigned char* work = GetLay(240, 0);
    const SSign* list = reinterpret_cast<const SSign*>(GetLay(176, CELL_LEVEL));
    const int w0 = m_level[0].width;
    const int x = m_liX;
    const int y = m_liY;
    // 1. The arms and where their walks ended.
    Morpho(9999);
    const int n = m_arms < ARM_SLOTS ? m_arms : ARM_SLOTS;
    struct Arm {
        int code, index, extra, dir;
    };
    Arm arm[ARM_SLOTS] = {};
    for (int k = 0; k < n; ++k) {
        const SArm& a = m_arm[k];
        arm[k] = Arm{a.code, -1, 0, 0};
        if (a.code == 0) {
            continue;
        }
        const int mark = work[static_cast<std::ptrdiff_t>(a.y) * w0 + a.x];
        const int nb = mark > 127 ? -1 : Native(a.x, a.y, mark);
        if (nb < 0 || nb == m_activeMinutia) {
            arm[k].code = 0;
            continue;
        }
        // 2. Neighbour and the short-arm bit.
        arm[k].index = nb;
        arm[k].extra = a.len <= m_liPeriod / 3 + 8 ? 1 : 0;
        // 3. A short arm to another minutia's ending or branch point ends the side.
        if ((a.code & 3) == 3 && arm[k].extra != 0) {
            m_liStop = 1;
        }
        // 4. Side of the neighbour as seen along the arm, and whether it faces the other way.
        if (a.code == 1) {
            const int to = atan(list[nb].x - a.x, list[nb].y - a.y);
            const int d = Mod360(a.dir) - to;
            const bool left = (d < 180 && d > -180) ? d < 0 : d >= 0;
            int code = left ? 1 : 2;
            if (Opposed(Mod360(a.dir), Mod360(2 * list[nb].angle))) {
                code += 4;
            }
            arm[k].code = code;
        }
    }
    // 5. Directions over one period.
    WalkAt(x, y, 0, nullptr, GetLay(5, 0), GetLay(240, 0));
    Orient(m_liPeriod);
    for (int k = 0; k < n && k < m_arms; ++k) {
        arm[k].dir = m_arm[k].dir;
    }
    // 6. The arm most opposite to the reference first, then by angle from it.
    int key[ARM_SLOTS];
    auto sort = [&](bool largestFirst) {
        for (int i = 0; i + 1 < n; ++i) {
            for (int k = i + 1; k < n; ++k) {
                if (largestFirst ? key[i] < key[k] : key[i] > key[k]) {
                    const Arm t = arm[i];
                    arm[i] = arm[k];
                    arm[k] = t;
                    const int kk = key[i];
                    key[i] = key[k];
                    key[k] = kk;
                }
            }
        }
    };
    for (int k = 0; k < n; ++k) {
        key[k] = Turn(arm[k].dir, m_liRef);
    }
    sort(true);
    for (int k = 0; k < n; ++k) {
        key[k] = Mod360(arm[k].dir - arm[0].dir);
    }
    sort(false);
    // 7. Into the row of the ring.
    const int row = RowOf(m_liRing, m_liHalf);
    for (int k = 0; k < n; ++k) {
        m_linkCode[row][k] = static_cast<std::uint32_t>(arm[k].code);
        m_linkIndex[row][k] = arm[k].code != 0 ? arm[k].index : -1;
        m_linkExtra[row][k] = static_cast<std::uint32_t>(arm[k].code != 0 ? arm[k].extra : 0);
    }
    LiAt(x, y);
}

void Codex::LiSave(int type, const int* descriptor)
{
    int least = NO_NEIGHBOUR;
    int most = 0;
    int order[WZ_LINK_ROWS * 4];
    int used = 0;
    for (int r = 0; r < m_liRings; ++r) {
        const int slots = r != 0 ? 2 : type == 1 ? 1 : type == 0 ? 3 : 4;
        for (int s = 0; s < slots; ++s) {
            const unsigned code = m_linkCode[r][s];
            if (code == 0) {
                PutBits(0, descriptor[2]);
                continue;
            }
            if ((code & 3) == 3) {
                PutBits(code, descriptor[0]);
                PutBits(m_linkExtra[r][s], descriptor[3]);
            } else {
                PutBits(code, descriptor[1]);
            }
            const int idx = m_linkIndex[r][s];
            least = idx < least ? idx : least;
            most = idx > most ? idx : most;
            order[used++] = idx;
        }
    }
    PutBits(static_cast<unsigned>(least), descriptor[4]);
    const int iw =
        most - least > 0 ? static_cast<int>(TfBitLength(static_cast<unsigned>(most - least))) : 0;
    PutBits(static_cast<unsigned>(iw), descriptor[5]);
    for (int i = 0; i < used; ++i) {
        PutBits(static_cast<unsigned>(order[i] - least), iw);
    }
}

// One side of the ring walk from the minutia: `sign` +90 or -90, rings up to `last`.
void Codex::LiSide(int sign, int last, bool backward)
{
    while (m_liRing < last && m_liStop == 0) {
        const int x = m_liX;
        const int y = m_liY;
        if (LiFind(m_liWalk + sign) == 0) {
            break;
        }
        const int hx = m_liX;
        const int hy = m_liY;
        LiAt(x, y);
        Visual(m_liPeriod);
        LiAt(hx, hy);
        Lining();
        int f = m_liRef;
        if (Opposed(Mod360(f), Mod360(m_liWalk))) {
            f = Mod360(f + 180);
        }
        m_liWalk = f;
        m_liRef = backward ? Mod360(f + 180) : f;
        Lizard();
        Colour(m_liPeriod);
        ++m_liRing;
    }
    Visual(m_liPeriod);
}

int Codex::Linkup()
{
    const int n = m_minutiae;
    const SSign* list = reinterpret_cast<const SSign*>(Layer(176, CELL_LEVEL));
    const int w4 = static_cast<int>(TfBitLength(static_cast<unsigned>(n)));
    const int descriptor[6] = {4, 3,  2,
                               1, w4, static_cast<int>(TfBitLength(static_cast<unsigned>(w4)))};
    for (const int d : descriptor) {
        PutBits(static_cast<unsigned>(d), 4);
    }
    for (int i = 0; i < n; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        const int theta = Mod360(2 * list[i].angle);
        // 1, 2. The minutia's own ridge.
        LiAt(x, y);
        m_activeMinutia = i;
        GetRid();
        m_liRing = 0;
        Lining();
        m_liWalk = m_liRef = theta;
        Lizard();
        Colour(m_liPeriod);
        m_liRing = 1;
        m_liStop = 0;
        // 3, 4. The ridges on the theta + 90 side.
        if (m_liHalf >= 2) {
            LiSide(90, m_liHalf, true);
        } else {
            Visual(m_liPeriod);
        }
        // 5, 6. Back at the minutia, the ridges on the theta - 90 side.
        LiAt(x, y);
        Lining();
        m_liWalk = m_liRef = theta;
        Colour(m_liPeriod);
        m_liRing = m_liHalf;
        m_liStop = 0;
        if (m_liHalf < m_liRings) {
            LiSide(-90, m_liRings, false);
        } else {
            Visual(m_liPeriod);
        }
        // 7. The block.
        LiSave(list[i].type, descriptor);
    }
    return static_cast<int>(BitBytes());
}

void Codex::LiPrep(int coarse, int fine)
{
    m_fine[0] = GetLay(240, fine);
    m_fine[1] = GetLay(5, fine);
    m_coarse[0] = GetLay(179, coarse);
}

int Codex::Parser(int* descriptor, int type)
{
    const int slots = type == 1 ? 2 * m_liRings - 1 : 2 * m_liRings + 1;
    const int row = WZ_LINK_ROWS - 1;
    const unsigned emptyWidth = static_cast<unsigned>(descriptor[2]);
    const unsigned extraWidth = static_cast<unsigned>(descriptor[3]);
    int used[WZ_LINK_SLOTS];
    int n = 0;
    for (int s = 0; s < slots; ++s) {
        m_linkCode[row][s] = 0;
        m_linkIndex[row][s] = -1;
        m_linkExtra[row][s] = 0;
        const std::uint32_t c = m_bitSource.Get(emptyWidth);
        if (c == 0) {
            continue;
        }
        if (c == 3) {
            m_linkCode[row][s] = 4 * m_bitSource.Get(emptyWidth) + 3;
            m_linkExtra[row][s] = m_bitSource.Get(extraWidth);
        } else {
            m_linkCode[row][s] = c + 4 * m_bitSource.Get(extraWidth);
        }
        used[n++] = s;
    }
    const int base = static_cast<int>(m_bitSource.Get(static_cast<unsigned>(descriptor[4])));
    const unsigned iw = m_bitSource.Get(static_cast<unsigned>(descriptor[5]));
    const SSign* list = MinutiaList();
    for (int i = 0; i < n; ++i) {
        const int index = base + static_cast<int>(m_bitSource.Get(iw));
        m_linkIndex[row][used[i]] = index;
        if (list != nullptr && index < m_minutiae && list[index].type == 1) {
            m_linkCode[row][used[i]] |= 8;
        }
    }
    return slots;
}

int Codex::Parser(int x, int y)
{
    const int k = Native(x, y, -1);
    m_activeMinutia = k;
    const int slot = GetKey(179, CELL_LEVEL);
    if (k < 0 || slot < 0) {
        return k < 0 ? k : -1;
    }
    const SSign* list = MinutiaList();
    m_bitSource = BitSource(m_level[CELL_LEVEL].buf[slot], m_level[CELL_LEVEL].size);
    int descriptor[6];
    for (int& d : descriptor) {
        d = static_cast<int>(m_bitSource.Get(4));
    }
    for (int i = 0; i <= k; ++i) {
        Parser(descriptor, list[i].type);
    }
    return k;
}

void Codex::Linker(int)
{
    if (GetKey(176, CELL_LEVEL) == -1) {
        Minuti(-1);
    }
    m_stage = LINKER_STAGE;
    OldLay(m_stage);
    m_curLevel = CELL_LEVEL;
    m_liRings = m_linkno < 1 ? 1 : m_linkno > WZ_LINK_ROWS - 1 ? WZ_LINK_ROWS - 1 : m_linkno;
    m_liHalf = m_liRings / 2 + 1;
    LiSort();
    unsigned char* work = Layer(240, 0);
    std::memset(work, UNMARKED, m_level[0].size);
    Layer(5, 0);
    Layer(56, CELL_LEVEL);
    Layer(36, CELL_LEVEL);
    LiHand();
    BitStart(Layer(179, CELL_LEVEL), m_level[CELL_LEVEL].size);
    m_linkAsk = static_cast<TestFn>(&Codex::LiAsk);
    m_section[TF_NEST] = static_cast<std::uint32_t>(Linkup());
    m_linkAsk = nullptr;
    DelLay(240, 0);
}

} // namespace wizard73
