// Draws the rectangles that FSeg finds onto a grey PGM or WSQ image and writes a colour PPM.
// Usage: seg_overlay <in.pgm|in.wsq> <out.ppm> [type 0|1] [dpi] [rotated 0|1] [hand 0..4]
//        [impression]
// Prints the result code and one line per rectangle (code, phalanx, four corners).

#include "segmentation/FSeg.h"
#include "wsq/Wsq.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Binary PGM (P5, maxval 255); false for anything else.
bool ReadPgm(const char* path, std::vector<unsigned char>& pixels, unsigned& w, unsigned& h)
{
    std::ifstream f(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)),
                                           std::istreambuf_iterator<char>());
    std::size_t pos = 2;
    auto number = [&](unsigned long& v) {
        while (pos < bytes.size() && (std::isspace(bytes[pos]) != 0 || bytes[pos] == '#')) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') {
                    ++pos;
                }
            } else {
                ++pos;
            }
        }
        v = 0;
        int digits = 0;
        while (pos < bytes.size() && std::isdigit(bytes[pos]) != 0 && digits < 9) {
            v = v * 10 + (bytes[pos++] - '0');
            ++digits;
        }
        return digits > 0;
    };
    unsigned long width = 0;
    unsigned long height = 0;
    unsigned long maxval = 0;
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5' || !number(width) ||
        !number(height) || !number(maxval) || maxval != 255) {
        return false;
    }
    ++pos;
    const std::size_t n = width * height;
    if (pos > bytes.size() || bytes.size() - pos < n) {
        return false;
    }
    pixels.assign(bytes.begin() + static_cast<long>(pos),
                  bytes.begin() + static_cast<long>(pos + n));
    w = static_cast<unsigned>(width);
    h = static_cast<unsigned>(height);
    return true;
}

// A WSQ stream decoded; false when it does not decode.
bool ReadWsq(const char* path, std::vector<unsigned char>& pixels, unsigned& w, unsigned& h)
{
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(f)),
                                    std::istreambuf_iterator<char>());
    const int size = static_cast<int>(data.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(data.data(), size));
    void* inst = init_instance();
    int width = 0;
    int height = 0;
    bool ok = inst != nullptr && wsq_decode(inst, nullptr, data.data(), size, &width, &height,
                                            guard) == WSQ_SIZE_QUERY;
    if (ok) {
        pixels.resize(static_cast<std::size_t>(width) * height);
        ok = wsq_decode(inst, pixels.data(), data.data(), size, &width, &height, guard) >= 0;
    }
    cancel_instance(inst);
    w = static_cast<unsigned>(width);
    h = static_cast<unsigned>(height);
    return ok;
}

// One pixel of colour rgb when (x, y) lies inside the image.
void Plot(std::vector<unsigned char>& rgb, unsigned w, unsigned h, int x, int y,
          const unsigned char* colour)
{
    if (x < 0 || y < 0 || x >= static_cast<int>(w) || y >= static_cast<int>(h)) {
        return;
    }
    unsigned char* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
    p[0] = colour[0];
    p[1] = colour[1];
    p[2] = colour[2];
}

void Segment(std::vector<unsigned char>& rgb, unsigned w, unsigned h, int x1, int y1, int x2,
             int y2, const unsigned char* colour)
{
    const int steps = std::abs(x2 - x1) > std::abs(y2 - y1) ? std::abs(x2 - x1) : std::abs(y2 - y1);
    for (int i = 0; i <= steps; ++i) {
        const double t = steps == 0 ? 0.0 : static_cast<double>(i) / steps;
        const int x = static_cast<int>(x1 + t * (x2 - x1) + 0.5);
        const int y = static_cast<int>(y1 + t * (y2 - y1) + 0.5);
        for (int d = -1; d <= 1; ++d) {
            Plot(rgb, w, h, x + d, y, colour);
            Plot(rgb, w, h, x, y + d, colour);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s in out.ppm [type] [dpi] [rotated] [hand] [impression]\n",
                     argv[0]);
        return 2;
    }
    std::vector<unsigned char> pixels;
    unsigned w = 0;
    unsigned h = 0;
    const std::string in = argv[1];
    const bool wsq = in.size() > 4 && in.compare(in.size() - 4, 4, ".wsq") == 0;
    if (!(wsq ? ReadWsq(argv[1], pixels, w, h) : ReadPgm(argv[1], pixels, w, h))) {
        std::fprintf(stderr, "%s: not an 8-bit binary PGM or a WSQ image\n", argv[1]);
        return 2;
    }
    const int type = argc > 3 ? std::atoi(argv[3]) : 0;
    const unsigned dpi = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 500;
    const bool rotated = argc > 5 && std::atoi(argv[5]) != 0;
    const int hand = argc > 6 ? std::atoi(argv[6]) : 0;
    const int impression = argc > 7 ? std::atoi(argv[7]) : NIST_IMP_UNKNOWN;

    SgmRect rects[16] = {};
    unsigned count = 16;
    const int result = FSeg(pixels.data(), nullptr, w, h, dpi, static_cast<SGM_TYPE>(type),
                            static_cast<SGM_HAND>(hand), static_cast<NIST_IMP_TYPE>(impression),
                            rotated, nullptr, 0, rects, count);
    std::printf("result %d, %u rectangles\n", result, result >= -1 ? count : 0u);

    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = pixels[i];
    }
    static const unsigned char palette[4][3] = {
        {255, 0, 0}, {0, 200, 0}, {0, 0, 255}, {255, 160, 0}};
    for (unsigned i = 0; result >= -1 && i < count; ++i) {
        const SgmRect& r = rects[i];
        std::printf("%d %d  (%d,%d) (%d,%d) (%d,%d) (%d,%d)\n", r.code, r.phalanx, r.x1, r.y1, r.x2,
                    r.y2, r.x3, r.y3, r.x4, r.y4);
        const unsigned char* c = palette[i % 4];
        Segment(rgb, w, h, r.x1, r.y1, r.x2, r.y2, c);
        Segment(rgb, w, h, r.x2, r.y2, r.x4, r.y4, c);
        Segment(rgb, w, h, r.x4, r.y4, r.x3, r.y3, c);
        Segment(rgb, w, h, r.x3, r.y3, r.x1, r.y1, c);
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 2;
    }
    std::fprintf(out, "P6\n%u %u\n255\n", w, h);
    std::fwrite(rgb.data(), 1, rgb.size(), out);
    std::fclose(out);
    return 0;
}
