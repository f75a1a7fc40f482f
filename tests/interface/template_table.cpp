// Template digest table: the rows' inputs, one template per row through the public creator,
// and the table's text form.

#include "tests/interface/template_table.h"

#include "interface/ZelvanFinger.h"
#include "tests/support/data_path.h"
#include "tests/support/sha256.h"
#include "wsq/Wsq.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zftest {
namespace {

// Finger position given with every image (the right index, as template_digests has always used).
constexpr int kFinger = 2;

// Pixels of a WSQ stream through the decoder; false when it does not decode.
bool DecodeWsq(std::vector<unsigned char>& wsq, std::vector<unsigned char>& pixels, int& w, int& h)
{
    void* inst = init_instance();
    const int guard = static_cast<int>(Wsq::wsqCheckSum(wsq.data(), wsq.size()));
    const int n = static_cast<int>(wsq.size());
    bool ok = inst != nullptr &&
              wsq_decode(inst, nullptr, wsq.data(), n, &w, &h, guard) == WSQ_SIZE_QUERY;
    if (ok) {
        pixels.resize(static_cast<std::size_t>(w) * h);
        ok = wsq_decode(inst, pixels.data(), wsq.data(), n, &w, &h, guard) >= 0;
    }
    cancel_instance(inst);
    return ok;
}

} // namespace

std::vector<TemplateRow> TemplateTableInputs()
{
    std::vector<TemplateRow> rows;
    for (const char* set : {"fvc2002_db1_b", "minex_sd29"}) {
        const std::string dir = SharedData(std::string("fingerprints/") + set);
        if (dir.empty()) {
            continue;
        }
        for (const std::string& n : FilesIn(dir, ".pgm")) {
            rows.push_back({"shared", std::string("fingerprints/") + set + "/" + n, "raw", ""});
        }
    }
    for (const std::string& n : FilesIn(TestData("wsq"), ".wsq")) {
        rows.push_back({"data", "wsq/" + n, "raw", ""});
        rows.push_back({"data", "wsq/" + n, "wsq", ""});
    }
    return rows;
}

std::string TemplateRowFile(const TemplateRow& row)
{
    if (row.source == "shared") {
        return SharedData(row.image);
    }
    const std::string path = row.source == "file" ? row.image : TestData(row.image);
    return std::ifstream(path).good() ? path : std::string();
}

std::string TemplateRowDigest(const TemplateRow& row)
{
    const std::string file = TemplateRowFile(row);
    if (file.empty()) {
        return "";
    }
    const bool wsqFile = file.size() > 4 && file.compare(file.size() - 4, 4, ".wsq") == 0;
    std::vector<unsigned char> pixels;
    std::vector<unsigned char> wsq;
    int w = 0;
    int h = 0;
    if (wsqFile) {
        wsq = ReadFile(file);
        if (wsq.empty() || (row.path == "raw" && !DecodeWsq(wsq, pixels, w, h))) {
            return "";
        }
    } else if (row.path != "raw" || !ReadPgm(file, pixels, w, h)) {
        return "";
    }
    ZelvanFinger::TemplateCreator* creator = ZelvanFinger::TemplateCreator::create();
    if (creator == nullptr) {
        return "";
    }
    unsigned size = 0;
    unsigned char quality = 0;
    int rc = 0;
    if (row.path == "wsq") {
        ZelvanFinger::WsqImage image{kFinger, static_cast<int>(wsq.size()), wsq.data()};
        rc = creator->createTemplate(image, size, quality);
    } else {
        ZelvanFinger::RawImage image{kFinger, w, h, pixels.data()};
        rc = creator->createTemplate(image, size, quality);
    }
    std::string digest = "error:" + std::to_string(rc);
    if (rc == 0) {
        std::vector<unsigned char> tpl(size);
        creator->getTemplate(tpl.data());
        digest = Sha256Hex(tpl.data(), tpl.size());
    }
    ZelvanFinger::TemplateCreator::cancel(creator);
    return digest;
}

std::string FormatTemplateRow(const TemplateRow& row)
{
    return row.source + " " + row.image + " " + row.path + " " + row.digest;
}

bool ReadTemplateTable(const std::string& file, std::vector<TemplateRow>& rows)
{
    std::ifstream in(file);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        TemplateRow row;
        std::string extra;
        if (!(fields >> row.source >> row.image >> row.path >> row.digest) || (fields >> extra) ||
            (row.source != "data" && row.source != "shared") ||
            (row.path != "raw" && row.path != "wsq")) {
            return false;
        }
        rows.push_back(row);
    }
    return true;
}

} // namespace zftest
