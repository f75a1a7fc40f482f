// Digest records of the tests: one file per test in the build's digests/ folder, one line per
// digest: "<key>\t<size>\t<fnv1a-64 hex>\t<cause or ->".

#include "tests/support/digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

namespace zftest {
namespace {

std::string DigestDir()
{
    const char* env = std::getenv("ZF_DIGEST_DIR");
    return env != nullptr && *env != '\0' ? std::string(env) : std::string(ZF_DIGEST_DIR);
}

// Keeps a key on one line and one field.
std::string Field(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

std::string g_lastTest; // the test whose file this process already started

void Record(const std::string& what, const std::string& cause, const void* bytes, std::size_t size)
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    ASSERT_NE(info, nullptr) << "RecordDigest is called inside a test";
    const std::string test = std::string(info->test_suite_name()) + "." + info->name();
    std::string file = test;
    for (char& c : file) {
        if (c == '/') {
            c = '_';
        }
    }
    const std::string dir = DigestDir();
    ::mkdir(dir.c_str(), 0777);
    // A test's first digest starts its file afresh, so a rerun replaces the old records.
    const auto mode = test == g_lastTest ? std::ios::app : std::ios::trunc;
    g_lastTest = test;
    std::ofstream out(dir + "/" + file + ".txt", std::ios::out | mode);
    ASSERT_TRUE(out.good()) << "cannot write digests into " << dir;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", Fnv1a64(bytes, size));
    out << Field(test + "/" + what) << '\t' << size << '\t' << hex << '\t'
        << (cause.empty() ? std::string("-") : Field(cause)) << '\n';
}

} // namespace

unsigned long long Fnv1a64(const void* bytes, std::size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    unsigned long long h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ p[i]) * 0x100000001b3ULL;
    }
    return h;
}

void RecordDigest(const std::string& what, const void* bytes, std::size_t size)
{
    Record(what, std::string(), bytes, size);
}

void RecordDigest(const std::string& what, const std::vector<unsigned char>& bytes)
{
    Record(what, std::string(), bytes.data(), bytes.size());
}

void RecordDigestMayDiffer(const std::string& what, const std::string& cause, const void* bytes,
                           std::size_t size)
{
    Record(what, cause.empty() ? std::string("unnamed cause") : cause, bytes, size);
}

} // namespace zftest
