// The engine's histogram object: integer tables used as histograms (grey levels, angles) and as
// transfer curves built from control points {n, x1, y1, ..., xn, yn}. Integer code only;
// nothing throws except the heap copy of AnySmo on tables longer than 256 entries.
#pragma once

namespace wizard73 {

class CRank {
public:
    int inf;      // last minimum of AnyInf
    int sup;      // last maximum of AnySup
    int pow;      // last sum of AnyPow
    int beg;      // grey level found by RanBeg
    int end;      // grey level found by RanEnd
    int spare[4]; // words no member here touches
    int* corIn;   // tables of the four-argument CorCos
    int* corOut;
    int Cor[181]; // angle curve; Cor[90 + a] serves a = -90..90
    int Ran[256]; // grey levels
    int Lor[256];

    void RanIni(int v);
    void LorIni(int v);
    void CorIni(int v);
    void RanOrg();
    void RanMod(const int* points);
    void LorMod(const int* points);
    void CorMod(const int* points);
    void RanGau(const int* points);
    void LorGau(const int* points);
    void CorGau(const int* points);
    int AnyPow(const int* table, int n);
    int AnySup(const int* table, int n);
    int AnyInf(const int* table, int n);
    void RanBeg(int permille);
    void RanEnd(int permille);
    void RanRes();
    int RanUni();
    static int AnySha(const int* table, int n, int percent);
    int RanSha(int percent) const { return AnySha(Ran, 255, percent); }
    int LorSha(int percent) const { return AnySha(Lor, 255, percent); }
    static void AnyLog(int* table, int scale, int n);
    void RanLog(int scale) { AnyLog(Ran, scale, 255); }
    void LorLog(int scale) { AnyLog(Lor, scale, 255); }
    static void AnyNor(int divisor, int* table, int n);
    static void AnyMat(int r, int* out, const int* in, int n);
    static void AnySmo(int r, int* table, int n);
    void RanSmo(int r) { AnySmo(r, Ran, 255); }
    void LorSmo(int r) { AnySmo(r, Lor, 255); }
    void CorSmo(int r) { AnySmo(r, Cor, 180); }
    static void AnyDev(int r, int* out, const int* in, int n);
    static int Rraise(const int* table, int n, int level, int from);
    static int Rlower(const int* table, int n, int level, int from);
    static int Rfloat(const int* table, int n, int level, int count);
    void GauSqr(int step);
    int RanImp(int scale) const;
    static void CorCos(int width, int n, int invert, int raise, int* out, const int* in);
    void CorCos(int width, int n, int invert, int raise)
    {
        CorCos(width, n, invert, raise, corOut, corIn);
    }
};

} // namespace wizard73
