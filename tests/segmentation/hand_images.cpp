// Synthetic hands and bars: distance to a segment decides inside, horizontal sine ridges of
// period 9 pixels give the texture, light bands across the fingers the creases.

#include "tests/segmentation/hand_images.h"

#include <cmath>
#include <cstddef>

namespace handtest {
namespace {

constexpr unsigned char PAPER = 250;
constexpr unsigned char CREASE = 235;
constexpr double PERIOD = 9.0;

// Distance from (x, y) to the bar's axis segment; t is the position along it (0..1 inside).
double BaDistance(const Bar& b, double x, double y, double& t)
{
    const double dx = b.x2 - b.x1;
    const double dy = b.y2 - b.y1;
    const double l2 = dx * dx + dy * dy;
    t = l2 > 0 ? ((x - b.x1) * dx + (y - b.y1) * dy) / l2 : 0.0;
    const double tc = t < 0 ? 0 : (t > 1 ? 1 : t);
    const double px = b.x1 + tc * dx - x;
    const double py = b.y1 + tc * dy - y;
    return std::sqrt(px * px + py * py);
}

unsigned char BaRidge(int y)
{
    const double pi = std::acos(-1.0);
    return static_cast<unsigned char>(110 + 60 * std::sin(2 * pi * y / PERIOD));
}

} // namespace

const Bar kRightFingers[4] = {
    {680, 350, 680, 1150, 85},
    {930, 250, 930, 1150, 90},
    {1180, 320, 1180, 1150, 85},
    {1430, 550, 1430, 1150, 75},
};

std::vector<unsigned char> Hand(bool mirrored)
{
    const int w = HAND_SIDE;
    const int h = HAND_SIDE;
    const Bar thumb = {330, 850, 560, 1400, 100};
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h, PAPER);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int xx = mirrored ? w - 1 - x : x;
            bool in = xx >= 480 && xx <= 1520 && y >= 1050 && y <= 1900;
            bool crease = false;
            double t = 0.0;
            for (const Bar& f : kRightFingers) {
                if (BaDistance(f, xx, y, t) < f.hw) {
                    in = true;
                    const double along = (y - f.y1) / (f.y2 - f.y1);
                    crease = std::fabs(along - 0.25) * (f.y2 - f.y1) < 10 ||
                             std::fabs(along - 0.5) * (f.y2 - f.y1) < 10;
                }
            }
            in = in || BaDistance(thumb, xx, y, t) < thumb.hw;
            if (in) {
                img[static_cast<std::size_t>(y) * w + x] = crease ? CREASE : BaRidge(y);
            }
        }
    }
    return img;
}

std::vector<unsigned char> Bars(int w, int h, const std::vector<Bar>& bars)
{
    std::vector<unsigned char> img(static_cast<std::size_t>(w) * h, PAPER);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double t = 0.0;
            for (const Bar& b : bars) {
                if (BaDistance(b, x, y, t) < b.hw) {
                    img[static_cast<std::size_t>(y) * w + x] = BaRidge(y);
                    break;
                }
            }
        }
    }
    return img;
}

} // namespace handtest
