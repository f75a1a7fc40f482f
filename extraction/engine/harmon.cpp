// Stage 15, Harmon: the ridge period map. From the 14-channel energies of stage 14 (layers
// 64..77) it picks one period code per level-3 pixel (bin k = code k + 4, quick mode k + 2),
// erases rough and weak codes, refills gaps from the neighbours, rates the clarity (118, 0..90,
// 0 = clearest) and the largest response (116), and carries the smoothed code map (56) down to
// the asked level (1..3). Work layers 96..109 and 240 are deleted. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace wizard73 {

// Erase weights {strength, roughness, S99 divisor}; rewritten at every run.
int Coasis[3] = {2, 6, 9};

namespace {

constexpr int HARMON_STAGE = 15;
constexpr int FLOW_LEVEL = 3;
constexpr int CHANNELS = 14;
constexpr int PHASE_SCALE = 240;
constexpr int START_PENALTY = 67;
constexpr int LAST_PENALTY = 21;
constexpr int MAX_AMPLITUDE = 254; // rows of the end-point table
constexpr int DEFAULT_CODE = 10;
constexpr int kRingSize[4] = {8, 24, 44, 68};

// Harmonic weights: row k, column j < k: how much a shorter bin j explains bin k.
constexpr unsigned char Hlaw(int k, int j)
{
    return j <= k / 2 - 2 ? 16 : (k >= 3 && (k & 1) != 0 && j == (k - 3) / 2) ? 9 : 0;
}

// Index of the largest value, ties to the lower index; -1 when the largest is below 1.
int Peak(const int* v, int n)
{
    int best = 0;
    for (int k = 1; k < n; ++k) {
        if (v[k] > v[best]) {
            best = k;
        }
    }
    return v[best] < 1 ? -1 : best;
}

// A ring point's code q in the roughness sums around the centre code c (HaLapl), and in the
// refill sums (HaNear); code 0 counts for neither.
void HaRough(int q, int c, int& count, int& sum)
{
    if (q != 0) {
        ++count;
        sum += (c - q) * (c - q);
    }
}

void HaRefill(int q, int& count, int& sum)
{
    if (q != 0) {
        ++count;
        sum += q;
    }
}

} // namespace

void Codex::HaLapl(int, int)
{
    HaRough(*m_walk[0], m_haCode, m_haCount, m_haSum);
}

void Codex::HaNear(int, int)
{
    HaRefill(*m_walk[0], m_haCount, m_haSum);
}

namespace {

// Phase windows of the bins around a predicted code P: the table angle of bin k is
// min(|k + shift - P| * PHASE_SCALE / (P + 1), 90), and its window the sine table's entry at
// that angle. A run has one shift, so the windows of each code 0..255 are made once.
class PhaseWindows {
public:
    PhaseWindows(const Codex& cx, int shift) : m_cx(cx), m_shift(shift) {}

    const std::int16_t* Row(int pred)
    {
        if (pred < 0 || pred > 255) {
            Make(pred, m_spare);
            return m_spare;
        }
        if (m_known[pred] == 0) {
            Make(pred, m_window[pred]);
            m_known[pred] = 1;
        }
        return m_window[pred];
    }

private:
    void Make(int pred, std::int16_t* window) const
    {
        for (int k = 0; k < CHANNELS; ++k) {
            int phase = (k + m_shift - pred) * PHASE_SCALE / (pred + 1);
            phase = phase < 0 ? -phase : phase;
            phase = phase > 90 ? 90 : phase;
            window[k] = m_cx.Ey[phase][phase];
        }
    }

    const Codex& m_cx;
    int m_shift;
    std::int16_t m_window[256][CHANNELS];
    std::int16_t m_spare[CHANNELS];
    unsigned char m_known[256] = {};
};

// Bin weighting around a predicted code: v[k] = cos of the bin's phase distance (its window),
// scaled by the bin's response (clamped to the table's amplitudes). Returns the peak bin or -1.
int PhasePeak(const Codex& cx, const int* s, const std::int16_t* window)
{
    int v[CHANNELS];
    for (int k = 0; k < CHANNELS; ++k) {
        const int amp = std::min(s[k], MAX_AMPLITUDE);
        v[k] = cx.Ex[amp][window[k]];
    }
    return Peak(v, CHANNELS);
}

} // namespace

void Codex::Harmon(int level)
{
    const bool quick = m_quick != 0;
    Coasis[0] = 2;
    Coasis[1] = 6;
    Coasis[2] = quick ? 10 : 9;
    if (GetKey(64, FLOW_LEVEL) == -1) {
        Furiew(1);
    }
    m_stage = HARMON_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const int target = level < 1 ? 1 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    const int shift = quick ? 2 : 4;
    PhaseWindows windows(*this, shift);
    const CLevel& l3 = m_level[FLOW_LEVEL];
    const int w = l3.width;
    const int h = l3.height;
    const int n = static_cast<int>(l3.size);
    m_rank.LorIni(0);

    unsigned char* code = Layer(240, FLOW_LEVEL);
    unsigned char* power = Layer(116, FLOW_LEVEL);
    unsigned char* rough = Layer(118, FLOW_LEVEL);
    const unsigned char* raw[CHANNELS];
    unsigned char* fixd[CHANNELS];
    for (int k = 0; k < CHANNELS; ++k) {
        raw[k] = Layer(64 + k, FLOW_LEVEL);
        fixd[k] = Layer(96 + k, FLOW_LEVEL);
    }
    auto gather = [](const unsigned char* const* g, int at, int* s) {
        for (int k = 0; k < CHANNELS; ++k) {
            s[k] = g[k][at];
        }
    };

    // 1. Dominant period with harmonic correction.
    for (int i = 0; i < n; ++i) {
        int s[CHANNELS];
        int t[CHANNELS];
        gather(raw, i, s);
        code[i] = 0;
        if (!quick) {
            t[0] = s[0];
            for (int k = 1; k < CHANNELS; ++k) {
                int m = 0;
                for (int j = 0; j < k; ++j) {
                    m = std::max(m, s[j] * Hlaw(k, j));
                }
                t[k] = std::max(0, s[k] - m / 24);
            }
        } else {
            int wk[CHANNELS];
            int big = std::max({std::max(s[0], 1), 15 * s[0]});
            int top = 1;
            for (int k = 0; k < CHANNELS; ++k) {
                wk[k] = (15 - k) * s[k];
                big = k > 0 ? std::max(big, s[k]) : big;
                top = std::max(top, wk[k]);
            }
            for (int k = 0; k < CHANNELS; ++k) {
                t[k] = wk[k] * big / top;
            }
        }
        for (int k = 0; k < CHANNELS; ++k) {
            fixd[k][i] = static_cast<unsigned char>(std::min(t[k], 255)); // bytes saturate
        }
        const int p = Peak(t, CHANNELS);
        if (p >= 0) {
            code[i] = static_cast<unsigned char>(p + shift);
            power[i] = static_cast<unsigned char>(std::min(t[p], 255));
            ++m_rank.Lor[power[i]];
        }
    }
    const int s99 = m_rank.LorSha(1) + 1;

    // 2. Roughness of the code map, with a falling penalty for missing neighbours.
    m_ringPoint = static_cast<RingFn>(&Codex::HaLapl);
    int r99 = 1;
    for (int penalty = START_PENALTY;; penalty -= 2) {
        m_rank.RanIni(0);
        const int ringN = kRingSize[3];
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int at = y * w + x;
                if (code[at] == 0) {
                    continue;
                }
                m_haCode = code[at];
                // HaLapl over the ring with its sums in locals, points read by offset.
                int count = 1;
                int sum = 0;
                const unsigned char* centre = code + at;
                const int c = m_haCode;
                WalkAt(x, y, FLOW_LEVEL, nullptr, code);
                RingOffsets(FLOW_LEVEL, 3, 1, [&count, &sum, centre, c](int, int off) {
                    HaRough(centre[off], c, count, sum);
                });
                m_haCount = count;
                m_haSum = sum;
                const int r =
                    ClampByte(2 * m_haSum / m_haCount + penalty * (ringN - m_haCount) / ringN);
                rough[at] = static_cast<unsigned char>(r);
                ++m_rank.Ran[r];
            }
        }
        r99 = m_rank.RanSha(1) + 1;
        if (r99 <= 2 * s99 || penalty - 2 < LAST_PENALTY) {
            break;
        }
    }

    // 3. Erase weak codes in rough places.
    for (int i = 0; i < n; ++i) {
        if (code[i] == 0) {
            continue;
        }
        const int q = s99 * rough[i] / r99;
        if (s99 / Coasis[2] > Coasis[0] * power[i] - Coasis[1] * q) {
            code[i] = 0;
        }
    }

    // 4. Refill from the coded neighbours, radius 3, 2, 1, then 0 until nothing changes.
    m_ringPoint = static_cast<RingFn>(&Codex::HaNear);
    for (int radius = 3; radius >= 0;) {
        bool changed = false;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int at = y * w + x;
                rough[at] = 0;
                if (code[at] != 0) {
                    continue;
                }
                // HaNear over the ring with its sums in locals, points read by offset.
                int count = 0;
                int sum = 0;
                const unsigned char* centre = code + at;
                WalkAt(x, y, FLOW_LEVEL, nullptr, code);
                RingOffsets(FLOW_LEVEL, radius, 1, [&count, &sum, centre](int, int off) {
                    HaRefill(centre[off], count, sum);
                });
                m_haCount = count;
                m_haSum = sum;
                if (m_haCount <= radius + 2) {
                    continue;
                }
                const int pred = (m_haSum + m_haCount / 2) / m_haCount;
                int s[CHANNELS];
                gather(fixd, at, s);
                const int p = PhasePeak(*this, s, windows.Row(pred));
                const int cand = p >= 0 ? p + shift : pred;
                const int bin = cand - shift;
                if (radius > 0 && bin >= 0 && bin < CHANNELS &&
                    ((bin + 1 < CHANNELS && s[bin + 1] > s[bin]) ||
                     (bin > 0 && s[bin - 1] > s[bin]))) {
                    continue;
                }
                rough[at] = static_cast<unsigned char>(cand);
            }
        }
        for (int i = 0; i < n; ++i) {
            if (rough[i] != 0) {
                code[i] = rough[i];
                changed = true;
            }
        }
        if (radius > 0) {
            --radius;
        } else if (!changed) {
            break;
        }
    }

    // 5. Clarity: how far the chosen bin stands above the bins around it (bounded to 0..90).
    for (int i = 0; i < n; ++i) {
        if (code[i] == 0) {
            code[i] = DEFAULT_CODE;
        }
        int s[CHANNELS];
        gather(raw, i, s);
        power[i] = static_cast<unsigned char>(*std::max_element(s, s + CHANNELS));
        const int c = code[i] - shift;
        if (code[i] < 2 || c < 0 || c >= CHANNELS) {
            rough[i] = 90;
            continue;
        }
        int sum = 0;
        int terms = 0;
        int best = 0;
        bool any = false;
        for (int d = 1; d <= code[i] - 1; ++d) {
            if (c - d >= 0) {
                sum += s[c] - s[c - d];
                ++terms;
            }
            if (c + d < CHANNELS) {
                sum += s[c] - s[c + d];
                ++terms;
            }
            if (terms > 0) {
                const int v = power[i] * sum / ((s[c] + 1) * terms);
                best = any ? std::max(best, v) : v;
                any = true;
            }
        }
        rough[i] = static_cast<unsigned char>(90 - std::clamp(best, 0, 90));
    }

    // 6. Descent: the smoothed code of each coarse pixel predicts the finer pixels' codes.
    auto smooth = [this, quick](const unsigned char* c36, const unsigned char* c240, int at,
                                int cw) {
        if (!quick) {
            m_w = cw;
            return Fiimpo(c36[at], c240 + at, 0);
        }
        int v[9];
        int m = 0;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                v[m++] = c240[at + dy * cw + dx];
            }
        }
        static const int second[9] = {0, 1, 0, 0, 0, 0, 0, 0, 0};
        return RankMean(v, 9, second, 0); // the second-lowest code
    };
    for (int lv = FLOW_LEVEL; lv > target; --lv) {
        const CLevel& cl = m_level[lv];
        const CLevel& fl = m_level[lv - 1];
        const unsigned char* c36 = Layer(36, lv);
        const unsigned char* c240 = Layer(240, lv);
        unsigned char* c56 = Layer(56, lv);
        unsigned char* f240 = Layer(240, lv - 1);
        const unsigned char* fs[CHANNELS];
        for (int k = 0; k < CHANNELS; ++k) {
            fs[k] = Layer(64 + k, lv - 1);
        }
        const int q = cl.scale / fl.scale;
        for (int y = 0; y < cl.height; ++y) {
            for (int x = 0; x < cl.width; ++x) {
                const int at = y * cl.width + x;
                const bool inner = x >= 1 && y >= 1 && x < cl.width - 1 && y < cl.height - 1;
                c56[at] =
                    static_cast<unsigned char>(inner ? smooth(c36, c240, at, cl.width) : c240[at]);
                const int pred = c56[at];
                const int x0 = BlockStart(x, q, fl.width);
                const int y0 = BlockStart(y, q, fl.height);
                for (int yy = y0; yy < y0 + q && yy < fl.height; ++yy) {
                    for (int xx = x0; xx < x0 + q && xx < fl.width; ++xx) {
                        const int o = yy * fl.width + xx;
                        int s[CHANNELS];
                        gather(fs, o, s);
                        const int p = PhasePeak(*this, s, windows.Row(pred));
                        f240[o] = static_cast<unsigned char>(p >= 0 ? p + shift : pred);
                    }
                }
            }
        }
    }
    {
        const CLevel& fl = m_level[target];
        const unsigned char* c36 = Layer(36, target);
        const unsigned char* c240 = Layer(240, target);
        unsigned char* c56 = Layer(56, target);
        for (int y = 0; y < fl.height; ++y) {
            for (int x = 0; x < fl.width; ++x) {
                const int at = y * fl.width + x;
                const bool inner = x >= 1 && y >= 1 && x < fl.width - 1 && y < fl.height - 1;
                c56[at] =
                    static_cast<unsigned char>(inner ? smooth(c36, c240, at, fl.width) : c240[at]);
            }
        }
    }
    Resume();

    for (int lv = target; lv <= FLOW_LEVEL; ++lv) {
        for (int k = 0; k < CHANNELS; ++k) {
            DelLay(64 + k, lv);
            DelLay(96 + k, lv);
        }
        DelLay(240, lv);
    }
}

} // namespace wizard73
