// Template creation when memory runs out: every allocation of a creation from a raw image and
// from a WSQ image is made to fail in turn (global operator new replaced in this executable).
// Each failure gives null from create or a public code (2 or 100; for the decoder instance 7,
// and 9 where the decoder's own code is shared with a stream error), never an exception, and
// the same creator then succeeds with the bytes of an undisturbed run.

#include "interface/ZelvanFinger.h"
#include "records/TemplateFormat.h"
#include "tests/interface/alloc_failure.h"
#include "wsq/Wsq.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using ZelvanFinger::TemplateCreator;
using zftest::FailAllocation;

// A soft elliptic print of period 9 on light paper.
std::vector<unsigned char> Print(int w, int h)
{
    std::vector<unsigned char> px(static_cast<std::size_t>(w) * h, 230);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double dx = (x - w / 2.0) / (w * 0.35);
            const double dy = (y - h / 2.0) / (h * 0.4);
            if (dx * dx + dy * dy < 1.0) {
                px[static_cast<std::size_t>(y) * w + x] = ((2 * x + y) % 9) < 4 ? 40 : 210;
            }
        }
    }
    return px;
}

// An undisturbed creation first, then one creation under each failing allocation in turn,
// and the result of the creator's own retry, which must give the undisturbed bytes.
template <typename Image> void SweepFailures(Image& image, const std::vector<int>& accepted)
{
    TemplateCreator* first = TemplateCreator::create();
    unsigned goodSize = 0;
    unsigned char goodQuality = 0;
    ASSERT_EQ(first->createTemplate(image, goodSize, goodQuality), 0);
    std::vector<unsigned char> good(goodSize);
    first->getTemplate(good.data());
    TemplateCreator::cancel(first);
    int runs = 0;
    for (int n = 0;; ++n) {
        SCOPED_TRACE(n);
        TemplateCreator* creator = nullptr;
        int code = 0;
        unsigned size = 0;
        unsigned char quality = 0;
        bool failed = false;
        {
            FailAllocation fail(n);
            creator = TemplateCreator::create();
            if (creator != nullptr) {
                code = creator->createTemplate(image, size, quality);
            }
            failed = fail.Failed();
        }
        ++runs;
        if (!failed) {
            EXPECT_EQ(code, 0);
            TemplateCreator::cancel(creator);
            break; // every allocation of a creation has failed once
        }
        if (creator == nullptr) {
            continue;
        }
        EXPECT_TRUE(std::find(accepted.begin(), accepted.end(), code) != accepted.end()) << code;
        // The same creator recovers and gives the undisturbed bytes.
        ASSERT_EQ(creator->createTemplate(image, size, quality), 0);
        std::vector<unsigned char> t(size);
        creator->getTemplate(t.data());
        EXPECT_EQ(t, good);
        TemplateCreator::cancel(creator);
    }
    EXPECT_GT(runs, 3);
}

TEST(CreatorMemory, EveryAllocationOfARawCreationMayFail)
{
    std::vector<unsigned char> px = Print(200, 240);
    ZelvanFinger::RawImage image{3, 200, 240, px.data()};
    SweepFailures(image, {0, ZelvanFinger::RESULT_NO_MEMORY, ZelvanFinger::RESULT_EXCEPTION});
}

TEST(CreatorMemory, EveryAllocationOfAWsqCreationMayFail)
{
    // A small print compressed here keeps the sweep short.
    std::vector<unsigned char> px = Print(200, 240);
    std::vector<unsigned char> s(px.size());
    void* codec = init_instance();
    const int guard = static_cast<int>(Wsq::wsqCheckSum(px.data(), px.size()));
    const int n = wsq_encode(codec, px.data(), s.data(), 200, 240, -1.0f, guard);
    cancel_instance(codec);
    ASSERT_GT(n, 0);
    s.resize(static_cast<std::size_t>(n));
    ZelvanFinger::WsqImage image{1, static_cast<int>(s.size()), s.data()};
    // Besides 2 and 100: 7 when the decoder instance cannot be made, and 9 where the decoder
    // reports a failed buffer with a code it shares with a stream error.
    SweepFailures(image, {0, ZelvanFinger::RESULT_NO_MEMORY, ZelvanFinger::RESULT_EXCEPTION,
                          ZelvanFinger::RESULT_WSQ_INSTANCE, ZelvanFinger::RESULT_WSQ_DECODE});
}

} // namespace
