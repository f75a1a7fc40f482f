// Mapping of every inner layer's codes onto the public result codes, as tables of cases.

#include "interface/RealMatcher.h"
#include "interface/TemplateBuilder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct MapCase {
    const char* name;
    long long in; // an int code, or an unsigned one for the accelerator
    int out;
};

// Names the case in test names and failure messages.
void PrintTo(const MapCase& c, std::ostream* os)
{
    *os << c.name << ": " << c.in << " -> " << c.out;
}

std::string CaseName(const ::testing::TestParamInfo<MapCase>& p)
{
    return p.param.name;
}

const MapCase kMaCases[] = {
    {"ok", 0, 0},
    {"memory", -404, 2},
    {"exception", -408, 100},
    {"bad_probe", -410, 11},
    {"bad_gallery", -411, 11},
    {"nothing_to_compare", -416, 12},
    {"search_param", -426, 13},
    {"code_436", -436, 25},
    {"other_402", -402, 10},
    {"other_positive", 1, 10},
};

const MapCase kAccelCases[] = {
    {"ok", 0, 0},
    {"code_1", 1, 14},
    {"null", 2, 21},
    {"no_template", 3, 21},
    {"bad_finger", 4, 11},
    {"memory", 5, 2},
    {"not_open", 6, 21},
    {"code_7", 7, 21},
    {"bad_accel", 8, 15},
    {"code_9", 9, 16},
    {"no_probe", 10, 18},
    {"bad_template", 11, 11},
    {"code_12", 12, 21},
    {"finger_index", 13, 21},
    {"thread_index", 14, 21},
    {"too_large", 15, 17},
    {"code_16", 16, 21},
    {"empty_gallery", 19, 21},
    {"all_ones", 0xFFFFFFFFLL, 21},
};

const MapCase kIpCases[] = {
    {"ok", 0, 0},          {"no_memory", -204, 2}, {"exception", -208, 100}, {"too_large", -212, 3},
    {"bad_size", -216, 4}, {"other_202", -202, 5}, {"other_232", -232, 5},   {"failed_cut", 1, 5},
};

const MapCase kWsqCases[] = {
    {"ok", 0, 0},
    {"guard", -666, 8},
    {"size_query", -5, 9},
    {"other_positive", 3, 9},
};

class MaResult : public ::testing::TestWithParam<MapCase> {};
class AccelResult : public ::testing::TestWithParam<MapCase> {};
class IpResult : public ::testing::TestWithParam<MapCase> {};
class WsqResult : public ::testing::TestWithParam<MapCase> {};

TEST_P(MaResult, MapsToOnePublicCode)
{
    EXPECT_EQ(ZelvanFinger::RealMatcher::checkMaResult(static_cast<int>(GetParam().in)),
              GetParam().out);
}

TEST_P(AccelResult, MapsToOnePublicCode)
{
    EXPECT_EQ(
        ZelvanFinger::RealMatcher::checkAccelMatchResult(static_cast<unsigned>(GetParam().in)),
        GetParam().out);
}

TEST_P(IpResult, MapsToOnePublicCode)
{
    EXPECT_EQ(ZelvanFinger::TemplateBuilder::checkIpResult(static_cast<int>(GetParam().in)),
              GetParam().out);
}

TEST_P(WsqResult, MapsToOnePublicCode)
{
    EXPECT_EQ(ZelvanFinger::TemplateBuilder::checkWsqResult(static_cast<int>(GetParam().in)),
              GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Comparison, MaResult, ::testing::ValuesIn(kMaCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Accelerator, AccelResult, ::testing::ValuesIn(kAccelCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Extractor, IpResult, ::testing::ValuesIn(kIpCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Wsq, WsqResult, ::testing::ValuesIn(kWsqCases), CaseName);

} // namespace
