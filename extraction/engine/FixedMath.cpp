// Integer square root of the extraction engine beyond its inline range, and the process-wide
// tables derived from TabSin (ring weights, direction words and bytes, polar offsets,
// distances). Pure integer code; the tables are built by the compiler.

#include "extraction/engine/FixedMath.h"

namespace wizard73 {
namespace {

// Root of the non-negative n by the table, the blend beyond it. Domain: n >= 0.
constexpr int RootOf(int n)
{
    if (n <= 65024) {
        return TabSqr[static_cast<std::size_t>(n)];
    }
    if (n / 2 <= 65024) {
        return RootFirstBlend(n);
    }
    return RootBlend(RootOf(n / 2), RootOf(n / 3), RootOf(n / 4), RootOf(n / 5), RootOf(n / 6));
}

constexpr CTables MakeTables()
{
    CTables t{};
    for (int a = -180; a <= 180; ++a) {
        t.W[a + 180] = Descale13(64 * CosDeg(a < 0 ? -a : a));
    }
    for (int k = 0; k < 180; ++k) {
        t.Cd[k] = Descale13(256 * CosDeg(2 * k));
        t.Sd[k] = Descale13(256 * SinDeg(2 * k));
        t.Cb[k] = static_cast<std::int8_t>(Descale13(64 * CosDeg(2 * k)));
        t.Sb[k] = static_cast<std::int8_t>(Descale13(64 * SinDeg(2 * k)));
    }
    for (int m = 0; m < 255; ++m) {
        for (int a = 0; a < 360; ++a) {
            t.Ex[m][a] = static_cast<std::int16_t>(Descale13(m * CosDeg(a)));
            t.Ey[m][a] = static_cast<std::int16_t>(Descale13(m * SinDeg(a)));
        }
    }
    for (int i = 0; i < 30; ++i) {
        for (int j = 0; j < 30; ++j) {
            t.Rad[i][j] = static_cast<std::uint8_t>(RootOf(i * i + j * j));
        }
    }
    return t;
}

constexpr CTables kTables = MakeTables();
static_assert(kTables.W[180] == 64 && kTables.W[0] == -64 && kTables.W[270] == 0);
static_assert(kTables.Cd[0] == 256 && kTables.Sd[45] == 256 && kTables.Cb[90] == -64);
static_assert(kTables.Ex[254][0] == 254 && kTables.Ey[254][270] == -254);
static_assert(kTables.Rad[3][4] == 5 && kTables.Rad[29][29] == 41);

} // namespace

const CTables& EngineTables()
{
    return kTables;
}

int SqriBlend(int n)
{
    return RootOf(n);
}

} // namespace wizard73
