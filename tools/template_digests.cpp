// template_digests: creates a template with the public creator for every PGM image given on the
// command line and prints one line per image: the SHA-256 of the template bytes (or the
// creator's error code), its size, quality and the image path; a template that the template
// checker refuses is marked "refused" after the path. Comparing the output of two
// builds shows whether a change altered any template byte. The last line gives the mean
// milliseconds per created template. A WSQ stream gives two lines, one through the creator's WSQ
// entry and one decoded first and given as raw pixels. With --table it prints instead the
// template digest table of the images the tests pin (see tests/interface/template_table.h), the
// form of tests/data/template_digests.txt.
//
//   template_digests <image.pgm|image.wsq> ...
//   template_digests --table > tests/data/template_digests.txt

#include "interface/ZelvanFinger.h"
#include "tests/interface/template_table.h"
#include "tests/support/data_path.h"
#include "tests/support/sha256.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Prints the digest table of the pinned images; 1 when an image cannot be read.
int PrintTable()
{
    std::printf(
        "# Template digests: <source> <image> <path> <SHA-256 or error:code>; rows of\n"
        "# source 'shared' are checked only when the shared fingerprint data is present.\n");
    int status = 0;
    for (zftest::TemplateRow row : zftest::TemplateTableInputs()) {
        row.digest = zftest::TemplateRowDigest(row);
        if (row.digest.empty()) {
            std::fprintf(stderr, "cannot read %s\n", row.image.c_str());
            status = 1;
            continue;
        }
        std::printf("%s\n", zftest::FormatTemplateRow(row).c_str());
    }
    return status;
}

bool IsWsq(const std::string& name)
{
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".wsq") == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <image.pgm|image.wsq> ... | --table\n", argv[0]);
        return 1;
    }
    if (std::string(argv[1]) == "--table") {
        return PrintTable();
    }
    ZelvanFinger::TemplateCreator* creator = ZelvanFinger::TemplateCreator::create();
    if (creator == nullptr) {
        std::fprintf(stderr, "no template creator\n");
        return 1;
    }
    ZelvanFinger::FpTemplateChecker* checker = ZelvanFinger::FpTemplateChecker::create();
    int status = 0;
    double total_ms = 0;
    int created = 0;
    for (int i = 1; i < argc; ++i) {
        if (IsWsq(argv[i])) {
            for (const char* path : {"raw", "wsq"}) {
                // The argument is a path of its own, not one below a data folder.
                const zftest::TemplateRow row{"file", argv[i], path, ""};
                const std::string digest = zftest::TemplateRowDigest(row);
                std::printf("%s - - %s:%s\n", digest.empty() ? "unreadable" : digest.c_str(), path,
                            argv[i]);
            }
            continue;
        }
        std::vector<unsigned char> pixels;
        int w = 0;
        int h = 0;
        if (!zftest::ReadPgm(argv[i], pixels, w, h)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            status = 1;
            continue;
        }
        ZelvanFinger::RawImage raw{2, w, h, pixels.data()};
        unsigned size = 0;
        unsigned char quality = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = creator->createTemplate(raw, size, quality);
        const auto t1 = std::chrono::steady_clock::now();
        total_ms += std::chrono::duration<double, std::milli>(t1 - t0).count();
        ++created;
        if (rc != 0) {
            std::printf("error %d  %s\n", rc, argv[i]);
            continue;
        }
        std::vector<unsigned char> tpl(size);
        creator->getTemplate(tpl.data());
        const bool good = checker != nullptr && checker->check(tpl.data());
        std::printf("%s %u %u %s%s\n", zftest::Sha256Hex(tpl.data(), tpl.size()).c_str(), size,
                    static_cast<unsigned>(quality), argv[i], good ? "" : " refused");
    }
    ZelvanFinger::TemplateCreator::cancel(creator);
    ZelvanFinger::FpTemplateChecker::cancel(checker);
    std::fprintf(stderr, "%.2f ms per image over %d images\n",
                 created > 0 ? total_ms / created : 0.0, created);
    return status;
}
