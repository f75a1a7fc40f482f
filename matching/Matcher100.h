// The 1:1 finger matcher: one large block of fixed-size tables, built once and reused. A
// probe side P and a gallery side G are loaded from finger templates (21-byte prefix and
// record); `match` compares them. Inside, failures travel as thrown int codes (-4xx) or
// MyException; the public operations return the code. Not shareable between threads.
#pragma once

#include "matching/Groups.h"
#include "matching/LinkTables.h"
#include "matching/MatchMath.h"
#include "matching/MatchScore.h"
#include "matching/MatchTypes.h"
#include "matching/NestAccel.h"
#include "records/Unwrap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace accelMatch {

constexpr int MAX_RECORD_COPY = 25600;   // a FingerTemplate copy, prefix included
constexpr int MAX_AREA_CELLS = 262144;   // cells of an area buffer
constexpr int MAX_SINGULAR = 16;         // singular points kept per side
constexpr int MAX_SINGULAR_DECODED = 64; // singular points a record may hold
constexpr int MINUTIAE_CAPACITY_STEP = 63;
constexpr int NUM_GROUPS = 20; // kernel groups, and expand groups
constexpr int MAX_NEST_VIRT_SIZE_SET = 200;
constexpr int NUM_SPEED_PARAMS = 20;
constexpr int NUM_CACHED_TRANSITIONS = 5; // nest transitions 0..4 are cached

// Comparison cache of one nest pair.
struct NestCompareResult {
    std::uint16_t bestSim;
    std::int16_t rotation; // probe angle minus gallery angle, wrapped; 0 = not computed
    Transition bestTransition;
    HitGroup* groups[NUM_CACHED_TRANSITIONS];
    std::uint8_t computed;
};

// Storage of the cached hit groups: blocks kept from match to match, handed out in order and
// all taken back at once when the cache is cleared. A block that cannot be allocated throws
// MyException.
class HitGroupStore {
public:
    // A group with room for count (at most MAX_NESTS) items, none of them preset.
    HitGroup* take(unsigned count)
    {
        // Mostly the group and its items fit in the blocks in use, each with an entry taken.
        if (m_groupsUsed - 1 < GROUPS_PER_BLOCK - 1 && m_itemsUsed != 0 &&
            m_itemsUsed + count <= ITEMS_PER_BLOCK) {
            ZF_ASSERT(count <= MAX_NESTS);
            return place(m_groupAt + m_groupsUsed++, count);
        }
        return takeMovingOn(count);
    }
    // Every group handed out is void from here on.
    void clear()
    {
        m_groupBlock = 0;
        m_groupsUsed = 0;
        m_itemBlock = 0;
        m_itemsUsed = 0;
    }

private:
    static constexpr std::size_t GROUPS_PER_BLOCK = 512;
    static constexpr std::size_t ITEMS_PER_BLOCK = 4096;
    // take when a block is to be begun, made sure of, or left for the next.
    HitGroup* takeMovingOn(unsigned count);
    // Empties g and gives it the next count items of the item block in use.
    HitGroup* place(HitGroup* g, unsigned count)
    {
        *g = HitGroup{};
        g->m_items = m_itemAt + m_itemsUsed;
        g->m_maxItems = static_cast<std::uint8_t>(count);
        m_itemsUsed += count;
        return g;
    }
    std::vector<std::unique_ptr<HitGroup[]>> m_groups;
    std::vector<std::unique_ptr<HitItem[]>> m_items;
    std::size_t m_groupBlock = 0; // block in use and the entries taken from it
    std::size_t m_groupsUsed = 0;
    std::size_t m_itemBlock = 0;
    std::size_t m_itemsUsed = 0;
    HitGroup* m_groupAt = nullptr; // the blocks in use once an entry was taken from each
    HitItem* m_itemAt = nullptr;
};

struct BestNest {
    std::uint8_t np;
    std::uint8_t ng;
    std::uint16_t sim;
};
static_assert(sizeof(BestNest) == 4, "a best-nest entry is 4 bytes");
static_assert(offsetof(BestNest, sim) == 2, "compareNestSim reads the similarity at byte 2");

struct NestVirtSize {
    std::uint8_t np;
    std::uint8_t ng;
    std::uint8_t size;
};
static_assert(sizeof(NestVirtSize) == 3, "a virtual-size entry is 3 bytes");
static_assert(offsetof(NestVirtSize, size) == 2, "compareNestVirtSize reads the size at byte 2");

struct NestVirtSizeSet {
    NestVirtSize items[MAX_NEST_VIRT_SIZE_SET];
    std::uint32_t m_numItems;
};

// Per-minutia state of one side during a nest comparison.
struct NotHit {
    std::uint8_t notHit;
    std::uint8_t sameDir;
};

// Score type handed to the score routine.
enum CalcScoreTypeEnum : std::int32_t {
    CS_BRANCH1 = 0,
    CS_BRANCH2 = 1,
    CS_BRANCH1_LIST = 2,
    CS_BRANCH2_LIST = 3,
    CS_BRANCH1_LIST_QUICK = 4,
};

class Matcher100 {
public:
    // Throws MA_ERR_MEMORY when a part cannot be allocated.
    Matcher100();
    ~Matcher100();
    Matcher100(const Matcher100&) = delete;
    Matcher100& operator=(const Matcher100&) = delete;

    // ---- parameters and loading ----
    // Rotation limit = maxAngle within 40..180; speed level within 0..3.
    void setParameters(int maxAngle, int speed);
    void setDistErrorLevel(int level);
    int getDistTol(int errorLevel, int d) const;

    // Loads one side from a whole finger template. area: a caller's mask of w x h cells, or
    // null for the record's own. 0, MA_ERR_NULL, MA_ERR_BAD_PROBE / MA_ERR_BAD_GALLERY,
    // MA_ERR_MEMORY or MA_ERR_EXCEPTION.
    int loadTemplate(bool isP, unsigned char* tpl, FP_TYPE type, unsigned char* area, int w, int h);
    bool validateTemplate(const unsigned char* tpl, unsigned char& quality, unsigned short& width,
                          unsigned short& height);
    void loadSingular(bool isP);
    void loadArea(bool isP, unsigned char* record, unsigned char* area, int w, int h);
    void loadMinutiae(bool isP, unsigned char* tpl);
    bool reallocMinutiae(bool isP, int n);
    bool allocArea();

    // Compares the loaded G with the loaded P into r; 0 or a failure code.
    int match(MatchResult& r, int maxAngle, int speed, bool accelMode, unsigned char* accelP,
              unsigned char* accelG, unsigned char numAccel, bool quick);

    // ---- nest signatures ----
    int compareAllNestAccel();

    // ---- nest comparison and best-nest selection ----
    void compNestsAlt(short np, short ng, Transition t, int rotation);
    void compNestsFinal(short np, short ng, Transition t, int unused);
    bool checkLink(int np, int ng, int nP, int nG, int rotation, short* distDif, short* minAngleDif,
                   short* angleDif);
    bool checkAngle1(int nP, int np, int nG, int ng, short* angleDif);
    void add2hit(HitGroup& g, NotHit* notHitP, NotHit* notHitG, short nP, short nG, Transition t,
                 bool sameDir, int np, int ng, short* distDif, short* minAngleDif, short* angleDif);
    bool isNewLinksBetter(HitGroup& g, int index, int nP, int nG, int transition, int np, int ng);
    void calcNestSim(int np, int ng, HitGroup& g, NotHit* notHitP, NotHit* notHitG, bool final);
    int getHitProbabilities(HitGroup& g, bool final, int& qualitySum);
    int getNotHitProbabilities(int np, int ng, NotHit* notHitP, NotHit* notHitG, int& count,
                               bool final, int limit);
    void clearNotHitGroup(HitGroup& g, NotHit* notHitP, NotHit* notHitG, bool final);
    bool isTransitionPossible(short np, short ng, Transition t) const;
    NestCompareResult* getNestCompareResult(int np, int ng, Transition maxT,
                                            unsigned short& bestSim);
    HitGroup* getNestCompareResult(int np, int ng, Transition t, short& transitionDif);
    int getTransitionDif(int np, int ng, Transition& t, Transition limit, unsigned short& sim);
    int compareSuitableAccelerators(int np, int ng);
    void compareBestNests(std::uint8_t threshold);
    void compareNestsFromAccelMatch(const std::uint8_t* npList, const std::uint8_t* ngList,
                                    std::uint8_t n);
    std::uint8_t getSimThreshold(int minCount, const std::uint32_t* histogram) const;
    void chooseBestNests(unsigned n, unsigned minSize);
    unsigned buildVirtualGroup(short np, short ng);
    int getQuadrant(int unused, const ESK::Lot<short>* minutia, const ESK::Link* links,
                    int neighbour, bool& unusedFlag, int& ridgeCount, Transition t) const;
    bool checkAngles(int np, int ng, int np2, int ng2);
    void getMaxRightAndLeftLink(std::uint8_t type, const ESK::Link* linkP, const ESK::Link* linkG,
                                Transition t, int& right, int& left);
    // Rotation of a nest pair: probe angle minus gallery angle, wrapped.
    int nestRotation(int np, int ng) const
    {
        return wrap180(m_minutiaeP[np].angle - m_minutiaeG[ng].angle);
    }
    // Frees the hit groups of the cells (i, j), i < numP, j < numG, empties them and zeroes
    // their signature similarity. Once every cell has been emptied, only the cells written
    // since (see touchNestCompareCell) need emptying again; those may lie anywhere.
    void clearNestCompareCells(int numP, int numG);
    // Records cell (i, j) before a write that leaves it non-empty (a rotation other than 0, or
    // a saved group); an empty cell has rotation 0 and is not computed, so each cell is
    // recorded once until the next clearing finds it.
    void touchNestCompareCell(int i, int j)
    {
        const NestCompareResult& cell = m_nestCompare[i][j];
        if (cell.rotation == 0 && cell.computed == 0 && m_cellsSwept) {
            ZF_ASSERT(m_numTouchedCells < MAX_NESTS * MAX_NESTS);
            m_touchedCells[m_numTouchedCells++] = static_cast<std::uint16_t>(i * MAX_NESTS + j);
        }
    }
    // Points a group at the loaded sides (minutiae, pair sets, wide flags) and gives it the
    // matcher's distance unit and angle tolerances.
    void bindGroup(GroupEx* g);

    // ---- central-pair tests ----
    bool isPairsCompatible(int np0, int ng0, int np, int ng, int rotation, bool wide);
    bool isCompatibleWitchCentralPoint(int np0, int ng0, int np, int ng, int rotation, bool wide);

    // ---- alignment ----
    int combineFingerprintsByCurGroup(GroupEx* g, bool transferP, bool transferG, bool allMinutiae);
    int combineFingerprints(GroupEx* g, bool transferP, bool transferG, int cxP, int cyP, int cxG,
                            int cyG, int rotation, bool allMinutiae);
    bool transferMinutiaes(GroupEx* g, const ESK::Sign* minutiae, MinutiaeShort* out, int count,
                           int srcCx, int srcCy, int dstCx, int dstCy, int rotation,
                           bool allMinutiae, bool isProbe);
    void transferPoint(int x, int y, int angle, int& outX, int& outY, int& outAngle, int srcCx,
                       int srcCy, int dstCx, int dstCy, int rotation, int scaleX, int scaleY,
                       int areaScaleX, int areaScaleY, bool forward);
    void getAreaScale(GroupEx* g, int cx, int cy, int& scaleX, int& scaleY, bool isProbe);
    // getAreaScale at each of the first count points, into scaleX[] and scaleY[].
    void getAreaScales(GroupEx* g, const ESK::Sign* points, int count, int* scaleX, int* scaleY,
                       bool isProbe);
    void calcScale(GroupEx* g);
    void calcScaleForNewPair(GroupEx* g, std::size_t pos);

    // ---- search, kernels, conflict positions, expansion, score and driver ----
    // (declared by the search and score component)

    // ======== data ========
    ESK::Unwrap* m_unwrap = nullptr;
    int m_maxAngle = 0; // rotation limit, 40..180
    int m_speed = 0;    // speed level, 0..3
    int m_numNestP = 0; // minutiae kept per side, at most 255
    int m_numNestG = 0;
    int m_capacityP = 0; // capacity of the per-side minutia arrays
    int m_capacityG = 0;
    std::uint16_t m_widthP = 0;
    std::uint16_t m_widthG = 0;
    std::uint16_t m_heightP = 0;
    std::uint16_t m_heightG = 0;
    unsigned char* m_areaP = nullptr; // mask in use: the caller's or m_ownAreaP
    unsigned char* m_areaG = nullptr;
    unsigned char* m_ownAreaP = nullptr; // MAX_AREA_CELLS bytes each
    unsigned char* m_ownAreaG = nullptr;
    std::uint16_t m_areaWidthP = 0;
    std::uint16_t m_areaWidthG = 0;
    std::uint16_t m_areaHeightP = 0;
    std::uint16_t m_areaHeightG = 0;
    std::uint8_t m_qualityP = 0;
    std::uint8_t m_qualityG = 0;
    std::uint8_t m_densityP = 0; // ridge density of the record
    std::uint8_t m_densityG = 0;

    // Per-side heap arrays by minutia (capacity m_capacityP / m_capacityG).
    ESK::Sign* m_minutiaeP = nullptr;
    ESK::Sign* m_minutiaeG = nullptr;
    ESK::Link* m_linksP = nullptr;
    ESK::Link* m_linksG = nullptr;
    MinutiaeShort* m_carriedP = nullptr; // probe minutiae carried into the gallery frame
    MinutiaeShort* m_carriedG = nullptr; // gallery minutiae carried into the probe frame
    std::uint16_t* m_qualityWeightP = nullptr;
    std::uint16_t* m_qualityWeightG = nullptr;
    NestAccel* m_accelP = nullptr;
    NestAccel* m_accelG = nullptr;

    int m_speedRow[NUM_SPEED_PARAMS] = {}; // p0..p19 of the current match

    unsigned char m_recordP[MAX_RECORD_COPY] = {};
    unsigned char m_recordG[MAX_RECORD_COPY] = {};
    std::uint8_t m_patternMaskP = 0;
    std::uint8_t m_patternMaskG = 0;
    ESK::Sign m_singularP[MAX_SINGULAR] = {};
    ESK::Sign m_singularG[MAX_SINGULAR] = {};
    int m_numSingularP = 0;
    int m_numSingularG = 0;
    FP_TYPE m_typeP = FP_PLAIN;
    FP_TYPE m_typeG = FP_PLAIN;

    std::uint8_t m_accelSim[MAX_NESTS][MAX_NESTS] = {};
    std::uint32_t m_accelHistogram[NEST_ACCEL_HISTOGRAM] = {};
    NestCompareResult m_nestCompare[MAX_NESTS][MAX_NESTS];

    // Cells written since the last clearing, each once (i * MAX_NESTS + j); kept only after a
    // clearing has emptied every cell.
    std::uint16_t m_touchedCells[MAX_NESTS * MAX_NESTS];
    std::uint32_t m_numTouchedCells = 0;
    bool m_cellsSwept = false;

    BestNest m_bestNests[MAX_NESTS * MAX_NESTS];
    std::uint32_t m_numBestNests = 0;
    NestVirtSizeSet m_nestVirtSizeSet = {};
    unsigned m_numVirtGroup = 0;

    MinutiaePairSet m_pairSetP;
    MinutiaePairSet m_pairSetG;
    std::uint8_t m_wideP[MAX_NESTS] = {};
    std::uint8_t m_wideG[MAX_NESTS] = {};

    GroupEx* m_curGroup = nullptr;
    GroupEx m_kernelGroups[NUM_GROUPS];
    GroupEx* m_kernelRank[NUM_GROUPS] = {};
    GroupEx m_expandGroups[NUM_GROUPS];
    GroupEx* m_expandRank[NUM_GROUPS] = {};

    int m_minAngleTol = 50;
    int m_minAngleTolWide = 75;
    int m_dirTolBase = 25;
    int m_distUnit = 11;

    int m_errorLevel = 0;
    HitGroup m_scratchHit;    // filled by every nest comparison
    HitGroupStore m_hitStore; // the groups of the comparison cache cells
    // The group of every cell whose comparison under transition t found no item: transition
    // t, similarity 0, no items.
    HitGroup m_emptyHits[NUM_CACHED_TRANSITIONS];
    HitItem* m_hitLists[3] = {}; // MAX_NESTS items each; the first backs m_scratchHit
    // Unexplained-neighbour marks of a nest comparison; all clear between comparisons.
    NotHit m_notHitP[MAX_NESTS] = {};
    NotHit m_notHitG[MAX_NESTS] = {};
    // Linked neighbours of each nest as the nest comparison counts them (non-empty slots to
    // kept minutiae, each minutia once): a bit set and their summed quality weight; and the
    // slots that can pair a link (a link code, a kept neighbour other than the nest itself),
    // by the family of their code (linkCodeFamilies; a code of no family pairs none).
    // Made when a side is loaded.
    struct NestNeighbours {
        std::uint64_t mask[4];
        std::uint64_t familySlots[2];
        std::uint32_t weight;
    };
    static_assert(ESK::ESK_LINK_SLOTS <= 64, "a slot set is 64 bits");
    NestNeighbours m_neighboursP[MAX_NESTS] = {};
    NestNeighbours m_neighboursG[MAX_NESTS] = {};
    // A nest transition read backwards: the probe slots it maps into a set of gallery slots.
    // Made from TransitionMatrix and made again at a match or a load that finds the matrix
    // changed. A row whose slots move by few distinct shifts keeps one slot set per shift;
    // any other keeps, for each gallery slot, the probe slots mapped to it.
    static constexpr int MAX_SLOT_SHIFTS = 8;
    struct SlotMapRow {
        // Probe slot k of slots[i] maps to gallery slot k - turn[i] (mod 64).
        std::uint64_t slots[MAX_SLOT_SHIFTS];
        std::uint8_t turn[MAX_SLOT_SHIFTS]; // 0..63
        int numShifts;                      // -1: by `inverse`
        std::uint64_t inverse[ESK::ESK_LINK_SLOTS];

        // x turned left by n bits, 0 <= n < 64.
        static std::uint64_t rotateLeft(std::uint64_t x, unsigned n)
        {
            return (x << n) | (x >> ((64 - n) & 63));
        }

        // The probe slots mapped into each of the gallery slot sets s[0] and s[1] (slots
        // below 64), into k[0] and k[1].
        void probeSlotsInto(const std::uint64_t* s, std::uint64_t* k) const
        {
            std::uint64_t k0 = 0;
            std::uint64_t k1 = 0;
            if (numShifts >= 0) {
                // Gallery slot b turns to (b + turn[i]) mod 64, which is the probe slot k of
                // slots[i] exactly when b is k's gallery slot.
                for (int i = 0; i < numShifts; ++i) {
                    k0 |= rotateLeft(s[0], turn[i]) & slots[i];
                    k1 |= rotateLeft(s[1], turn[i]) & slots[i];
                }
            } else {
                for (std::uint64_t b = s[0]; b != 0; b &= b - 1) {
                    k0 |= inverse[__builtin_ctzll(b)];
                }
                for (std::uint64_t b = s[1]; b != 0; b &= b - 1) {
                    k1 |= inverse[__builtin_ctzll(b)];
                }
            }
            k[0] = k0;
            k[1] = k1;
        }
    };
    SlotMapRow m_slotMaps[NUM_NEST_TRANSITIONS] = {};
    std::int32_t m_slotMapSource[NUM_NEST_TRANSITIONS][NUM_LINK_SLOTS] = {};
    bool m_slotMapsMade = false;
    void refreshSlotMaps();
    bool m_quadrantCheck = false;
    bool m_replacement = false;
    Transition m_transitionLimit = 0;
    int m_quadrantLimit = 16;
    int m_rotationOffset = 0; // added to nest rotations before the limit test; always 0

    // The current group's partner of each probe minutia (-2 for none) and the gallery minutiae
    // it holds, as the final nest comparison reads them: compNestsFinal makes them for its one
    // comparison, the score once for the comparisons of every pair of a group
    // (compNestsFinalMade).
    struct FinalPartners {
        std::int16_t partnerOfP[MAX_NESTS + 1];
        std::uint8_t inGroupG[MAX_NESTS];
    };
    FinalPartners m_finalPartners = {};
    // Makes m_finalPartners from the current group.
    void makeFinalPartners();
    // compNestsFinal with m_finalPartners made for the current group as it stands.
    void compNestsFinalMade(short np, short ng, Transition t);

    // Exclusion marks, one byte per minutia (set by the geometric expansion, read by the
    // final nest comparison).
    std::uint8_t m_excludeP[MAX_NESTS] = {};
    std::uint8_t m_excludeG[MAX_NESTS] = {};

    // ======== search, kernels, conflict positions, expansion, score and driver ========
    // ---- driver ----
    void initNewMatch(MatchResult& r);
    bool matchBranch1(MatchResult& r, CalcScoreTypeEnum type);
    bool matchBranch2(MatchResult& r, CalcScoreTypeEnum type);
    bool saveMatchResult(MatchResult& r, CalcScoreTypeEnum type);

    // ---- the pair gate and topological expansion ----
    // Position of (np, ng) in the group after the gate, or -1 when refused; pairs below
    // minPos are never displaced.
    int tryAdd2curGroup(GroupEx* group, int np, int ng, Transition t, int level, unsigned minPos,
                        bool useScale, short scaleX, short scaleY);
    int tryAdd2curGroupWithReplacement(GroupEx* group, int np, int ng, Transition t, bool useScale,
                                       short scaleX, short scaleY);
    int tryAdd2curGroupWithReplacement1(GroupEx* group, int np, int ng, Transition t,
                                        std::size_t replacePos, bool useScale, short scaleX,
                                        short scaleY);
    static bool isNewPairBetter(int classNew, int classOld, int simNew, int simOld);
    static bool isNewPairBetter1(int errNew, int errOld, int simNew, int simOld);
    bool checkQuadrants(GroupEx* group, int np, int ng, Transition t, NumSet<unsigned>& skip,
                        std::size_t start, NumSet<unsigned>& conflicts, std::size_t maxConflicts);
    // getQuadrant of neighbour j seen from minutia i of the probe side (ofP) or the gallery
    // side, with its ridge count (0 when no link names j) through ridgeCount. getQuadrant
    // reads only the minutia's type and links, so every answer is made when a side is loaded.
    int linkQuadrant(bool ofP, int i, int j, int& ridgeCount);
    void expandGroupByTopology(GroupEx* group, unsigned start);
    bool addNestPair2group(GroupEx* group, int np, int ng, Transition t, bool tryPair,
                           bool withLinks, bool useScale);
    void addNestPair2groupEx(GroupEx* group, short np, short ng);
    bool tryAddLinks(GroupEx* group, int np, int ng, Transition t, bool withLinks, bool useScale);
    void findAllCompatiblePairs();
    std::size_t buildExpandGroups();
    void buildExpandGroup(GroupEx* group, short np, short ng, short conflictPos,
                          std::uint16_t unusedSim, int unused);
    // Best similarity of the nest pair after transitions 0 to 6 were compared.
    int pairSimilarity(int np, int ng);
    // Either side comes from a latent print.
    bool isLatent() const;

    // ---- kernel groups ----
    void buildKernelGroups(int branch, unsigned count, bool quick);
    void buildKernelGroup1(GroupEx* group, bool quick);
    void buildKernelGroup2(GroupEx* group);
    void clearUsedNests(GroupEx* group);
    void sortKernelGroupsByNumItems(unsigned n);
    void cleanInitialGroup(GroupEx* group);
    void cleanInitialGroupCase(NumSet<unsigned>* conflicts, unsigned n, unsigned* counts,
                               NumSet<unsigned>& removed);
    void uniteKernelGroups(unsigned n);
    void uniteDifGroups(unsigned n);
    void uniteDifGroup(GroupEx* first, GroupEx* second);
    bool isGroupsCompatible(GroupEx* first, GroupEx* second);
    // Not used by a match.
    void sortKernelGroupsBySumSim(unsigned n);
    void buildInitialGroup(GroupEx* group, short np, short ng);
    void tryAdd2InitialGroup(GroupEx* group, short np, short ng, Transition t);
    bool isGroupsCanBeUnite(GroupEx* first, GroupEx* second, std::size_t percent, int* markFirst,
                            int* markSecond);
    void expandKernelGroups(unsigned n);
    void expandKernelGroup(GroupEx* group);
    void expandGroupByNestSimSet(GroupEx* group);
    // Offers (np, ng) to the group with the local scale at the probe minutia and scales an
    // accepted pair; its position or -1.
    int offerWithAreaScale(GroupEx* group, int np, int ng, Transition t);

    // ---- conflict positions ----
    void expandCurGroupByTopologyAlt();
    void fillCoflictPosSet(ConflictPosSet& set);
    void testExpandCases(ConflictPosSet& set);
    // Records candidate (nP, nG) of `group` in the set with the positions it displaces.
    void addConflictCandidate(GroupEx* group, ConflictPosSet& set, short nP, short nG,
                              Transition t);
    // The same on a given group, with the first best nest pairs as candidates (not used by a
    // match).
    void expandGroupByNestSimSetAlt(GroupEx* group);
    void fillCoflictPosSetForNestSimSet(GroupEx* group, ConflictPosSet& set);
    void testExpandCasesForNestSimSet(GroupEx* group, ConflictPosSet& set);
    void clearUsedNestSimSet(GroupEx* group);

    // ---- geometric expansion and exclusion ----
    // Inside cells of one side's area mask, summed over every rectangle from the origin, so
    // that a window of cells is counted from four entries. Checked at the first use in a match
    // (or after the side's mask or its size changed) against a copy of the mask it was built
    // from, and built again when they differ: a probe matched against many galleries keeps its
    // sums.
    struct AreaSums {
        // (width + 1) x (height + 1) entries, modulo 2^16: a window's count, far below 2^16,
        // comes out exact from four of them.
        std::vector<std::uint16_t> sums;
        std::vector<unsigned char> cells; // the mask they were built from
        const unsigned char* mask = nullptr;
        int width = 0;
        int height = 0;
        bool checked = false;
        bool used = false; // false: windows are counted cell by cell
    };
    // Marks each of `count` carried positions whose (2 reach + 1)^2 window of cells holds
    // fewer than minInside cells inside the area of the probe side (ofP) or of the gallery
    // side; cells beyond the mask count as outside, and without a mask none is inside.
    void markSparseWindows(bool ofP, const MinutiaeShort* carried, int count, int reach,
                           int minInside, std::uint8_t* marks);
    void refreshAreaSums(AreaSums& a, const unsigned char* mask, int width, int height);
    bool expandCurGroupByGeometry(bool quick);
    void findExclude();
    void findStrongExclude();
    // The window marks of findExclude (before the group's minutiae are cleared) into marksP
    // and marksG.
    void markExcludeWindows(std::uint8_t* marksP, std::uint8_t* marksG);
    // Marks gallery minutia ng anew among the kept window marks (when they are kept) after its
    // carried position changed.
    void remarkExcludeWindowG(int ng);
    unsigned char countExcluded(int count, const std::uint8_t* flags) const;
    int expandCurGroup(bool markOnly);

    // ---- score ----
    int calcScore(CalcScoreTypeEnum type);
    void prepareScoreParameters(CalcScoreTypeEnum type);
    int calculateScore();
    void calcTopologySim(int firstGroupSize, int mainGroupSize, int count);
    void calcPairDif(int first, int main, int count, int* unused);
    void calcPairRelAngleDif(int first, int main, int count, int* unused);
    void fillMinutiaesData();
    void fillFoundMinutiaesData();
    void fillFoundMinutiaeData(unsigned item, FOUND_STATUS status);
    void fillNotFoundMinutiaesData();
    void fillUnreliableMinutiaesData();
    static void fillMinutiaeData(MinData& md, FOUND_STATUS status, unsigned short probability);
    int estimateNotFoundAreaProb(int x, int y, const ESK::Lot<short>* others, int count);
    // One side as the unreliable-pair search reads it.
    struct UnreliableSide {
        const ESK::Lot<short>* minutiae;
        const ESK::Link* links;
        const int* marks;
        const std::uint8_t* excluded;
        MinData* md;
        int count;
        int index; // 0 probe, 1 gallery
    };
    // The links along which a minutia may find its unreliable partner, in the order of choice: they
    // depend on the loaded side only, so each minutia's are gathered once per load of its
    // side (valid when load[i] equals the side's loadStamp).
    struct UnreliableLink {
        std::uint8_t neighbour;
        std::uint8_t distance;
        std::uint8_t ridgeCount;
    };
    struct UnreliableLinks {
        UnreliableLink items[MAX_NESTS][ESK::ESK_LINK_SLOTS];
        std::uint8_t count[MAX_NESTS];
        std::uint8_t load[MAX_NESTS];
        // Mark of the side's current load, 1..255 (0 before the first load: nothing is kept).
        std::uint8_t loadStamp;
    };
    void findAllUnreliablePairs(const ESK::Lot<short>* minutiae, const ESK::Link* links,
                                const int* marks, int count, const std::uint8_t* excluded,
                                MinData* md, bool isProbe);
    void findUnreliablePairs(const UnreliableSide& side, int i);
    std::uint8_t getUnreliableStatus(const UnreliableSide& side, int partner) const;
    void fillUnreliablePairData(const UnreliableSide& side, int a, int b, int distance,
                                int ridgeCount);

    AreaSums m_areaSumsP;
    AreaSums m_areaSumsG;
    // The area scales at every probe minutia that carrying all probe minutiae by group
    // m_probeScalesOf worked out. The geometric expansion, which carries them right before it
    // looks for compatible pairs, hands them on through m_probeScalesFresh (the group unchanged
    // since); findAllCompatiblePairs takes that flag down when it starts.
    int m_probeScaleX[MAX_NESTS] = {};
    int m_probeScaleY[MAX_NESTS] = {};
    const GroupEx* m_probeScalesOf = nullptr;
    bool m_probeScalesFresh = false;
    // The window marks of findExclude that the geometric expansion counted, kept for the
    // findExclude of the score that follows it: valid while m_windowMarksKept, which every
    // carrying of minutiae, load and match takes down (a pair scaled on its own marks its
    // gallery minutia anew).
    std::uint8_t m_windowMarksP[MAX_NESTS] = {};
    std::uint8_t m_windowMarksG[MAX_NESTS] = {};
    bool m_windowMarksKept = false;
    // Answers of linkQuadrant by side, minutia and neighbour (both below the side's count):
    // quadrant + 1 in the low 3 bits, ridge count + 16 in the high 5 bits.
    std::uint8_t m_linkQuadrant[2][MAX_NESTS][MAX_NESTS] = {};

    // In-group marks: 1 while the minutia belongs to the current group.
    int m_inGroupP[MAX_NESTS] = {};
    int m_inGroupG[MAX_NESTS] = {};
    // Strong exclusion: no cell around the carried position lies inside the other print.
    std::uint8_t m_strongExcludeP[MAX_NESTS] = {};
    std::uint8_t m_strongExcludeG[MAX_NESTS] = {};

    // Pairs compatible with the current group, in increasing np, then ng.
    struct CompatiblePair {
        std::uint8_t np;
        std::uint8_t ng;
        std::uint16_t sim;
        std::uint16_t conflictPos; // 0xFFFF = none
    };
    CompatiblePair m_compatPairs[MAX_NESTS * MAX_NESTS] = {};
    std::uint32_t m_numCompatPairs = 0;
    std::uint32_t m_compatFirst[MAX_NESTS] = {};
    std::uint32_t m_compatLast[MAX_NESTS] = {};
    std::uint8_t m_compatHas[MAX_NESTS] = {};
    int m_compatLastNp = -1;
    std::uint32_t m_compatOrder[MAX_NESTS * MAX_NESTS] = {}; // records by similarity

    // Score work arrays.
    ScoreParameters m_scoreParams = {};
    MinData m_minDataP[MAX_NESTS] = {};
    MinData m_minDataG[MAX_NESTS] = {};
    int m_numFound = 0;
    int m_numExcludedP = 0;
    int m_numExcludedG = 0;
    std::uint8_t m_unreliableVisited[MAX_NESTS] = {};
    UnreliableLinks m_unreliableLinks[2] = {};

    // Bounded minimum-removal search of cleanInitialGroup: nodes visited in the current
    // cleaning, and cleanings (since construction) that reached the bound.
    unsigned m_cleanVisits = 0;
    unsigned m_numCleanCapped = 0;
    // Scratch of cleanInitialGroup, kept between calls: the block of its conflict and skip
    // sets, and the conflict sets over it.
    std::vector<unsigned> m_cleanBlock;
    NumSet<unsigned> m_cleanConflicts[GROUP_CAPACITY];

    // ======== end of the search and score section ========

private:
    // Marks a candidate too close to the central pair for a direction test.
    static constexpr int CENTRAL_SHORT = 1000;
    // Length test of (np, ng) against the central pair; d = the direction difference, or
    // CENTRAL_SHORT. False when the lengths disagree.
    bool centralPairDirection(int np0, int ng0, int np, int ng, int rotation, int& d);
    // Minutiae that may carry a mark of a nest comparison, by side (0 probe, 1 gallery), in
    // the order they are counted; one may appear more than once.
    struct NestMarks {
        std::uint8_t index[2][ESK::ESK_LINK_SLOTS];
        int count[2];
    };
    // The neighbours of nests np and ng that their links name (a link code, a kept minutia),
    // in slot order.
    void linkedNeighbours(int np, int ng, NestMarks& out) const;
    // getNotHitProbabilities over the marked minutiae among the candidates.
    int notHitOfMarks(int np, int ng, const NestMarks& candidates, NotHit* notHitP, NotHit* notHitG,
                      int& count, bool final, int limit);
    // The similarity of calcNestSim from marks already cleared for the hit neighbours (and,
    // under the final rules, for the excluded minutiae), every mark among the candidates.
    void calcNestSimOfMarks(int np, int ng, HitGroup& g, const NestMarks& candidates,
                            NotHit* notHitP, NotHit* notHitG, bool final);
    // Similarity of the scratch group of compNestsAlt for nests np and ng: the neighbours
    // that no item explains come from the loaded neighbour sets, with no marks.
    void calcNestSimAlt(int np, int ng, HitGroup& g);
    // The comparisons of getNestCompareResult for nests np and ng into their cell, under the
    // transitions of `open` (bit t for transition t, each one open to the pair).
    void compareCell(int np, int ng, NestCompareResult& cell, std::uint32_t open);
    // Fills the neighbour sets, the nest signatures and the linkQuadrant answers of one side
    // from its links, link lengths and quality weights, each minutia's slots read once.
    void buildLinkTables(bool isP);
    void releaseAll();
    // The steps of loadTemplate.
    int loadSide(bool isP, unsigned char* tpl, FP_TYPE type, unsigned char* area, int w, int h);
    void rebuildSide(bool isP);
};

} // namespace accelMatch
