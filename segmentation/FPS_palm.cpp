// Thumbs, palms and latent segmentation. Thumbs and palms binarise a reduced copy (200 dpi
// for thumbs, 50 dpi for palms) into a mask of 0 hand, 1 background, label its regions and
// pick, cut and code the rectangles; the full palm hands the input image to the hand model;
// the latent search labels the blocks of ridge pattern at one eighth of at most 400 dpi.

#include "segmentation/FPS_palm.h"

#include "imaging/graph8.h"
#include "imaging/graph8_bin.h"
#include "imaging/graph8_dir.h"
#include "imaging/graph8_scale.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int THUMB_DPI = 200;
constexpr int PALM_DPI = 50;
constexpr int LATENT_DPI = 400;
constexpr int LATENT_BLOCK_SHIFT = 3;
constexpr unsigned char BACKGROUND = 1;
constexpr unsigned char FIRST_LABEL = 10;
constexpr unsigned char LAST_LABEL = 253;
constexpr unsigned char RETIRED = 255;
constexpr unsigned char LATENT_FIRST_LABEL = 2;
constexpr unsigned char LATENT_GREY_FLOOR = 90;
constexpr int LOWER_PALM_LENGTH = 130;
constexpr int INTERDIGITAL_LENGTH = 45;
constexpr int WRITERS_PALM_LENGTH = 110;
constexpr int THUMB_GROWTH = 8;

bool PaInk(NIST_IMP_TYPE impression)
{
    return impression == NIST_IMP_NONLIVESCAN_PLAIN || impression == NIST_IMP_NONLIVESCAN_ROLLED;
}

// The next region label; past the last one the labels in use are retired.
unsigned char PaNextLabel(CFps& f, unsigned char colour, unsigned char restart)
{
    if (colour < LAST_LABEL) {
        return static_cast<unsigned char>(colour + 1);
    }
    ChangeColors8(f.m_work, f.m_workWidth, f.m_workHeight, FIRST_LABEL, LAST_LABEL, RETIRED);
    return restart;
}

// Pixels of colour in column x between rows y1 and y2.
int PaColumnCount(const CFps& f, int x, int y1, int y2, unsigned char colour)
{
    const int h = static_cast<int>(f.m_workHeight);
    if (x < 0 || x >= static_cast<int>(f.m_workWidth)) {
        return 0;
    }
    int n = 0;
    for (int y = y1 < 0 ? 0 : y1; y <= y2 && y < h; ++y) {
        n += f.m_work[static_cast<std::size_t>(y) * f.m_workWidth + x] == colour ? 1 : 0;
    }
    return n;
}

// Upright boxes of the regions of 0 (at most 100). A region at least splitHalfWidth wide
// (0: none) is cut down its axis and searched again; turn fits each box's angle.
void PaFindRects(CFps& f, int splitHalfWidth, bool turn)
{
    f.m_candCount = 0;
    const unsigned w = f.m_workWidth;
    const unsigned h = f.m_workHeight;
    if (w < 3 || h < 3) {
        return;
    }
    Border8(f.m_work, w, h, BACKGROUND);
    unsigned char colour = FIRST_LABEL;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    std::size_t pos = 0;
    while (pos < n) {
        if (f.m_work[pos] != 0) {
            ++pos;
            continue;
        }
        if (f.m_candCount == CFps::MAX_RECTS) {
            break;
        }
        unsigned char* seed = f.m_work + pos;
        Fill8(f.m_work, w, h, seed, colour);
        CSpot& spot = f.m_cand[f.m_candCount];
        spot.initV(f.m_work, w, h, seed, colour);
        // A cut that removes no pixel cannot split the region: it is kept as it is.
        if (splitHalfWidth > 0 && spot.m_hw >= splitHalfWidth &&
            PaColumnCount(f, spot.m_cx, spot.m_y1, spot.m_y2, colour) > 0) {
            LineV8(f.m_work, w, h, spot.m_cx, spot.m_y1, spot.m_y2, BACKGROUND);
            ChangeColor8(f.m_work, w, h, colour, 0);
            pos = 0;
        } else {
            if (turn) {
                spot.setAngleAuto(true);
            }
            ++f.m_candCount;
        }
        colour = PaNextLabel(f, colour, FIRST_LABEL);
    }
}

// Index of the candidate with the greatest length x half-width (the first of equals), or -1.
int PaLargest(const CFps& f)
{
    int best = -1;
    for (int i = 0; i < f.m_candCount; ++i) {
        const CSpot& s = f.m_cand[i];
        if (best < 0 || s.m_length * s.m_hw > f.m_cand[best].m_length * f.m_cand[best].m_hw) {
            best = i;
        }
    }
    return best;
}

// Shortens a box to length from its lower end upwards.
void PaCutFromBelow(CSpot& s, int length)
{
    if (s.m_length <= length) {
        return;
    }
    const double k = static_cast<double>(length) / s.m_length;
    const int x1 = static_cast<int>(s.m_x2 + (s.m_x1 - s.m_x2) * k);
    const int y1 = static_cast<int>(s.m_y2 + (s.m_y1 - s.m_y2) * k);
    s.init(x1, y1, s.m_x2, s.m_y2, s.m_hw);
}

// Finds the regions (turned to their axes when turned output is asked for) and puts the
// largest, cut to `length` from its lower end, into the first output slot; false when there is
// no region.
bool PaLargestPalm(CFps& f, int length)
{
    f.m_outCount = 0;
    PaFindRects(f, 0, f.m_rotated);
    const int best = PaLargest(f);
    if (best < 0) {
        return false;
    }
    f.m_out[0] = f.m_cand[best];
    PaCutFromBelow(f.m_out[0], length);
    return true;
}

// Puts the pair of candidates of greatest summed size (length x half-width) among the pairs
// `accept` takes into the first two output slots, left one first, coded leftCode and
// rightCode. Without such a pair the largest candidate stands alone, coded by the half of the
// image it lies in; with no candidate nothing is put out.
template <typename Accept>
void PaPlacePair(CFps& f, std::int32_t leftCode, std::int32_t rightCode, Accept accept)
{
    f.m_outCount = 0;
    int bi = -1;
    int bj = -1;
    int best = 0;
    for (int i = 0; i < f.m_candCount; ++i) {
        for (int j = i + 1; j < f.m_candCount; ++j) {
            const CSpot& p = f.m_cand[i];
            const CSpot& q = f.m_cand[j];
            if (!accept(p, q)) {
                continue;
            }
            const int sum = p.m_length * p.m_hw + q.m_length * q.m_hw;
            if (sum > best) {
                best = sum;
                bi = i;
                bj = j;
            }
        }
    }
    if (bi >= 0) {
        const bool iLeft = f.m_cand[bi].m_cx < f.m_cand[bj].m_cx;
        f.m_out[0] = f.m_cand[iLeft ? bi : bj];
        f.m_out[1] = f.m_cand[iLeft ? bj : bi];
        f.m_out[0].m_code = leftCode;
        f.m_out[1].m_code = rightCode;
        f.m_outCount = 2;
        return;
    }
    const int one = PaLargest(f);
    if (one < 0) {
        return;
    }
    f.m_out[0] = f.m_cand[one];
    f.m_out[0].m_code =
        f.m_out[0].m_cx < static_cast<int>(f.m_workWidth / 2) ? leftCode : rightCode;
    f.m_outCount = 1;
}

// The working hand of a palm whose caller did not say: 1 (left) for a box leaning right.
void PaDecideHand(CFps& f, const CSpot& s)
{
    if (f.m_workHand == SGM_HAND_UNKNOWN) {
        f.m_workHand = s.m_angle > 0 ? SGM_HAND_LEFT : SGM_HAND_RIGHT;
    }
}

// The shared palm preparation: at most 50 dpi, levels, blur and a global binarisation.
bool PaPalmMask(CFps& f, int blur)
{
    if (!f.ReduceWork(PALM_DPI, 0)) {
        return false;
    }
    Equalize8(f.m_work, f.m_workWidth, f.m_workHeight, 16);
    Blur8(f.m_work, f.m_workWidth, f.m_workHeight, blur);
    Binarization8(f.m_work, f.m_workWidth, f.m_workHeight);
    return true;
}

// Line deletions over the whole working image.
void PaDeleteH(CFps& f, unsigned char mark, int len)
{
    DeleteHLines8(f.m_work, f.m_workWidth, f.m_workHeight, 0, 0,
                  static_cast<int>(f.m_workWidth) - 1, static_cast<int>(f.m_workHeight) - 1, 0,
                  mark, len);
}

void PaDeleteV(CFps& f, unsigned char mark, int len)
{
    DeleteVLines8(f.m_work, f.m_workWidth, f.m_workHeight, 0, 0,
                  static_cast<int>(f.m_workWidth) - 1, static_cast<int>(f.m_workHeight) - 1, 0,
                  mark, len);
}

void PaDelete(CFps& f, unsigned char mark, int len)
{
    DeleteLines8(f.m_work, f.m_workWidth, f.m_workHeight, 0, 0, static_cast<int>(f.m_workWidth) - 1,
                 static_cast<int>(f.m_workHeight) - 1, 0, mark, len);
}

// A value of the hand model truncated to a working pixel; false when it is not a number or
// lies beyond any image.
bool PaPixel(double v, int& out)
{
    if (!(std::fabs(v) < 1e8)) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

// An output box from a band of the hand model; false when the band holds no usable number.
bool PaFromBand(const CRect4& band, CSpot& spot)
{
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    int w = 0;
    if (!PaPixel(band.x1(), x1) || !PaPixel(band.y1(), y1) || !PaPixel(band.x2(), x2) ||
        !PaPixel(band.y2(), y2) || !PaPixel(band.width(), w)) {
        return false;
    }
    spot.init(x1, y1, x2, y2, w);
    spot.m_pointCount = 0;
    return true;
}

} // namespace

int CFpsThumbs::Preprocessing()
{
    // 1. At most 200 dpi, levels and blur; ink on paper loses its darkest levels.
    if (!ReduceWork(THUMB_DPI, 0)) {
        return 0;
    }
    const unsigned w = m_workWidth;
    const unsigned h = m_workHeight;
    Equalize8(m_work, w, h, 16);
    Blur8(m_work, w, h, 4);
    if (PaInk(m_impression)) {
        const int mean = ArrGetMean8(m_work, static_cast<int>(w * h));
        ChangeColors8(m_work, w, h, 0, 3, static_cast<unsigned char>(mean + (255 - mean) / 2));
    }
    // 2. Each quadrant binarised on its own.
    const unsigned xs[2][2] = {{0, w / 2}, {w / 2 + 1, w - 1}};
    const unsigned ys[2][2] = {{0, h / 2}, {h / 2 + 1, h - 1}};
    for (const auto& x : xs) {
        for (const auto& y : ys) {
            const int code = BinarizationX8(m_work, w, h, x[0], y[0], x[1], y[1]);
            if (code != 0) {
                return code;
            }
        }
    }
    // 3. Clean-up.
    DeleteSpots8(m_work, w, h, 0, 1, 16);
    PaDelete(*this, 2, 24);
    ExpandLines8(m_work, w, h, 0, 1, 4);
    PaDelete(*this, 1, 8);
    return 0;
}

int CFpsThumbs::Recognition(SGM_FINGER* /*missing: the thumbs are told apart by position*/,
                            unsigned /*count*/)
{
    FindRects();
    FindThumbs();
    CorrectRectsLength(2.0, 3.0, 2.3);
    CorrectRects(8, 6, 0);
    CorrectThumbs();
    ExpandThumbs();
    return 0;
}

void CFpsThumbs::FindRects()
{
    PaFindRects(*this, static_cast<int>(m_workWidth / 3), false);
}

void CFpsThumbs::FindThumbs()
{
    // The pair of greatest size, left one first; one thumb is coded by the half of the image it
    // lies in.
    PaPlacePair(*this, SGM_FINGER_LEFT_THUMB, SGM_FINGER_RIGHT_THUMB,
                [](const CSpot&, const CSpot&) { return true; });
    for (int i = 0; i < m_outCount; ++i) {
        m_out[i].m_phalanx = 1;
    }
}

void CFpsThumbs::CorrectThumbs()
{
    if (m_outCount != 2) {
        return;
    }
    const int s = m_out[0].m_dy <= m_out[1].m_dy ? 0 : 1;
    CSpot& shorter = m_out[s];
    CSpot& longer = m_out[1 - s];
    const int d = std::abs(m_out[0].m_dy - m_out[1].m_dy);
    longer.init(longer.m_cx, longer.m_y1, longer.m_cx, longer.m_y2,
                static_cast<int>(1.1 * longer.m_hw));
    const int tS = shorter.m_y1;
    const int bS = shorter.m_y2;
    const int tL = longer.m_y1;
    const int bL = longer.m_y2;
    int top = 0;
    int bottom = 0;
    if (bL < bS && tL < tS) {
        top = tS - d;
        bottom = bS;
    } else if (tS < tL && bS < bL) {
        top = tS;
        bottom = bS + d;
    } else if (tL < tS && bS < bL) {
        top = tL;
        bottom = bL;
    } else {
        return;
    }
    shorter.init(shorter.m_cx, top, shorter.m_cx, bottom, static_cast<int>(1.1 * shorter.m_hw));
}

void CFpsThumbs::ExpandThumbs()
{
    const int e = THUMB_GROWTH >> (m_shift < 31 ? m_shift : 31);
    for (int i = 0; i < m_outCount; ++i) {
        CSpot& s = m_out[i];
        s.init(s.m_x1, s.m_y1 - e, s.m_x2, s.m_y2 + e, s.m_hw + e);
    }
}

int CFpsLowerPalm::Preprocessing()
{
    if (!PaPalmMask(*this, 5)) {
        return 0;
    }
    PaDeleteH(*this, 2, 24);
    PaDeleteV(*this, 2, 8);
    ExpandLines8(m_work, m_workWidth, m_workHeight, 0, 1, 4);
    return 0;
}

int CFpsLowerPalm::Recognition(SGM_FINGER* /*missing*/, unsigned /*count*/)
{
    // 1. The largest region is the palm, at most 130 long from its lower end.
    if (!PaLargestPalm(*this, LOWER_PALM_LENGTH)) {
        return 0;
    }
    CSpot& palm = m_out[0];
    // 2. Its upper end is the interdigital area.
    CSpot& inter = m_out[1];
    const double k = static_cast<double>(INTERDIGITAL_LENGTH) / palm.m_length;
    inter = palm;
    inter.init(palm.m_x1, palm.m_y1, static_cast<int>(palm.m_x1 + (palm.m_x2 - palm.m_x1) * k),
               static_cast<int>(palm.m_y1 + (palm.m_y2 - palm.m_y1) * k), palm.m_hw);
    // 3. Hand and codes.
    PaDecideHand(*this, palm);
    const bool left = m_workHand == SGM_HAND_LEFT;
    palm.m_code = left ? SGM_FINGER_LEFT_LOWER_PALM : SGM_FINGER_RIGHT_LOWER_PALM;
    inter.m_code = left ? SGM_FINGER_LEFT_INTERDIGITAL : SGM_FINGER_RIGHT_INTERDIGITAL;
    palm.m_phalanx = 0;
    inter.m_phalanx = 0;
    m_outCount = 2;
    return 0;
}

int CFpsLowerPalms::Preprocessing()
{
    if (!PaPalmMask(*this, 4)) {
        return 0;
    }
    PaDeleteH(*this, 1, 10);
    PaDeleteV(*this, 1, 4);
    return 0;
}

int CFpsLowerPalms::Recognition(SGM_FINGER* /*missing*/, unsigned /*count*/)
{
    const unsigned a = m_workWidth - m_workWidth / 4;
    m_outCount = 0;
    if (m_workWidth >= 3 && m_workHeight >= 3) {
        CFps::FindRects(a, a);
    } else {
        m_candCount = 0;
    }
    FindPalms();
    if (m_rotated) {
        SlapAutoRotate();
    }
    return 0;
}

void CFpsLowerPalms::FindPalms()
{
    // 1. Two palms side by side, overlapping in height.
    auto within = [](const CSpot& p, const CSpot& q) { return p.m_cy > q.m_y1 && p.m_cy < q.m_y2; };
    PaPlacePair(*this, SGM_FINGER_LEFT_LOWER_PALM, SGM_FINGER_RIGHT_LOWER_PALM,
                [&](const CSpot& p, const CSpot& q) {
                    return (within(p, q) || within(q, p)) &&
                           std::abs(p.m_cx - q.m_cx) > 0.8 * (p.m_hw + q.m_hw);
                });
    // 2. Palms longer than five half-widths keep four from their lower end.
    for (int i = 0; i < m_outCount; ++i) {
        CSpot& s = m_out[i];
        s.m_phalanx = 0;
        if (s.m_length > 5 * s.m_hw) {
            const int t = static_cast<int>(s.m_y2 - 4 * s.m_hw * s.m_A);
            s.init(s.getX(t), t, s.m_x2, s.m_y2, s.m_hw);
        }
    }
    // 3. Two palms of very different widths: the wider one gives way towards the other.
    if (m_outCount == 2) {
        CSpot& p = m_out[0];
        CSpot& q = m_out[1];
        const int d = std::abs(p.m_hw - q.m_hw);
        if (1.2 * p.m_hw < q.m_hw) {
            const int mx = -static_cast<int>(d * q.m_A);
            const int my = -static_cast<int>(d * q.m_B);
            q.init(q.m_x1 + mx, q.m_y1 + my, q.m_x2 + mx, q.m_y2 + my, p.m_hw);
        } else if (p.m_hw > 1.2 * q.m_hw) {
            const int mx = static_cast<int>(d * p.m_A);
            const int my = static_cast<int>(d * p.m_B);
            p.init(p.m_x1 + mx, p.m_y1 + my, p.m_x2 + mx, p.m_y2 + my, q.m_hw);
        }
    }
}

int CFpsWritersPalm::Preprocessing()
{
    if (!PaPalmMask(*this, 5)) {
        return 0;
    }
    FillCavities8(m_work, m_workWidth, m_workHeight, 10, 10);
    PaDeleteH(*this, 2, 9);
    PaDeleteV(*this, 2, 9);
    ExpandLines8(m_work, m_workWidth, m_workHeight, 0, 1, 5);
    return 0;
}

int CFpsWritersPalm::Recognition(SGM_FINGER* /*missing*/, unsigned /*count*/)
{
    if (!PaLargestPalm(*this, WRITERS_PALM_LENGTH)) {
        return 0;
    }
    CSpot& palm = m_out[0];
    PaDecideHand(*this, palm);
    palm.m_code =
        m_workHand == SGM_HAND_LEFT ? SGM_FINGER_LEFT_WRITERS_PALM : SGM_FINGER_RIGHT_WRITERS_PALM;
    palm.m_phalanx = 0;
    m_outCount = 1;
    return 0;
}

int CFpsFullPalm::CheckSize(unsigned width, unsigned height)
{
    if (width < static_cast<unsigned>(CImage::W)) {
        return SGM_BAD_WIDTH;
    }
    if (height < static_cast<unsigned>(CImage::H)) {
        return SGM_BAD_HEIGHT;
    }
    return 0;
}

int CFpsFullPalm::Preprocessing()
{
    return 0; // the hand model works on the input resolution
}

int CFpsFullPalm::Recognition(SGM_FINGER* /*missing*/, unsigned /*count*/)
{
    const int code = m_handModel.find(m_work, m_workWidth, m_workHeight, 0);
    return code == HAND_OK ? 0 : code;
}

int CFpsFullPalm::RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align)
{
    m_outCount = 0;
    // The palm first, then the phalanxes of each finger; nothing when no finger line was found.
    if (m_handModel.lineCount() > 0 && PaFromBand(m_handModel.rect(), m_out[0])) {
        const bool right = m_handModel.isRightHand() != 0;
        m_out[0].m_code = right ? SGM_FINGER_RIGHT_LOWER_PALM : SGM_FINGER_LEFT_LOWER_PALM;
        m_out[0].m_phalanx = 0;
        m_workHand = right ? SGM_HAND_RIGHT : SGM_HAND_LEFT;
        m_outCount = 1;
        for (int i = 0; i < m_handModel.fingersCount(); ++i) {
            const CFinger* finger = m_handModel.finger(i);
            for (int k = 0; k < finger->phalanxesCount() && m_outCount < MAX_RECTS; ++k) {
                const CPhalanx* phalanx = finger->phalanx(k);
                CSpot& spot = m_out[m_outCount];
                if (PaFromBand(phalanx->rect(), spot)) {
                    spot.m_code = finger->index();
                    spot.m_phalanx = phalanx->index() + 1;
                    ++m_outCount;
                }
            }
        }
    }
    return CFps::RectsOut(rects, rectCount, align);
}

int CFpsLatent::Preprocessing()
{
    // Latent boxes are upright; the pattern mask works at one eighth of at most 400 dpi.
    m_rotated = false;
    ReduceWork(LATENT_DPI, LATENT_BLOCK_SHIFT);
    return 0;
}

int CFpsLatent::FindRects()
{
    // 1. Pattern masks of the image and of its clamped copy, combined.
    m_candCount = 0;
    if (m_workWidth < 3 || m_workHeight < 3) {
        return 0;
    }
    unsigned w = m_workWidth;
    unsigned h = m_workHeight;
    unsigned char* raw = nullptr;
    int code = GetPatternMask8(m_work, w, h, raw);
    std::unique_ptr<unsigned char[]> first(raw);
    if (code != 0) {
        return code;
    }
    w = m_workWidth;
    h = m_workHeight;
    ArrSetMinMax8(m_work, w * h, LATENT_GREY_FLOOR, 255);
    raw = nullptr;
    code = GetPatternMask8(m_work, w, h, raw);
    std::unique_ptr<unsigned char[]> second(raw);
    if (code != 0) {
        return code;
    }
    Binary_AND8(first.get(), second.get(), w, h);
    // The working image becomes the block mask.
    std::memcpy(m_work, first.get(), static_cast<std::size_t>(w) * h);
    m_workWidth = w;
    m_workHeight = h;
    if (w < 3 || h < 3) {
        return 0;
    }
    // 2. Its regions of pattern, labelled from 2 on.
    Border8(m_work, w, h, BACKGROUND);
    unsigned char colour = LATENT_FIRST_LABEL;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    for (std::size_t pos = 0; pos < n && m_candCount < MAX_RECTS; ++pos) {
        if (m_work[pos] != 0) {
            continue;
        }
        unsigned char* seed = m_work + pos;
        Fill8(m_work, w, h, seed, colour);
        CSpot& spot = m_cand[m_candCount];
        if (spot.initV(m_work, w, h, seed, colour) == 0 && CheckRect(spot)) {
            spot.init(spot.m_x1, spot.m_y1 - 1, spot.m_x2, spot.m_y2 + 1, spot.m_hw + 1);
            ++m_candCount;
        }
        colour = PaNextLabel(*this, colour, FIRST_LABEL);
    }
    return 0;
}

bool CFpsLatent::CheckRect(const CSpot& spot)
{
    const int width = 2 * spot.m_hw;
    const int length = spot.m_length;
    const int area = spot.m_area;
    return width >= 5 && length >= 5 && length < 10 * spot.m_hw && area >= 4 &&
           width < 5 * length && area > 0.03 * width * length;
}

int CFpsLatent::Recognition(SGM_FINGER* /*missing*/, unsigned /*count*/)
{
    const int code = FindRects();
    if (code != 0) {
        return code;
    }
    // The largest region near the centre first.
    const int cx = static_cast<int>(m_workWidth / 2);
    const int cy = static_cast<int>(m_workHeight / 2);
    int best = -1;
    int bestValue = 0;
    for (int i = 0; i < m_candCount; ++i) {
        const CSpot& s = m_cand[i];
        const int v =
            14 * (std::abs(cx - s.m_cx) + std::abs(cy - s.m_cy)) - (s.m_length + 2 * s.m_hw);
        if (best < 0 || v < bestValue) {
            best = i;
            bestValue = v;
        }
    }
    if (best > 0) {
        const CSpot t = m_cand[0];
        m_cand[0] = m_cand[best];
        m_cand[best] = t;
    }
    return 0;
}

int CFpsLatent::RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align)
{
    m_outCount = 0;
    for (int i = 0; i < m_candCount; ++i) {
        m_out[m_outCount] = m_cand[i];
        m_out[m_outCount].m_code = 0;
        m_out[m_outCount].m_phalanx = 0;
        ++m_outCount;
    }
    return CFps::RectsOut(rects, rectCount, align);
}
