// Template making for tests: decode, locate and cut as the public creator's callers would.

#include "tests/support/print_templates.h"

#include "interface/ZelvanFinger.h"
#include "segmentation/FSeg.h"
#include "tests/support/data_path.h"
#include "tests/support/wsq_file.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace zftest {
namespace {

struct CreatorDeleter {
    void operator()(ZelvanFinger::TemplateCreator* p) const
    {
        ZelvanFinger::TemplateCreator::cancel(p);
    }
};

ZelvanFinger::TemplateCreator* Creator()
{
    static std::unique_ptr<ZelvanFinger::TemplateCreator, CreatorDeleter> creator(
        ZelvanFinger::TemplateCreator::create());
    return creator.get();
}

Template FromPixels(std::vector<unsigned char>& pixels, int w, int h, int finger)
{
    ZelvanFinger::TemplateCreator* c = Creator();
    if (c == nullptr || pixels.empty()) {
        return {};
    }
    ZelvanFinger::RawImage image = {finger, w, h, pixels.data()};
    unsigned size = 0;
    unsigned char quality = 0;
    if (c->createTemplate(image, size, quality) != 0 || size == 0) {
        return {};
    }
    Template t(size);
    c->getTemplate(t.data());
    return t;
}

} // namespace

Template TemplateFromPgm(const std::string& path, int finger)
{
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    if (path.empty() || !ReadPgm(path, pixels, w, h)) {
        return {};
    }
    return FromPixels(pixels, w, h, finger);
}

Template TemplateFromWsq(const std::string& path, int finger)
{
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    if (path.empty() || !DecodeWsqFile(path, pixels, w, h)) {
        return {};
    }
    return FromPixels(pixels, w, h, finger);
}

std::vector<Template> TemplatesFromSlap(const std::string& path)
{
    std::vector<Template> out(10);
    std::vector<unsigned char> img;
    int w = 0;
    int h = 0;
    if (path.empty() || !DecodeWsqFile(path, img, w, h)) {
        return out;
    }
    SgmRect rects[8] = {};
    unsigned count = 8;
    const int found = FSeg(img.data(), nullptr, static_cast<unsigned>(w), static_cast<unsigned>(h),
                           500, SGM_TYPE_SLAP, SGM_HAND_UNKNOWN, NIST_IMP_NONLIVESCAN_PLAIN, true,
                           nullptr, 0, rects, count);
    if (found != SGM_FOUND && found != SGM_HAND_CONTRADICTED) {
        return out;
    }
    for (unsigned i = 0; i < count; ++i) {
        const SgmRect& r = rects[i];
        if (r.code < 1 || r.code > 10) {
            continue;
        }
        const double side1 = std::hypot(r.x2 - r.x1, r.y2 - r.y1) + 3;
        const double side2 = std::hypot(r.x3 - r.x1, r.y3 - r.y1) + 3;
        std::vector<unsigned char> cut(static_cast<std::size_t>(side1 * side2));
        unsigned cw = 0;
        unsigned ch = 0;
        if (Get3Rect(img.data(), static_cast<unsigned>(w), static_cast<unsigned>(h), r.x1, r.y1,
                     r.x2, r.y2, r.x3, r.y3, cut.data(), cw, ch) != 1) {
            continue;
        }
        cut.resize(static_cast<std::size_t>(cw) * ch);
        out[r.code - 1] = FromPixels(cut, static_cast<int>(cw), static_cast<int>(ch), r.code);
    }
    return out;
}

std::string NistCardFile(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "fp%02d.wsq", number);
    std::string path = SharedData(std::string("fingerprints/wsq/nist_a025/") + name);
    if (path.empty()) {
        path = TestData(std::string("wsq/") + name);
        if (ReadFile(path).empty()) {
            path.clear();
        }
    }
    return path;
}

} // namespace zftest
