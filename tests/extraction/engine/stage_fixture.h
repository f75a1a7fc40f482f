// Shared by the stage tests: an engine on the heap with an image loaded as the extraction
// driver loads it (kind 'F', 500 ppi, the full slot map), the last stages run and the record
// written as the driver does it, and layer access by id and level.
#pragma once

#include "extraction/engine/Codex.h"
#include "tests/support/data_path.h"
#include "tests/support/flow_images.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace zftest {

struct Loaded {
    std::unique_ptr<wizard73::Codex> engine = std::make_unique<wizard73::Codex>();
    int code = 0;
    std::vector<unsigned char> image; // the source pixels when they were read here
};

// Loads w x h pixels of the given kind into e; `check` overrides the check value when not
// negative. Returns the loader's result.
inline int LoadWith(wizard73::Codex& e, const std::vector<unsigned char>& pixels, int w, int h,
                    unsigned char kind = 'F', int check = -1)
{
    wizard73::SData s{};
    s.kind = kind;
    s.width = static_cast<std::uint16_t>(w);
    s.height = static_cast<std::uint16_t>(h);
    s.xres = 500;
    s.yres = 500;
    s.links = 17;
    s.pixels = pixels.data();
    s.check = check >= 0 ? static_cast<std::uint16_t>(check) : CheckValue(pixels.data(), w, h);
    return e.Loader(s, wizard73::pyr[2], false);
}

// The same into a new engine.
inline Loaded LoadInto(const std::vector<unsigned char>& pixels, int w, int h,
                       unsigned char kind = 'F', int check = -1)
{
    Loaded l;
    l.code = LoadWith(*l.engine, pixels, w, h, kind, check);
    return l;
}

// Reads the shared print fingerprints/<name> and loads it into a new engine, which keeps the
// pixels it was loaded from. The code is -1 when the image cannot be read.
inline Loaded LoadShared(const std::string& name)
{
    Loaded l;
    int w = 0;
    int h = 0;
    if (!ReadPgm(SharedData("fingerprints/" + name), l.image, w, h)) {
        l.code = -1;
        return l;
    }
    l.code = LoadWith(*l.engine, l.image, w, h);
    return l;
}

// Runs the minutiae pick-up, the focus pass and the epilog as the extraction driver does;
// fails with the code when a stage throws one.
inline ::testing::AssertionResult RunThroughEpilog(wizard73::Codex& e)
{
    try {
        e.Pickup(-1);
        e.Xfocus(1);
        e.Epilog(-1);
    } catch (int code) {
        return ::testing::AssertionFailure() << "engine threw " << code;
    }
    return ::testing::AssertionSuccess();
}

// The record the engine writes after its last stage, as the extraction driver writes it.
inline std::vector<unsigned char> WrittenRecord(wizard73::Codex& e)
{
    int size = 0;
    e.GetSize(size);
    std::vector<unsigned char> rec(static_cast<std::size_t>(size));
    e.ExGold(rec.data());
    return rec;
}

// Copy of layer id at level (empty when the layer does not exist).
inline std::vector<unsigned char> LayerCopy(wizard73::Codex& e, int id, int level)
{
    if (e.GetKey(id, level) == -1) {
        return {};
    }
    const unsigned char* p = e.GetLay(id, level);
    return std::vector<unsigned char>(p, p + e.m_level[level].size);
}

} // namespace zftest
