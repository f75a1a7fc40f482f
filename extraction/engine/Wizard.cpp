// Construction, reset and destruction of the engine object, the slot-count maps and the
// template seal. Construction allocates nothing on the heap; the per-image layer block, work
// planes and index tables are freed by DelDoc / DelTab and by the destructor.

#include "extraction/engine/Codex.h"

#include <cstring>

namespace wizard73 {

// clang-format off
const int pyr[5][5] = {
    { 7, 23, 23, 52, 0},
    { 8, 24, 24, 54, 0},
    {14, 24, 24, 62, 0},
    { 6,  4,  4,  4, 4},
    { 9,  1,  1,  1, 0},
};
// clang-format on

CBase::CBase()
    : m_level{}, m_map{pyr[0], pyr[1], pyr[2], pyr[3], pyr[4]}, m_stage(0), m_claims(0), m_error(0),
      m_curLevel(0), m_scanLevel(0), m_fineLevel(0), m_winLeft(0), m_winTop(0), m_winRight(-1),
      m_winBottom(-1), m_scratch{}
{
    CBase::SetMap(pyr[3]);
    CBase::ResDoc();
    CBase::Resume();
    m_fresh = static_cast<ActFn>(&CBase::Deaden);
}

CBase::~CBase()
{
    CBase::DelDoc();
    CBase::DelTab();
    CBase::ResDoc();
    CBase::Resume();
}

void CBase::DelDoc()
{
    m_block.reset();
    for (auto& p : m_plane) {
        p.reset();
    }
    for (CLevel& lv : m_level) { // no slot keeps a pointer into the freed block
        for (auto& b : lv.buf) {
            b = nullptr;
        }
    }
}

void CBase::DelTab()
{
    m_rowOff.reset();
    m_coord.reset();
}

void CBase::ResDoc()
{
    for (CLevel& lv : m_level) {
        for (int s = 0; s < WZ_SLOTS; ++s) {
            lv.buf[s] = nullptr;
            lv.key[s] = WZ_FREE_KEY;
            lv.stamp[s] = -1;
        }
        lv.scale = 0;
        lv.width = 0;
        lv.height = 0;
        lv.size = 0;
        lv.peak = 0;
    }
    // Owned blocks are released here rather than forgotten, so no reset order can leak them.
    m_block.reset();
    for (auto& p : m_plane) {
        p.reset();
    }
    m_rowOff.reset();
    m_coord.reset();
    std::memset(m_scratch, 0, sizeof m_scratch);
}

int CBase::SetMod(unsigned char* rec)
{
    const std::uint32_t n =
        rec[0] | (rec[1] << 8) | (rec[2] << 16) | (static_cast<std::uint32_t>(rec[3]) << 24);
    if (n < 5) {
        return 0; // too short to hold a trailer: nothing is written
    }
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i + 4 < n; ++i) {
        sum = (sum + rec[i]) % 251;
    }
    rec[n - 4] = 0;
    rec[n - 3] = 0;
    rec[n - 2] = 0;
    rec[n - 1] = static_cast<unsigned char>(sum);
    return static_cast<int>(sum);
}

bool CBase::VerMod(unsigned char* rec)
{
    const std::uint32_t n =
        rec[0] | (rec[1] << 8) | (rec[2] << 16) | (static_cast<std::uint32_t>(rec[3]) << 24);
    if (n == 0) {
        return false; // no seal byte to compare
    }
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i + 1 < n; ++i) {
        sum = (sum + rec[i]) % 251;
    }
    return rec[n - 1] == sum;
}

CWork::CWork()
    : W(EngineTables().W + 180), Cd(EngineTables().Cd), Sd(EngineTables().Sd),
      Cb(EngineTables().Cb), Sb(EngineTables().Sb), Ex(EngineTables().Ex), Ey(EngineTables().Ey),
      Rad(EngineTables().Rad), m_rank{}, m_flag(1), m_amp(0), m_cosSum{}, m_sinSum{}, m_wSum{},
      m_frontCos(0), m_frontSin(0), m_backCos(0), m_backSin(0), m_rotSum{}, m_rotCount{},
      m_rotPoints(0), m_minutiae(0), m_minutiae2(0), m_singular(0)
{
    CWork::ResDoc();
}

void CWork::ResDoc()
{
    m_minutiae = 0;
    m_minutiae2 = 0;
    m_singular = 0;
}

Codex::Codex() : m_runFlags{}, m_quick(0)
{
    Codex::ResDoc();
}

void Codex::ResDoc()
{
    m_stage = 0;
    m_imgppi = 500;
    m_tplppi = 500;
    m_linkno = 17;
    m_passxy = 20;
    m_passan = 20;
    m_qualit = 0;
    m_densit = 0;
    m_immask = 0;
    m_kind = 0;
    m_square = 0;
    std::memset(m_section, 0, sizeof m_section);
    m_recordLength = 0;
}

void Codex::Reset()
{
    DelDoc();
    ResDoc();
    Resume();
    DelTab();
}

} // namespace wizard73
