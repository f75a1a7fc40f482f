// Every pinned template stays byte for byte the same: the table tests/data/template_digests.txt
// (written by template_digests --table) holds the digest of the template the public creator
// makes from each image, and each row is made again here and compared. Rows of the shared data
// skip when it is absent; the NIST card's rows are committed fixtures and always run.

#include "tests/interface/template_table.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<zftest::TemplateRow> TableRows(const std::string& source)
{
    std::vector<zftest::TemplateRow> all;
    EXPECT_TRUE(zftest::ReadTemplateTable(zftest::TestData("template_digests.txt"), all));
    std::vector<zftest::TemplateRow> rows;
    for (const zftest::TemplateRow& r : all) {
        if (r.source == source) {
            rows.push_back(r);
        }
    }
    return rows;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Makes the rows' templates again and compares: every row natively, every k-th row under
// emulation (`reduced` rows) and in the sanitizer build (`sanitized` rows, said in the output).
void CheckRows(const std::vector<zftest::TemplateRow>& rows, int reduced, int sanitized)
{
    ASSERT_FALSE(rows.empty());
    const int n = static_cast<int>(rows.size());
    int take = zftest::InputSize(n, reduced);
    if (kSanitized && take > sanitized) {
        take = sanitized;
        std::printf("sanitizer build: %d of %d rows\n", take, n);
    }
    const int step = n / take;
    for (std::size_t i = 0; i < rows.size(); i += static_cast<std::size_t>(step)) {
        SCOPED_TRACE(rows[i].image + " " + rows[i].path);
        EXPECT_EQ(zftest::TemplateRowDigest(rows[i]), rows[i].digest);
    }
}

// A table line that is missing, or one for an image that is no longer there, shows up as a
// difference between the table's keys and the inputs found on disk.
std::set<std::string> Keys(const std::vector<zftest::TemplateRow>& rows, const std::string& source)
{
    std::set<std::string> keys;
    for (const zftest::TemplateRow& r : rows) {
        if (r.source == source) {
            keys.insert(r.image + " " + r.path);
        }
    }
    return keys;
}

TEST(TemplateTable, NistCardTemplatesAreUnchanged)
{
    const std::vector<zftest::TemplateRow> rows = TableRows("data");
    EXPECT_EQ(Keys(rows, "data"), Keys(zftest::TemplateTableInputs(), "data"));
    CheckRows(rows, 4, 4);
}

TEST(TemplateTable, SharedSetTemplatesAreUnchanged)
{
    if (zftest::SharedData("fingerprints/fvc2002_db1_b").empty() ||
        zftest::SharedData("fingerprints/minex_sd29").empty()) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    const std::vector<zftest::TemplateRow> rows = TableRows("shared");
    EXPECT_EQ(Keys(rows, "shared"), Keys(zftest::TemplateTableInputs(), "shared"));
    CheckRows(rows, 6, 20);
}

TEST(TemplateTable, MalformedTableIsRejected)
{
    const std::string file = ::testing::TempDir() + "/template_table_bad.txt";
    for (const char* text : {"data wsq/fp01.wsq raw\n", "disk wsq/fp01.wsq raw 00\n",
                             "data wsq/fp01.wsq jpeg 00\n", "data wsq/fp01.wsq raw 00 extra\n"}) {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
        std::vector<zftest::TemplateRow> rows;
        EXPECT_FALSE(zftest::ReadTemplateTable(file, rows)) << text;
    }
}

} // namespace
