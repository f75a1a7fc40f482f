// Creates a template from a grey PGM or a WSQ image with the extractor and draws its minutiae over
// the image as a colour PPM: a square at each position (red for endings, blue for bifurcations,
// paler when the quality byte marks a doubt) and a line of 12 pixels along the direction. Singular
// points get a green ring. Usage: minutiae_overlay <in.pgm|in.wsq> <out.ppm> [finger 0..10] Prints
// the result code, size, quality and one line per minutia (x, y, type, degrees, quality).

#include "extraction/ip.h"
#include "records/Unwrap.h"
#include "tests/support/data_path.h"
#include "wsq/Wsq.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Canvas {
    int w = 0;
    int h = 0;
    std::vector<unsigned char> rgb;

    void Put(int x, int y, unsigned char r, unsigned char g, unsigned char b)
    {
        if (x < 0 || y < 0 || x >= w || y >= h) {
            return;
        }
        unsigned char* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
};

bool EndsWith(const std::string& s, const char* tail)
{
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <in.pgm|in.wsq> <out.ppm> [finger]\n", argv[0]);
        return 2;
    }
    const std::string in = argv[1];
    const int finger = argc > 3 ? std::atoi(argv[3]) : 0;
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    if (EndsWith(in, ".wsq")) {
        std::vector<unsigned char> wsq = zftest::ReadFile(in);
        void* inst = init_instance();
        const int guard = static_cast<int>(Wsq::wsqCheckSum(wsq.data(), wsq.size()));
        const int n = static_cast<int>(wsq.size());
        if (inst != nullptr &&
            wsq_decode(inst, nullptr, wsq.data(), n, &w, &h, guard) == WSQ_SIZE_QUERY) {
            pixels.resize(static_cast<std::size_t>(w) * h);
            if (wsq_decode(inst, pixels.data(), wsq.data(), n, &w, &h, guard) < 0) {
                pixels.clear();
            }
        }
        cancel_instance(inst);
    } else if (!zftest::ReadPgm(in, pixels, w, h)) {
        pixels.clear();
    }
    if (pixels.empty()) {
        std::fprintf(stderr, "cannot read %s\n", in.c_str());
        return 2;
    }
    // The extractor itself, so that the region it cut is known: template coordinates count
    // from the region's corner.
    Ip ip;
    if (ip.init() != 0) {
        return 1;
    }
    std::vector<unsigned char> tpl(MAX_TEMPLATE_SIZE, 0);
    unsigned size = 0;
    int quality = 0;
    Frame frame{0, 0, 0, 0};
    const int code = ip.processRaw(nullptr, pixels.data(), static_cast<unsigned short>(w),
                                   static_cast<unsigned short>(h), tpl.data(), &size, &quality,
                                   nullptr, &frame, static_cast<FINGERS>(finger), nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
    std::printf("code %d size %u quality %d region %d %d %d %d\n", code, size, quality, frame.left,
                frame.right, frame.top, frame.bottom);

    // The image in grey, then the points.
    Canvas c;
    c.w = w;
    c.h = h;
    c.rgb.resize(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t k = 0; k < pixels.size(); ++k) {
        c.rgb[3 * k] = c.rgb[3 * k + 1] = c.rgb[3 * k + 2] = pixels[k];
    }
    if (code == 0) {
        ESK::Unwrap* r = ESK::Unwrap::create();
        r->versor(ESK::ESK_ACCESS_CODE);
        const unsigned char* rec = tpl.data() + TF_PREFIX_SIZE;
        const int ox = frame.left;
        const int oy = frame.top;
        std::vector<ESK::Sign> pts(r->idnova(rec) + 16);
        const unsigned n = r->denova(pts.data(), rec);
        const double pi = std::acos(-1.0);
        for (unsigned k = 0; k < n; ++k) {
            const ESK::Sign& p = pts[k];
            const bool doubt = (p.quality & 0x80) != 0;
            const unsigned char shade = doubt ? 160 : 255;
            const unsigned char other = doubt ? 120 : 0;
            const bool ending = p.type == 1;
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    if (dx == -2 || dx == 2 || dy == -2 || dy == 2) {
                        c.Put(ox + p.x + dx, oy + p.y + dy, ending ? shade : other, other,
                              ending ? other : shade);
                    }
                }
            }
            const double a = p.angle * pi / 180.0;
            for (int t = 3; t <= 12; ++t) {
                c.Put(ox + p.x + static_cast<int>(std::lround(t * std::cos(a))),
                      oy + p.y + static_cast<int>(std::lround(t * std::sin(a))), 255, 200, 0);
            }
            std::printf("%d %d %u %d %u\n", p.x, p.y, p.type, p.angle, p.quality);
        }
        const unsigned singular = r->demain(pts.data(), rec);
        for (unsigned k = 0; k < singular; ++k) {
            for (int t = 0; t < 64; ++t) {
                const double a = t * 2 * pi / 64;
                c.Put(ox + pts[k].x + static_cast<int>(std::lround(7 * std::cos(a))),
                      oy + pts[k].y + static_cast<int>(std::lround(7 * std::sin(a))), 0, 220, 0);
            }
        }
        ESK::Unwrap::cancel(r);
    }
    FILE* f = std::fopen(argv[2], "wb");
    if (f == nullptr) {
        return 2;
    }
    std::fprintf(f, "P6\n%d %d\n255\n", c.w, c.h);
    std::fwrite(c.rgb.data(), 1, c.rgb.size(), f);
    std::fclose(f);
    return code == 0 ? 0 : 1;
}
