// Turned and shifted copies of finger templates: minutiae decoded with the record reader,
// moved, and written back with the test writer beside the source's own section bytes.

#include "tests/support/template_copies.h"

#include "records/Unwrap.h"
#include "tests/support/template_writer.h"

#include <cmath>
#include <memory>

namespace zftest {
namespace {

struct ReaderDeleter {
    void operator()(ESK::Unwrap* p) const { ESK::Unwrap::cancel(p); }
};

// The bytes of one section of a layout 'I' record.
Bytes SectionOf(const unsigned char* rec, int id)
{
    const TfSectionField& f = TF_SECTION_FIELDS[id];
    std::uint32_t size = f.lengthBytes == 1   ? rec[f.lengthAt]
                         : f.lengthBytes == 2 ? TfRead16(rec + f.lengthAt)
                                              : TfRead32(rec + f.lengthAt);
    const std::uint32_t offset = TfRead32(rec + f.offsetAtI);
    return Bytes(rec + offset, rec + offset + size);
}

} // namespace

void CopiedPoint(int w, int h, int theta, int dx, int dy, double x, double y, double& outX,
                 double& outY)
{
    const double a = theta * 3.14159265358979323846 / 180;
    const double cx = w / 2.0;
    const double cy = h / 2.0;
    outX = cx + (x - cx) * std::cos(a) - (y - cy) * std::sin(a) + dx + COPY_MARGIN;
    outY = cy + (x - cx) * std::sin(a) + (y - cy) * std::cos(a) + dy + COPY_MARGIN;
}

Template TurnedCopy(const Template& source, int theta, int dx, int dy)
{
    if (source.size() <= static_cast<std::size_t>(TF_PREFIX_SIZE)) {
        return {};
    }
    std::unique_ptr<ESK::Unwrap, ReaderDeleter> reader(ESK::Unwrap::create());
    reader->versor(ESK::ESK_ACCESS_CODE);
    reader->factor(false);
    const unsigned char* rec = source.data() + TF_PREFIX_SIZE;
    if (!reader->verify(rec) || reader->versor(rec) != TF_LAYOUT_I) {
        return {};
    }
    // 1. Header and minutiae of the source.
    RecordPlan plan;
    plan.finger = reader->finger(rec);
    plan.imgppi = reader->imgppi(rec);
    plan.tplppi = reader->tplppi(rec);
    plan.quality = reader->qualit(rec);
    plan.density = reader->densit(rec);
    plan.immask = reader->immask(rec);
    plan.kind = rec[TF_KIND];
    plan.passxy = reader->passxy(rec);
    plan.passan = reader->passan(rec);
    plan.linkno = rec[TF_LINKNO];
    const int w = reader->size_x(rec);
    const int h = reader->size_y(rec);
    plan.sizeX = static_cast<std::uint16_t>(w + 2 * COPY_MARGIN);
    plan.sizeY = static_cast<std::uint16_t>(h + 2 * COPY_MARGIN);
    std::vector<ESK::Sign> minutiae(reader->idnova(rec) + 1);
    const unsigned n = reader->denova(minutiae.data(), rec);
    for (unsigned i = 0; i < n; ++i) {
        const ESK::Sign& m = minutiae[i];
        double x = 0;
        double y = 0;
        CopiedPoint(w, h, theta, dx, dy, m.x, m.y, x, y);
        PointPlan p;
        p.x = static_cast<std::int32_t>(std::lround(x));
        p.y = static_cast<std::int32_t>(std::lround(y));
        p.type = m.type;
        p.level = static_cast<std::uint8_t>(m.level - TF_DENSITY_BIAS);
        p.quality = m.quality;
        const int deg = ((m.angle + theta) % 360 + 360) % 360;
        p.angle = static_cast<std::uint8_t>(((deg + 1) / 2) % 180);
        plan.minutiae.push_back(p);
    }
    // 2. A mask all inside the larger canvas.
    plan.area.w = static_cast<std::uint16_t>((plan.sizeX + 7) / 8);
    plan.area.h = static_cast<std::uint16_t>((plan.sizeY + 7) / 8);
    plan.area.outside.assign(static_cast<std::size_t>(plan.area.w) * plan.area.h, 0);
    // 3. The source's own bytes for everything else.
    Sections s;
    for (int id = 0; id < TF_SECTION_COUNT; ++id) {
        s[static_cast<std::size_t>(id)] = SectionOf(rec, id);
    }
    s[TF_NOVA] = EncodePoints(plan.minutiae, false);
    s[TF_AREA] = EncodeArea(plan.area);
    return WrapTemplate(plan, AssembleRecord(plan, s));
}

} // namespace zftest
