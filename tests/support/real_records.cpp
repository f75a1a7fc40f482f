// Real ten-finger records for the comparison tests, each made once per process.

#include "tests/support/real_records.h"

#include "tests/support/data_path.h"
#include "tests/support/fvc_sets.h"

#include <string>

namespace zftest {

const std::array<int, 10> kMirrorHands = {1, 10, 9, 8, 7, 6, 5, 4, 3, 2};
const std::array<int, 10> kMirrorHandsSwapThumbs = {6, 10, 9, 8, 7, 1, 5, 4, 3, 2};

int RealRecord::count() const
{
    int n = 0;
    for (const Template& t : fingers) {
        n += t.empty() ? 0 : 1;
    }
    return n;
}

TpTemplate RealRecord::record()
{
    TpTemplate t = {};
    for (int i = 0; i < 10; ++i) {
        t.finger[i] = fingers[i].empty() ? nullptr : fingers[i].data();
    }
    return t;
}

RealRecord RealRecord::moved(const std::array<int, 10>& to) const
{
    RealRecord r;
    for (int p = 1; p <= 10; ++p) {
        r.fingers[to[p - 1] - 1] = fingers[p - 1];
    }
    return r;
}

const RealRecord& Rolled()
{
    static const RealRecord r = [] {
        RealRecord x;
        for (int p = 1; p <= 10; ++p) {
            x.fingers[p - 1] = TemplateFromWsq(NistCardFile(p), p);
        }
        return x;
    }();
    return r;
}

const RealRecord& Plain()
{
    static const RealRecord r = [] {
        RealRecord x;
        for (int card : {13, 14}) {
            std::vector<Template> cut = TemplatesFromSlap(NistCardFile(card));
            for (int i = 0; i < 10; ++i) {
                if (!cut[i].empty()) {
                    x.fingers[i] = cut[i];
                }
            }
        }
        x.fingers[0] = TemplateFromWsq(NistCardFile(11), 1);
        x.fingers[5] = TemplateFromWsq(NistCardFile(12), 6);
        return x;
    }();
    return r;
}

const RealRecord& FvcOthers()
{
    static const RealRecord r = [] {
        RealRecord x;
        for (int p = 1; p <= 10; ++p) {
            const std::string path =
                SharedData("fingerprints/fvc2002_db1_b/" + std::to_string(100 + p) + "_1.pgm");
            x.fingers[p - 1] = TemplateFromPgm(path, p);
        }
        return x;
    }();
    return r;
}

const RealRecord& MinexOthers()
{
    static const RealRecord r = [] {
        static const char* const kFiles[10] = {"a999_01p", "a001_03p", "a001_04p", "a001_05p",
                                               "a001_06p", "a001_07p", "a004_05p", "b001_04p",
                                               "b001_06p", "b001_08p"};
        RealRecord x;
        for (int p = 1; p <= 10; ++p) {
            const std::string path =
                SharedData(std::string("fingerprints/minex_sd29/") + kFiles[p - 1] + ".pgm");
            x.fingers[p - 1] = TemplateFromPgm(path, p);
        }
        return x;
    }();
    return r;
}

const Template& FvcTemplate(int finger, int impression)
{
    return FvcSetTemplate("fvc2002_db1_b", finger, impression);
}

std::vector<Template> FvcTemplates(std::initializer_list<int> fingers, int impressions)
{
    std::vector<Template> prints;
    for (int f : fingers) {
        for (int i = 1; i <= impressions; ++i) {
            prints.push_back(FvcTemplate(f, i));
            if (prints.back().empty()) {
                return {};
            }
        }
    }
    return prints;
}

} // namespace zftest
