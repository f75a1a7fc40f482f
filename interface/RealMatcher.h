// Implementation side of Matcher: verification of two multi-finger records through the
// record comparer, the gallery of enrolled records with identification, and the mapping of
// record-comparison and accelerator codes onto the public result codes.
#pragma once

#include "interface/ZelvanFinger.h"
#include "records/Unwrap.h"
#include "search/AccelLib.h"
#include "search/Ma100_TT.h"

#include <cstdint>
#include <list>

namespace ZelvanFinger {

class RealMatcher final : public Matcher {
public:
    RealMatcher() = default;
    RealMatcher(const RealMatcher&) = delete;
    RealMatcher& operator=(const RealMatcher&) = delete;
    ~RealMatcher() override;

    // Compares gallery with probe (fusion by rank weights, all ten fingers, no early stop);
    // score = fused score / 10000 on success, 0.0 on every other path. Nothing is thrown:
    // memory shortage gives 2, any other exception 100.
    int verify_record(MatchingParameters& parameters, TpTemplate& probe, TpTemplate& gallery,
                      double& score) override;
    int insertRecord(std::string& id, TpTemplate& record) override;
    int deleteRecord(std::string& id) override;
    int getFinalGallerySize() override;
    int identify_record(MatchingParameters& parameters, TpTemplate& probe, unsigned threads,
                        unsigned maxCandidates,
                        std::vector<candidates_string>& candidates) override;

    // Record comparison code (0 or -4xx) -> public code: 0, 2, 100, 11, 12, 13, 25, else 10.
    static int checkMaResult(int code);
    // Accelerator code -> public code through a 16-entry table; 16 and above give 21.
    static int checkAccelMatchResult(unsigned code);

private:
    // Initialises the comparer once; a public code.
    int initMa();
    // Gives back everything the gallery and the accelerator library hold (destructor).
    void releaseGallery();

    std::uint8_t m_maInitialised = 0;
    accelMatch::Ma100_TT m_ma;

    // ---- gallery and identification: interface/RealMatcherGallery.cpp ----
    // Reader, scratch buffer and the library opened with at least `threads` slots (0: the
    // number of processors); a re-opening marks the gallery changed. Public codes.
    int initUnwrap();
    int allocAccelBuffer();
    int initAccel_1st_stage(unsigned threads);
    // As above, then the final stage once the gallery has held a record.
    int initAccelMatching(unsigned threads, unsigned count);
    // 11 when a present finger is refused: bad total length, verify or seal.
    int check(TpTemplate& record);
    int createGalleryItem(std::uint64_t id, TpTemplate& record, accelMatch::GalleryItem& item);
    int calculateAccelerator(accelMatch::GalleryItem& item, TpTemplate& record);
    static int allocAccel(std::uint8_t*& p, unsigned size);
    static void freeAccel(std::uint8_t*& p);
    static void releaseGalleryItem(accelMatch::GalleryItem& item);
    std::list<accelMatch::GalleryItem>::iterator findItem(std::uint64_t id);
    bool checkDouble(std::uint64_t id);
    void freeGallery();
    int insertItem(std::uint64_t id, TpTemplate& record);
    int identifyItems(MatchingParameters& parameters, TpTemplate& probe, unsigned threads,
                      unsigned maxCandidates, std::vector<candidates_string>& candidates);

    std::list<accelMatch::GalleryItem> m_gallery;
    void* m_accel = nullptr;
    unsigned m_accelThreads = 0;
    unsigned m_finalSize = 0;
    unsigned char* m_scratch = nullptr;
    ESK::Unwrap* m_unwrap = nullptr;
    bool m_galleryChanged = false;
};

} // namespace ZelvanFinger
