// CRank: histograms and transfer curves over the tables Ran and Lor (grey levels 0..255) and
// Cor (angles, Cor[90 + a] for a = -90..90). Curves through control points are Lagrange
// polynomials evaluated in 64-bit integers. Integer code only; nothing throws.

#include "extraction/engine/CRank.h"
#include "extraction/engine/FixedMath.h"

#include <cstdint>
#include <vector>

namespace wizard73 {
namespace {

int Clamp(std::int64_t v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : static_cast<int>(v);
}

// Lagrange polynomial through points {n, x1, y1, ..., xn, yn} at t; each term is divided on its
// own, truncating toward zero. A term whose denominator is 0 (two points on one x) is dropped.
std::int64_t Lagrange(const int* points, int t)
{
    const int n = points[0];
    const int* p = points + 1;
    std::int64_t sum = 0;
    for (int j = 0; j < n; ++j) {
        std::int64_t num = p[2 * j + 1];
        std::int64_t den = 1;
        for (int i = 0; i < n; ++i) {
            if (i != j) {
                num *= t - p[2 * i];
                den *= p[2 * j] - p[2 * i];
            }
        }
        if (den != 0) {
            sum += num / den;
        }
    }
    return sum;
}

// s / d rounded with halves away from zero; d > 0.
std::int64_t DivRound(std::int64_t s, std::int64_t d)
{
    return s >= 0 ? (s + d / 2) / d : -((-s + d / 2) / d);
}

int At(const int* table, int j, int n)
{
    return table[j < 0 ? 0 : j > n ? n : j];
}

// A product of an 8192-scaled cosine and a table value, brought back to units.
std::int64_t Back13(std::int64_t v)
{
    return v >= 0 ? (v + 4096) >> 13 : -((4096 - v) >> 13);
}

void Fill(int* table, int n, int v)
{
    for (int i = 0; i < n; ++i) {
        table[i] = v;
    }
}

void Mod(int* table, int n, int hi, const int* points)
{
    for (int t = 0; t < n; ++t) {
        table[t] = Clamp(Lagrange(points, t), 0, hi);
    }
}

void Gau(int* table, const int* points)
{
    for (int t = 0; t <= 127; ++t) {
        const int c = Clamp(Lagrange(points, t), 0, 255);
        table[t] = c;
        table[255 - t] = 255 - c;
    }
}

} // namespace

void CRank::RanIni(int v)
{
    Fill(Ran, 256, v);
}

void CRank::LorIni(int v)
{
    Fill(Lor, 256, v);
}

void CRank::CorIni(int v)
{
    Fill(Cor, 181, v);
}

void CRank::RanOrg()
{
    for (int g = 0; g < 256; ++g) {
        Ran[g] = g;
    }
}

void CRank::RanMod(const int* points)
{
    Mod(Ran, 256, 255, points);
}

void CRank::LorMod(const int* points)
{
    Mod(Lor, 256, 255, points);
}

void CRank::CorMod(const int* points)
{
    Mod(Cor, 181, 180, points);
}

void CRank::RanGau(const int* points)
{
    Gau(Ran, points);
}

void CRank::LorGau(const int* points)
{
    Gau(Lor, points);
}

// The curve at |a| with the sign of a: Cor[90 + a] = c(a), Cor[90 - a] = -c(a).
void CRank::CorGau(const int* points)
{
    for (int a = 0; a <= 90; ++a) {
        const int c = Clamp(Lagrange(points, a), 0, 90);
        Cor[90 + a] = c;
        Cor[90 - a] = -c;
    }
}

int CRank::AnyPow(const int* table, int n)
{
    int s = 0;
    for (int i = 0; i <= n; ++i) {
        s += table[i];
    }
    pow = s;
    return s;
}

int CRank::AnySup(const int* table, int n)
{
    int m = -1;
    for (int i = 0; i <= n; ++i) {
        m = i == 0 || table[i] > m ? table[i] : m;
    }
    sup = m;
    return m;
}

int CRank::AnyInf(const int* table, int n)
{
    int m = 0x7FFFFFFF; // empty range
    for (int i = 0; i <= n; ++i) {
        m = table[i] < m ? table[i] : m;
    }
    inf = m;
    return m;
}

void CRank::RanBeg(int permille)
{
    std::int64_t total = 0;
    for (int v : Ran) {
        total += v;
    }
    const std::int64_t p = permille * total / 1000;
    if (p - Ran[0] <= 0) {
        beg = 0;
        return;
    }
    std::int64_t acc = Ran[0];
    int g = 1;
    for (; g < 255; ++g) {
        acc += Ran[g];
        if (acc >= p) {
            break;
        }
    }
    beg = g;
}

void CRank::RanEnd(int permille)
{
    std::int64_t total = 0;
    for (int v : Ran) {
        total += v;
    }
    const std::int64_t p = permille * total / 1000;
    if (Ran[255] >= p) {
        end = 255;
        return;
    }
    std::int64_t acc = Ran[255];
    int g = 254;
    for (; g > 0; --g) {
        acc += Ran[g];
        if (acc >= p) {
            break;
        }
    }
    end = g;
}

void CRank::RanRes()
{
    for (int g = 0; g < 256; ++g) {
        Ran[g] = g <= beg ? 0 : g >= end ? 255 : 255 * (g - beg) / (end - beg);
    }
}

int CRank::RanUni()
{
    std::int64_t total = 0;
    for (int v : Ran) {
        total += v;
    }
    if (total == 0) {
        return 0;
    }
    std::int64_t acc = 0;
    for (int g = 0; g < 256; ++g) {
        acc += Ran[g];
        Ran[g] = static_cast<int>((255 * acc + total / 2) / total);
    }
    return 0;
}

int CRank::AnySha(const int* table, int n, int percent)
{
    if (n < 1) {
        return n;
    }
    std::int64_t sum = 0;
    for (int i = 0; i <= n; ++i) {
        sum += table[i];
    }
    const std::int64_t goal = percent * sum / 100;
    int k = n;
    std::int64_t acc = table[n];
    while (acc < goal) {
        --k;
        if (k == 0) {
            break;
        }
        acc += table[k];
    }
    return k;
}

void CRank::AnyLog(int* table, int scale, int n)
{
    if (n < 1) {
        if (n == 0) {
            table[0] = 0; // TabLog[0]
        }
        return;
    }
    for (int i = 0; i <= n; ++i) {
        table[i] = static_cast<int>(static_cast<std::int64_t>(TabLog[i * 255 / n]) * scale / 2048);
    }
}

void CRank::AnyNor(int divisor, int* table, int n)
{
    if (divisor == 0) {
        return; // no scale to normalise by: the table stays
    }
    for (int i = 0; i <= n; ++i) {
        table[i] = static_cast<int>(static_cast<std::int64_t>(table[i]) * 256 / divisor);
    }
}

void CRank::AnyMat(int r, int* out, const int* in, int n)
{
    for (int i = 0; i <= n; ++i) {
        std::int64_t s = 0;
        for (int j = i - r; j <= i + r; ++j) {
            s += At(in, j, n);
        }
        out[i] = static_cast<int>(DivRound(s, 2 * r + 1));
    }
}

void CRank::AnySmo(int r, int* table, int n)
{
    if (n < 0) {
        return;
    }
    std::vector<int> copy(table, table + n + 1);
    AnyMat(r, table, copy.data(), n);
}

void CRank::AnyDev(int r, int* out, const int* in, int n)
{
    for (int i = 0; i <= n; ++i) {
        if (r <= 0) {
            out[i] = 0;
            continue;
        }
        std::int64_t s = 0;
        for (int j = 1; j <= r; ++j) {
            s += At(in, i + j, n) - At(in, i - j, n);
        }
        out[i] = static_cast<int>(DivRound(s, 2 * r));
    }
}

int CRank::Rraise(const int* table, int n, int level, int from)
{
    if (from > n) {
        return from;
    }
    int m = level;
    for (int k = from; k <= n; ++k) {
        if (table[k] >= m) {
            m = table[k];
        } else if (m > level) {
            return k;
        }
    }
    return n + 1;
}

int CRank::Rlower(const int* table, int n, int level, int from)
{
    if (from > n) {
        return from;
    }
    int m = level;
    for (int k = from; k <= n; ++k) {
        if (table[k] <= m) {
            m = table[k];
        } else if (m < level) {
            return k;
        }
    }
    return n + 1;
}

int CRank::Rfloat(const int* table, int n, int level, int count)
{
    for (int pass = 0; pass < 10; ++pass) {
        int found = 0;
        int k = 0;
        while (k <= n) {
            k = Rraise(table, n, level, k);
            if (k < n) {
                ++found;
            }
            k = Rlower(table, n, level, k);
        }
        if (found >= count) {
            break;
        }
        level = level * 90 / 100;
    }
    return level;
}

void CRank::GauSqr(int step)
{
    for (int i = 0; i <= 127; ++i) {
        std::int64_t v = static_cast<std::int64_t>(i) * i * i * step;
        v = v < 0 ? 0 : v > 0x7FFFFFFF ? 0x7FFFFFFF : v;
        const int r = sqri(sqri(static_cast<int>(v)));
        Ran[127 - i] = Clamp(127 - r, 0, 255);
        Ran[128 + i] = 255 - Ran[127 - i];
    }
}

int CRank::RanImp(int scale) const
{
    std::int64_t sum = 0;
    int top = Ran[0];
    for (int v : Ran) {
        sum += v;
        top = v > top ? v : top;
    }
    return sum == 0 ? 0 : static_cast<int>(static_cast<std::int64_t>(scale) * top / sum);
}

void CRank::CorCos(int width, int n, int invert, int raise, int* out, const int* in)
{
    if (n < 0 || width < 1 || out == nullptr || in == nullptr) {
        return;
    }
    const int h = width / 2;
    for (int i = 0; i <= n; ++i) {
        std::int64_t s = 0;
        for (int j = 0; j <= h; ++j) {
            const std::int64_t c = CosDeg(180 * j / width);
            s += Back13(c * At(in, i - j, n)) + Back13(c * At(in, i + j, n)) -
                 Back13(c * At(in, i - (width - j), n)) - Back13(c * At(in, i + (width - j), n));
        }
        const std::int64_t v = (invert != 0 ? -8 : 8) * s / (4 * (h + 1));
        const int vp = v > 0 ? static_cast<int>(v) : 0;
        if (raise != 0 ? out[i] < vp : vp < out[i]) {
            out[i] = vp;
        }
    }
}

} // namespace wizard73
