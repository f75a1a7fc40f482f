// The extraction engine object `wizard73::Codex` and its class chain: CBase (pyramid, layer
// store, raster scans, ridge walks), CHues (palette), Coral (line walks), Chain (skeleton arm
// walks), CWork (tables, rank object, accumulators), Codex (stages and template header).
// Layers are 8-bit planes addressed by (id, level); stages report failures by throwing int codes
// (codes.h). The object holds heap memory only between a load and the next reset.
//
// Life of an engine object:
//   Codex engine;             // construct once: tables, palette, empty layer store
//   engine.Reset();           // driver, before every image: DelDoc, ResDoc, Resume, DelTab
//   -- stage 0, the loader: DelDoc, DelTab, CBase::ResDoc, Resume, Codex::ResDoc,
//      CWork::ResDoc (the full reset), then SetMap(map), SetGeo(w0, h0) (level sizes, scales,
//      direction tables), NewDoc() (one block for all slots, each zeroed on its first claim;
//      work planes, not cleared), the scan window m_win* on level 0, and GetLay(0, 0) for the
//      source at stage 0
//   engine.Pickup(-1) ...     // stages, each pulling its predecessors on demand
//   engine.GetLay(id, level)  // any layer by id and level (claims a free slot when absent)
//   engine.Reset(), ~Codex()  // free every per-image allocation
// A stage sets m_stage, calls OldLay(m_stage), installs its callbacks in the slots below and
// runs Scener / Scenes; every scan ends by restoring the default callbacks (Resume).
#pragma once

#include "extraction/engine/BitSink.h"
#include "extraction/engine/CRank.h"
#include "extraction/engine/FixedMath.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace wizard73 {

class Codex;

constexpr int WZ_LEVELS = 5;      // pyramid levels 0 (finest) .. 4
constexpr int WZ_SLOTS = 68;      // most layer slots of one level
constexpr int WZ_CURSORS = 16;    // fine and scan-level cursors of a scan
constexpr int WZ_WALKERS = 5;     // walk cursors
constexpr int WZ_PLANES = 5;      // 16-bit work planes of level-0 size
constexpr int WZ_ARMS = 8;        // arm records of the skeleton arm walks
constexpr int WZ_ARM_POINTS = 16; // points kept of the arm being walked
constexpr int WZ_VISITED = 1024;  // raised pixels of one arm walk that are restored afterwards
constexpr std::uint32_t WZ_FREE_KEY = 0xFFFFFFFFu;

// Slot counts per level of the five level maps; the loader of a full extraction uses map 2.
extern const int pyr[5][5];

// One entry of the ring spiral: a step in direction `dir`, the number of following points
// to drop when the step starts on the level's edge, and the point's angle in degrees.
struct SRingStep {
    std::uint8_t dir;
    std::uint8_t skip;
    std::int16_t angle;
};
extern const SRingStep ring[96];
// Ring points walked by Spiral for radius 0..4.
inline constexpr int kRingEntries[5] = {8, 24, 44, 68, 96};
// Extent of the ring walk of radius 0..4, relative to its centre: the farthest column or row
// from which a step towards each edge starts (east, west, south, north), and the last point.
struct SRingReach {
    std::int8_t east, west, south, north;
    std::int8_t endX, endY;
};
extern const SRingReach ringReach[5];

// One recorded step of a line walk. `off` is a pixel offset (not a machine pointer) so that the
// record is the same on every target; `aux` and `val` belong to the stage that reads the list.
struct SStep {
    std::int32_t x;
    std::int32_t y;
    std::int32_t aux;
    std::int32_t off;
    std::int32_t val;
};

// Geometry, layer slots and neighbour steps of one pyramid level.
struct CLevel {
    std::uint8_t scale; // level-0 pixels per pixel along one axis: 1, 2, 4, 8, 16
    std::uint16_t width;
    std::uint16_t height;
    std::uint32_t size; // width * height
    std::uint8_t slots; // slot count, 0..68
    std::uint8_t peak;  // most slots ever in use + 1 (kept, never read)
    std::uint8_t hint;  // slot of the last layer GetLay found or claimed (ids are unique)
    unsigned char* buf[WZ_SLOTS];
    std::uint32_t key[WZ_SLOTS];  // layer id, WZ_FREE_KEY = free
    std::int32_t stamp[WZ_SLOTS]; // stage number of the claim, -1 = free
    // Direction table, directions 0..7 = E, SE, S, SW, W, NW, N, NE: steps, cursor offset and
    // the coordinate at which a step would leave the level (-9: never).
    int dx[8];
    int dy[8];
    int step[8];
    int xEdge[8];
    int yEdge[8];
};

// Pyramid, layer store, scan engine, ridge walks.
class CBase {
public:
    // Callback slots are member functions of the engine object (virtual ones allowed). A member
    // of any class of the chain converts to these types implicitly.
    using TuneFn = void (Codex::*)(int, int); // (scanLevel, fineLevel)
    using ActFn = void (Codex::*)();
    using TestFn = int (Codex::*)();
    using RingFn = void (Codex::*)(int, int); // (angle, ring index)
    using StepFn = int (Codex::*)(int);       // (step index) -> non-zero stops the line

    CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;
    virtual ~CBase();
    virtual void SetMap(const int* counts);
    virtual void DelDoc();
    virtual void DelTab();
    virtual void ResDoc();
    virtual void Resume();
    virtual int SetMod(unsigned char* rec);
    virtual bool VerMod(unsigned char* rec);

    // --- Layer store and pyramid (Layout.cpp) ---
    void SetGeo(int width0, int height0); // level sizes, scales and direction tables
    void NewDoc(); // one block for all slots, all slots free; a claimed slot is not cleared
    int GetKey(int id, int level) const;
    // Layer `id` of `level`, claiming a free slot when absent; null for a bad level or id or
    // when every slot is taken. The lookup is inline: stages call it once per layer they use.
    unsigned char* GetLay(int id, int level)
    {
        if (level >= 0 && level < WZ_LEVELS && id >= 0) {
            CLevel& lv = m_level[level];
            if (lv.hint < lv.slots && lv.key[lv.hint] == static_cast<std::uint32_t>(id)) {
                return lv.buf[lv.hint];
            }
            for (int s = 0; s < lv.slots; ++s) {
                if (lv.key[s] == static_cast<std::uint32_t>(id)) {
                    lv.hint = static_cast<std::uint8_t>(s);
                    return lv.buf[s];
                }
            }
        }
        return ClaimLay(id, level);
    }
    void DelLay(int id, int level);
    void OldLay(int stage);
    void ProLay(int id, int x, int y, int level, int fromLevel);
    unsigned char* ProRef(int id, int x, int y, int level, int fromLevel);
    unsigned char* ProSrc(int id, int level, int fromLevel);
    static int DipPyr(int v, int fine, int coarse);
    std::int16_t* Plane(int k) { return m_plane[k].get(); } // work plane k = 0..4 or null

    // --- Raster scans (Scenes.cpp) ---
    void Scener(int level);
    void Scenes(int mode, int border, int scanLevel, int fineLevel);
    void Scenew(int mode, int scanLevel, int fineLevel) { Scenes(mode, 0, scanLevel, fineLevel); }
    void Scenei(int mode, int scanLevel, int fineLevel) { Scenes(mode, 1, scanLevel, fineLevel); }
    void Fragmo(int k, int kW);
    int Spiral(int level, int radius, int value);
    // The walk of Spiral with the point step visit(angle, ring index) known at compile time, so
    // that it inlines; the walk state is in the members at every point, as Spiral leaves it.
    template <class Visit> int RingWalk(int level, int radius, int value, Visit visit);
    // The same ring with visit(angle, offset) given each point's pixel offset from the centre
    // instead of the walk state; the state after the walk is the one RingWalk leaves. Where the
    // whole ring lies inside the level the offsets come from a table made once per level.
    // Inlined into its caller, so that the visit's captures stay in registers.
    template <class Visit>
    __attribute__((always_inline)) int RingOffsets(int level, int radius, int value, Visit visit);
    // RingOffsets of a valid level and a radius index r (0..4) whose RingInside answer the
    // caller already holds in `inside`.
    template <class Visit>
    __attribute__((always_inline)) int RingOffsetsAt(int level, int r, bool inside, int value,
                                                     Visit visit);
    template <class Step>
    static void RingNearEdge(const CLevel& lv, int n, int& x, int& y, Step step);
    // The walk state that RingOffsetsAt leaves after a ring of radius index r wholly inside a
    // valid level, for a caller that visits its points in an order of its own; the point count.
    int RingInsideDone(int level, int r, int value)
    {
        m_ringValue = value;
        m_ringCount = kRingEntries[r];
        const std::int32_t end = m_ringOff[level][m_ringCount - 1];
        m_wx += ringReach[r].endX;
        m_wy += ringReach[r].endY;
        m_walkOff += end;
        Advance(m_walk, WZ_WALKERS, end);
        return m_ringCount;
    }
    // The near-edge ring of RingOffsets from the walk position as a list made on first use:
    // visited-point count, offset after the last step, then (angle, offset) per visited point;
    // null where the level is too small for the lists (the ring is then walked step by step).
    const std::int32_t* EdgeRing(int level, int r);
    // EdgeRing's list of start class (cx, cy) when it is not made yet: the lists of the level
    // size are set up, and the class's list is made by walking the ring from one start of it.
    const std::int32_t* EdgeRingMake(int level, int r, int cx, int cy);
    // Whether no step of the walk of radius index r (0..4) from the walk position starts on an
    // edge of `level`, so that every ring point is visited.
    bool RingInside(int level, int r) const
    {
        const CLevel& lv = m_level[level];
        const SRingReach& e = ringReach[r];
        return m_ringWidth[level] == lv.width && m_wx - e.west > 0 &&
               m_wx + e.east < lv.width - 1 && m_wy - e.north > 0 && m_wy + e.south < lv.height - 1;
    }
    // Whether RingWalk of (level, radius) takes its whole-ring path: a valid level and radius
    // whose ring (radius capped at 4) lies inside the level.
    bool RingWhole(int level, int radius) const
    {
        return radius >= 0 && level >= 0 && level < WZ_LEVELS &&
               RingInside(level, radius > 4 ? 4 : radius);
    }
    // Default callbacks: do nothing, answer 0, answer 1.
    void Deaden(int, int) {}
    void Deaden() {}
    int Deafen() { return 0; }
    int Spirit() { return 1; }
    // Flow-oriented 3 x 3 mean of a byte layer at p along orientation a (degrees); `fine`
    // non-zero takes the fine width of the scan as row stride, else the scan-level width.
    int Fiimpo(int a, const unsigned char* p, int fine) const;

    // --- Ridge walks (Moving.cpp) ---
    void MvTune(int dir, int level);
    int MvLayW(int dir, int steps, int stopAfterMarks, int level);
    int MvLayI(int dir, int steps, int stopAfterMarks, int level);
    int MvSumW(int dir, int steps, int stopAfterMarks, int level);
    int MvSumI(int dir, int steps, int stopAfterMarks, int level);
    int MvSynW(int dir, int steps, int stopAfterMarks, int level);
    int MvSynI(int dir, int steps, int stopAfterMarks, int level);
    int Rounde(int depth);
    int Roundf(int depth);
    int Rounde(int depth, int level);
    int Roundf(int depth, int level);
    int Runner(int maxSteps, int level);
    void UnWrap(int steps, int level);

    // --- Per-run state ---
    CLevel m_level[WZ_LEVELS];
    const int* m_map[5];    // the five slot-count maps
    std::int32_t m_stage;   // current stage number; stamps new claims
    std::uint32_t m_claims; // claim counter
    std::int32_t m_error;   // last error code
    int m_curLevel;         // current pyramid level of a stage
    int m_scanLevel;
    int m_fineLevel;
    int m_winLeft, m_winTop, m_winRight, m_winBottom;   // Scener window, inclusive
    int m_scratch[100];                                 // stage scratch, cleared by ResDoc
    std::unique_ptr<unsigned char[]> m_block;           // all layer buffers
    std::unique_ptr<std::int16_t[]> m_plane[WZ_PLANES]; // 16-bit work planes (level-0 size)
    std::unique_ptr<int[]> m_rowOff;                    // loader's index tables
    std::unique_ptr<int[]> m_coord;

    // --- Scan state read by callbacks ---
    TuneFn m_tune = nullptr, m_tune2 = nullptr;
    ActFn m_fresh = nullptr;
    TestFn m_blockTest = nullptr;
    ActFn m_pixel = nullptr, m_blockDone = nullptr;
    TestFn m_edgeTest = nullptr;
    ActFn m_edgePixel = nullptr, m_edgeDone = nullptr;
    RingFn m_ringPoint = nullptr;
    StepFn m_step = nullptr;
    TestFn m_chain = nullptr;     // walks of Moving.cpp: accept the pixel under the walk cursor?
    TestFn m_leaf = nullptr;      // Rounde / Roundf at depth 0
    int m_fineX = 0, m_fineY = 0; // fine position
    int m_scanX = 0, m_scanY = 0; // scan position (m_scanX is the column counter)
    int m_W = 0, m_H = 0, m_Wm1 = 0, m_Wp1 = 0; // fine strides
    int m_w = 0, m_h = 0, m_wm1 = 0, m_wp1 = 0; // scan-level strides
    int m_half = 0, m_centre = 0;               // centre half-size and cursor offset (mode 1)
    int m_nb[8]{};                              // fine neighbour offsets, directions 0..7
    int m_clipX = 0, m_clipY = 0;               // clip of the current block (columns, rows * W)
    unsigned char* m_fine[WZ_CURSORS]{};
    unsigned char* m_coarse[WZ_CURSORS]{};
    int m_wx = 0, m_wy = 0; // walk position
    unsigned char* m_walk[WZ_WALKERS]{};
    std::int32_t m_walkOff = 0;      // walk cursor as an offset (recorded by the line walks)
    unsigned char* m_refc = nullptr; // reference cursor
    int m_ringCount = 0, m_ringValue = 0;
    // Ring point offsets from the centre per level (SetGeo), and the width they were made for.
    std::int32_t m_ringOff[WZ_LEVELS][96]{};
    int m_ringWidth[WZ_LEVELS]{};
    // Near-edge ring lists (EdgeRing) per level and radius index, one per start class, and the
    // level size they were made for. A start class fixes which ring steps start on an edge.
    struct SEdgeRings {
        int width = 0, height = 0;
        std::unique_ptr<std::int32_t[]> list; // per class: made flag, then EdgeRing's list
    };
    SEdgeRings m_edgeRing[WZ_LEVELS][5];
    // Ridge walks.
    int m_wx2 = 0, m_wy2 = 0; // second walk position and cursor (paired walks)
    unsigned char* m_walk2 = nullptr;
    int m_walkLevel = 0;
    int m_lastDir = 0;
    int m_fwdLeft = 0, m_fwdAhead = 0, m_fwdRight = 0;
    const unsigned char* m_dirList = nullptr; // chain follower's direction list (UnWrap)
    int m_dirIndex = 0;

protected:
    Codex* Self();
    unsigned char* ClaimLay(int id, int level); // GetLay when the layer is absent
    // Cursors that a stage has not set stay null: the scans move only the set ones. The walkers
    // move at every walk step and ring point, so their fixed count gets its own unrolled copy.
    // Defined here so that the walks and scans inline it.
    static void Advance(unsigned char** cursors, int n, int by)
    {
        if (n == WZ_WALKERS) {
            MoveSet(cursors, WZ_WALKERS, by);
        } else {
            MoveSet(cursors, n, by);
        }
    }
    // Moves the cursors that are set. Inlined with a fixed count, the loop unrolls.
    static void MoveSet(unsigned char** cursors, int n, int by)
    {
#pragma GCC unroll 5
        for (int i = 0; i < n; ++i) {
            if (cursors[i] != nullptr) {
                cursors[i] += by;
            }
        }
    }
    // One walk step in direction dir on the walk level, all walk cursors along (inlined into the
    // arm and chain walks).
    void WalkStep(int dir)
    {
        const CLevel& lv = m_level[m_walkLevel];
        m_wx += lv.dx[dir];
        m_wy += lv.dy[dir];
        m_walkOff += lv.step[dir];
        Advance(m_walk, WZ_WALKERS, lv.step[dir]);
    }
    // The walk position lies off the walk level's outermost ring.
    bool WalkInside() const
    {
        const CLevel& lv = m_level[m_walkLevel];
        return m_wx >= 1 && m_wy >= 1 && m_wx <= lv.width - 2 && m_wy <= lv.height - 2;
    }
    template <int Kind> int RidgeWalk(int dir, int steps, int stopAfterMarks, int level);
    int RoundWalk(int depth, int stride);
    int WalkStart(int level);
};

// Small colour palette (huehue.cpp); filled at construction, read by nothing in a run.
class CHues {
public:
    CHues();
    virtual ~CHues() = default;
    virtual int HueInv(unsigned char* out, unsigned c);
    virtual int HueOrg(unsigned char* out, unsigned c);
    virtual void PolHue(int* table);
    virtual void PolHue(int* table, unsigned char* rgb, unsigned char divisor);
    virtual void Colour(unsigned char v);
    virtual void SetHue(int key, unsigned c1, unsigned c2);

    unsigned char m_hueOn;
    unsigned char m_hue0[4], m_hue5[4], m_hue19[2][4], m_hue35[2][4], m_hue128[4];
    int m_channel[3][256];
};

// Line walks and skeleton marking (bresen.cpp).
class Coral : public CBase, public CHues {
public:
    void Pitchs(int level);
    void Bresen();
    int Bresen(int x, int y, int x0, int y0, int level);
    int Bresen(int angle, int length, int level);
    void Bresen(SStep* steps);
    int Breweb(int angle, int length, int level, SStep* steps);
    void Bresen_Furiew(SStep* steps);
    int Breweb_Furiew(int angle, int length, int level, SStep* steps);
    int Breinj(int angle, int length, int level, SStep* steps);
    void Aim(int angle, int length, int level);
    template <bool WithXY> void RecordWalk(SStep* steps);
    int Margin() const;
    int SkeSke(int angle, int length, int level);
    int SkeEnd(int angle, int length, int level);
    int SkeOut(int angle, int length, int level);
    int SkeSkeI(int index);
    int SkeEndI(int index);
    int SkeOutI(int index);
    int Pastes(int x, int y);
    int SkeSet(int index);

    // Line state.
    int m_ldx = 0, m_ldy = 0; // signed deltas
    int m_adx = 0, m_ady = 0; // their magnitudes
    int m_count = 0;          // remaining major steps (callback walk) / major count
    int m_xstep = 0, m_ystep = 0, m_rowStep = 0;
    int m_err = 0, m_inc1 = 0, m_inc2 = 0;
    int m_maxX = 0, m_maxY = 0; // level bounds
    int m_stepIndex = 0;
    int m_hit = 0, m_hitX = 0, m_hitY = 0;
    unsigned char* m_hitCursor = nullptr;

private:
    template <class Visit> void WalkLine(Visit visit);
    template <class Visit> int Probe(StepFn probe, int angle, int length, int level, Visit visit);
    // The probe steps on pixel p at (x, y); a hit is recorded there.
    void Hit(unsigned char* p, int x, int y);
    int SkeSkeAt(unsigned char* p, int x, int y);
    int SkeEndAt(unsigned char* p, int x, int y);
    int SkeOutAt(const unsigned char* p);
};

// 8 x 8 thinning decisions indexed by the neighbourhood code (neighbours below 8).
extern const unsigned char mask[256];

// Skeleton arm walks (chains.cpp) on level-0 skeleton codes: 0 branch point, 1 ending, 3 removed,
// 4..7 ridge; a walk raises the codes it passes by 16 and 128 marks the walk's centre. The walker
// stands on the centre pixel (m_wx, m_wy, m_walk[0]) when an operation starts.
class Chain : public Coral {
public:
    using ArmFn = void (Codex::*)(int length);
    using VisitFn = int (Codex::*)();

    struct SArm {
        std::int32_t x, y;    // where the arm's walk stopped
        unsigned char* end;   // that pixel
        unsigned char* first; // the arm's first pixel (a neighbour of the centre)
        int code;             // result code of the walk
        int aux;              // further value of the walker (the link stage's mark)
        int dir;              // degrees 0..359
        int len;              // rounded distance in pixels
    };
    struct SPoint {
        std::int32_t x, y;
        unsigned char* p;
    };

    // Operations around the centre pixel.
    void Boxers(int length);
    void Orient(int length);
    void Morpho(int length);
    int Crossd(int length);
    void Branch(int length, int orientation);
    void Colour(int length);
    void Visual(int length);
    // Chain codes of the arms around the walker's pixel, in the buffer set by SetChain. Layout:
    // the arms one after another in Boxers' order; per step of an arm one byte, the change of
    // direction from the arm's previous step, (d - previous d) mod 8 in 0..7 with directions as
    // in CLevel, the first step counted from direction 0 (so it is the direction from the
    // centre); then 8 ending the arm. A step onto an ending, branch point or removed pixel is
    // the arm's last. Arms with no step write nothing; single 8s follow until two arms are
    // written. Example, centre (2,1) on a line that runs from an ending at (0,1) east to (3,1)
    // and on south-east to an ending at (4,2): 0 1 8 4 0 8.
    // Chaine needs a centre of code 4..7 and `size` >= the byte count; it returns the byte
    // count, WZ_CHAIN_CENTRE (nothing written) or WZ_CHAIN_FULL (nothing past `size`); all
    // codes are restored. Chaind reads `size` bytes back from the walker's pixel into the arm
    // records (first pixel, end point and pixel; an empty arm has no first pixel and ends on
    // the centre) and returns the arm count, or WZ_CHAIN_BAD for a code above 8, an arm of
    // more than `length` steps, fewer than two or more than WZ_ARMS arms, bytes that end
    // inside an arm, or a step off the level.
    void SetChain(unsigned char* codes, int size);
    int Chaine(int length);
    int Chaind(int length);
    // Single-arm walks from the walker's pixel; each returns the walk's result code.
    int SkeHid(int length);
    int SkeRev(int length);
    int SkeRub(int length);
    int SkeRes(int length);
    int SkeMrk(int length);
    int SkeDir(int length);
    int SkeDel(int length);
    int SkeMin(int length);
    int SkeLin(int length);
    // SkeLin as the general arm walk with SkeLinV, the reference the walk is checked against.
    int SkeLinWalk(int length);
    // SkeDir as the general arm walk with SkeDirV, the reference the walk is checked against.
    int SkeDirWalk(int length);
    // Visitors of the pixel under the walker: 1 = go on through it, 0 = not through it.
    int SkeHidV();
    int SkeRevV();
    int SkeRubV();
    int SkeResV();
    int SkeMrkV();
    int SkeDelV();
    int SkeDirV();
    int SkeMinV();
    int SkeLinV();
    int EChainV(); // as SkeDirV, and writes the step's code
    // Arm callbacks of Boxers.
    void Glance(int length);
    void Follow(int length);
    void Sprout(int length);
    void HidArm(int length);
    void RubArm(int length);
    void RevArm(int length);
    void MrkArm(int length);
    void ResArm(int length);
    void EChain(int length);
    // Bookkeeping.
    void ArmEnd();
    void ArmDel();
    void ArmDir();
    void ArmArm();
    void SkeRes_1();
    // One byte of Chaind: turns and steps the read position (m_end*); 1 = stepped, 0 = end of
    // the arm, WZ_CHAIN_BAD = a code above 8 or a step off the level.
    int DChain(int code);

    int m_arms = 0;
    SArm m_arm[WZ_ARMS] = {};
    SPoint m_pts[WZ_ARM_POINTS] = {};
    int m_head = 0; // next slot of the point ring
    int m_tail = 0; // oldest kept point
    int m_kept = 0; // points kept, at most WZ_ARM_POINTS
    unsigned char* m_visited[WZ_VISITED] = {};
    int m_visitCount = 0;
    int m_armCode = 0;          // result code of the last walk
    bool m_armStop = false;     // the visitor ended the walk
    bool m_armHit = false;      // the walk stopped on a point (not by running out)
    int m_endX = 0, m_endY = 0; // where the last walk stopped
    unsigned char* m_endP = nullptr;
    int m_deleted = 0;          // deleted-arm counter of Branch
    int m_orientation = 0;      // orientation given to Branch
    ArmFn m_armFn = nullptr;    // arm callback of Boxers
    TestFn m_linkAsk = nullptr; // link stage's callback, asked by SkeLinV on code 4

    unsigned char* m_codes = nullptr; // chain-code buffer (the caller's), its size, its index
    int m_codeSize = 0;
    int m_codeAt = 0;
    bool m_codeFull = false; // the writer ran out of room
    int m_chainDir = 0;      // direction of the arm's last step
    int m_chainSteps = 0;    // steps of the current arm
    int m_chainArms = 0;     // arms written

private:
    template <class Visitor, class Heeds> int ArmWalk(Visitor visitor, Heeds heeds, int length);
    void ArmStart();
    template <class Visitor> int Visit(Visitor visitor);
    template <bool kLink> int DirWalk(int length);
    void RingPush();
    void RingPush(int x, int y, unsigned char* p);
    int RingAngle(int* length) const;
    bool Listed(unsigned char* p);
    bool PutCode(int code);
};

// Stage helpers, construction tables, rank object, accumulators (Wizard.cpp, gemmae.cpp).
class CWork : public Chain {
public:
    CWork();
    void ResDoc() override;

    // Ring callbacks and direction pickers (gemmae.cpp); they read the centre direction byte
    // under m_refc, the ring point's direction under m_walk[0] and its magnitude under
    // m_walk[1]; GemReg_I reads candidate k's angle under m_coarse[8 + 2k] and its magnitude
    // under m_coarse[9 + 2k] (cursors that Scenes advances; Scener moves only the first eight).
    void Argums_quick(int angle, int index);
    void Argums_NoApw_quick(int angle, int index);
    void Argums_I(int angle, int index);
    void Argums_I_quick(int angle, int index);
    void Argums(int angle, int index);
    void Argums_NoApw(int angle, int index);
    void Twists_I(int angle, int index);
    int Twists(int angle, int index);
    int GemReg_I(unsigned char* angleOut, unsigned char* magOut, int ref);
    void GemReg_Stream_1(unsigned char* angleOut, unsigned char* magOut, int ref);
    int GemReg(unsigned char* angleOut, unsigned char* magOut, int ref);
    int GemWeb(SStep* taps, int r, int level, int angle, int kind);

    // Construction tables (process-wide, shared by every engine object).
    const std::int32_t* W;         // W[a] = round(64 cos a), a = -180..180
    const std::int32_t* Cd;        // round(256 cos 2k), k = 0..179
    const std::int32_t* Sd;        // round(256 sin 2k)
    const std::int8_t* Cb;         // round(64 cos 2k)
    const std::int8_t* Sb;         // round(64 sin 2k)
    const std::int16_t (*Ex)[360]; // Ex[m][a] = round(m cos a), m = 0..254
    const std::int16_t (*Ey)[360]; // Ey[m][a] = round(m sin a)
    const std::uint8_t (*Rad)[30]; // Rad[i][j] = sqri(i*i + j*j)

    CRank m_rank;
    unsigned char m_flag; // set to 1 at construction
    int m_amp;            // kernel amplitude of GemWeb
    // Accumulators, cleared by the caller before each Spiral.
    int m_cosSum[8], m_sinSum[8], m_wSum[8];          // sector sums
    int m_frontCos, m_frontSin, m_backCos, m_backSin; // Argums_I
    int m_rotSum[8], m_rotCount[8], m_rotPoints;      // Twists, Twists_I
    // Point counts of the stages.
    std::uint16_t m_minutiae;
    std::uint16_t m_minutiae2;
    std::int32_t m_singular;

    // ----- Stage helpers: stage files add their CWork helpers below, one block per stage. -----

    // Stages 2 to 8: angle arithmetic in whole degrees and the walk placement for rings.
    // Difference d folded into -90..90 by steps of 180 (and 360 beyond 269 in magnitude).
    static int Fold(int d)
    {
        const int e = d < 0 ? -d : d;
        if (e <= 89) {
            return d;
        }
        if (e <= 269) {
            return d > 0 ? d - 180 : d + 180;
        }
        return d > 0 ? d - 360 : d + 360;
    }
    // Orientation distance 0..90 of two angles.
    static int Dist(int a, int b) { return DistIn(Mod360(a), Mod360(b)); }
    // Orientation distance 0..90 of two angles already in 0..359.
    static int DistIn(int a, int b)
    {
        const int e = a - b;
        return AxialDistance(e < 0 ? -e : e);
    }
    // A singular class: 1, 2 or 8.
    static bool Singular(int c) { return c == 1 || c == 2 || c == 8; }
    // Unsigned difference 0..180 of two directions.
    static int Turn(int a, int b)
    {
        const int e = Mod360(a - b);
        return e > 180 ? 360 - e : e;
    }
    // Fits an eight-sector template of singular point to the sector orientations o[8] of a cell
    // whose own orientation is c: tries `trials` directions from theta0 in steps of 2 degrees
    // (modulo 360) and answers the first direction of least cost, or -1 when no cost is below
    // 129600. The sector index of a direction wraps into 0..7.
    static int FitTemplate(const int* tpl, int theta0, int trials, int c, const int* o)
    {
        // The template and sector angles are brought into 0..359 once and the trial direction
        // is kept there too, so the sum of two of them wraps by one subtraction; a sector index
        // wraps by its low three bits, the same as its floored remainder by 8, and the sectors
        // are laid out twice so that the eight from any first one are consecutive.
        int tplIn[8];
        int oIn[16];
        for (int j = 0; j < 8; ++j) {
            tplIn[j] = Mod360(tpl[j]);
            oIn[j] = Mod360(o[j]);
            oIn[j + 8] = oIn[j];
        }
        int best = 129600;
        int bestTheta = -1;
        int theta = theta0;
        int phase = Mod360(theta0); // theta in 0..359
        for (int t = 0; t < trials; ++t) {
            const int* const sectors = oIn + (((theta + 23 - c) / 45) & 7);
            // DistIn(a, b) is 90 - ||(|a - b| - 180)| - 90| for a and b in 0..359: the sum of
            // eight is 720 less the sum of the outer magnitudes, which vectorises.
            int spread = 0;
            for (int j = 0; j < 8; ++j) {
                int a = phase + tplIn[j];
                a = a >= 360 ? a - 360 : a;
                const int e = a - sectors[j];
                const int f = (e < 0 ? -e : e) - 180;
                const int g = (f < 0 ? -f : f) - 90;
                spread += g < 0 ? -g : g;
            }
            const int cost = 720 - spread;
            if (cost < best) {
                best = cost;
                bestTheta = theta;
            }
            phase = phase >= 358 ? phase - 358 : phase + 2;
            theta = phase;
        }
        return bestTheta;
    }
    // Sum of the folded steps around eight sector orientations; 0 in quick mode as soon as one
    // step exceeds 88 degrees.
    static int Poincare(const int* o, bool quick)
    {
        int p = 0;
        for (int k = 1; k <= 8; ++k) {
            const int s = Fold(o[k & 7] - o[k - 1]);
            if (quick && (s > 88 || s < -88)) {
                return 0;
            }
            p += s;
        }
        return p;
    }
    // Half the direction of the doubled-angle sum (x, y), or c for the zero vector.
    static int HalfOr(int x, int y, int c) { return x == 0 && y == 0 ? c : atan(x, y) / 2; }
    // Least rotation sum per ring point of the ring of `radius` around (x, y) over the
    // direction layer `dir` (Twists_I with the curve in Cor); 0 when no ring point lies inside.
    int Twist(int x, int y, int level, unsigned char* dir, int radius);
    // Places the walk on pixel (x, y) of `level` with walk cursors k on layer bases l[k] (null
    // bases leave the cursor unused) and the reference cursor on `ref` (a layer base or null).
    void WalkAt(int x, int y, int level, unsigned char* ref, unsigned char* l0,
                unsigned char* l1 = nullptr, unsigned char* l2 = nullptr,
                unsigned char* l3 = nullptr)
    {
        const int off = x + y * m_level[level].width;
        static_assert(WZ_WALKERS == 5, "the four given bases and one unused cursor");
        m_walk[0] = l0 != nullptr ? l0 + off : nullptr;
        m_walk[1] = l1 != nullptr ? l1 + off : nullptr;
        m_walk[2] = l2 != nullptr ? l2 + off : nullptr;
        m_walk[3] = l3 != nullptr ? l3 + off : nullptr;
        m_walk[4] = nullptr;
        m_refc = ref != nullptr ? ref + off : nullptr;
        m_wx = x;
        m_wy = y;
        m_walkOff = off;
        m_walkLevel = level;
    }

    // Spiral with Sector as the ring step (Argums_quick, Argums_NoApw_quick), its sums kept
    // in locals over the ring.
    int SectorRing(int level, int radius, int value, bool weights);
    // Its two forms, the same sums: four sectors of a ring point in integer vector lanes, and
    // one sector at a time (SectorRing takes the first where the processor has such lanes).
    int SectorRingLanes(int level, int radius, int value, bool weights);
    int SectorRingScalar(int level, int radius, int value, bool weights);
    // The sums of one ring that SectorRing with weights adds to cleared members.
    struct SSectorSums {
        int cos[8], sin[8], w[8];
    };
    // SectorRing with weights of the ring of radius index `top` (1..4) around the walk
    // position, which also writes the sums of each smaller radius index r = low..top - 1 into
    // nest[r - low]: the smaller rings are the leading points of the same list, and near an edge
    // they visit the leading points that the wider ring visits. Lane-wise where SectorRing is.
    int SectorRingNest(int level, int top, int low, int value, SSectorSums* nest);
    int SectorNestLanes(int level, int top, int low, int value, SSectorSums* nest);
    int SectorNestScalar(int level, int top, int low, int value, SSectorSums* nest);
    // Spiral for the most frequent ring steps (the sector sums, Twists_I and Argums_I) with the
    // step inlined into the walk: true, and the ring's point count in `count`, when the current
    // ring step is one of them.
    bool KnownRing(int level, int radius, int value, int& count);

private:
    int TwistsRing(int level, int radius, int value);
    int ArgumsRing(int level, int radius, int value);
    // Rotation shares (Twists_I) for every even doubled-direction difference, rows of 8 for
    // half the difference -179..179 (the row of k at k + 179; k and k + 180 share their shares),
    // from the curve Cor[90..180] kept beside them; returns the row of h (0..179).
    const int* TwistRows(int h);
    int m_twistRow[359][8];
    int m_twistCor[91];
    bool m_twistMade = false;
    // The same rows in 16 bits, made with them where every share lies within 341 (m_twistNarrow),
    // so that the sums of a ring of at most 96 points take 16-bit lanes.
    std::int16_t m_twistRow16[359][8];
    bool m_twistNarrow = false;
    void Sector(int angle, bool weights);
    template <bool Lanes> int SectorRingAs(int level, int radius, int value, bool weights);
    template <bool Lanes>
    int SectorNestAs(int level, int top, int low, int value, SSectorSums* nest);
    // The number of points that the ring of radius index r visits from the walk position.
    int RingVisits(int level, int r);
    // The ring offsets of a level in the sector sums' order for a whole ring of radius index r
    // (same-angle pairs first), kept in m_sectorOff and made anew there only when m_sectorWidth
    // does not hold the width that m_ringOff was made for.
    const std::int32_t* SectorOffsets(int level, int r);
    std::int32_t m_sectorOff[WZ_LEVELS][5][96]{};
    int m_sectorWidth[WZ_LEVELS][5]{}; // the width plus one; 0 before the first list
};

// Direction (half of the angle of the vector), 0..179, of each of the eight sector sums;
// *centre where a sum is the zero vector. Four sectors at a time in integer vector lanes where
// the processor has them; TargumScalar is its one-sector-at-a-time twin.
void Targum(const int* cosSums, const int* sinSums, int* out, const unsigned char* centre);
void TargumScalar(const int* cosSums, const int* sinSums, int* out, const unsigned char* centre);

class CCode : public CWork {};
class CLoop : public CCode {};
class Charm : public CLoop {};

// Image description handed to the loader; it writes back the angle, the y resolution and the
// link count it used.
struct SData {
    std::uint16_t zero;
    std::int16_t angle; // rotation in degrees
    std::uint8_t kind;  // image kind letter: 'L', 'F', 'P', 'S', 'T' or 'A'
    std::uint8_t finger;
    std::uint16_t width;
    std::uint16_t height;
    std::uint16_t xres;
    std::uint16_t yres;
    std::uint8_t links;
    std::uint8_t spare;
    const unsigned char* pixels; // width * height bytes, rows of width bytes
    std::uint16_t check;         // check value of the pixels
};

// One point: a singular point, the reference centre or a minutia. Packed to 14 bytes.
#pragma pack(push, 1)
struct SSign {
    std::int32_t x; // level-0 column
    std::int32_t y; // level-0 row
    std::uint8_t type;
    std::uint8_t level;
    std::uint8_t quality;
    std::uint8_t angle; // 2-degree units
    std::uint8_t axis;
    std::uint8_t aux;
};
#pragma pack(pop)
static_assert(sizeof(SSign) == 14, "SSign is a 14-byte record");

// A level-0 pixel position.
struct SCoor {
    std::int32_t x;
    std::int32_t y;
};

// Bit masks of the point-section reader: Gud[k] = 2^k - 1, k = 0..32 (entry 32 has all bits set).
constexpr std::array<int, 33> MakeGud()
{
    std::array<int, 33> t{};
    for (int k = 0; k < 32; ++k) {
        t[k] = static_cast<int>((1u << k) - 1u);
    }
    t[32] = -1;
    return t;
}
inline constexpr std::array<int, 33> Gud = MakeGud();
static_assert(Gud[0] == 0 && Gud[8] == 255 && Gud[31] == 0x7FFFFFFF);

// One box of the engine's finger-box table: bounds (a1, a2) and (b1, b2), the position byte
// (non-zero when the box is present) and a byte that moves with the box.
struct SFinger {
    std::int32_t a1, a2, b1, b2;
    std::uint8_t position;
    std::uint8_t extra;
};
constexpr int WZ_FINGER_BOXES = 10;

// Switches the work of the singular-point stage on (1, the only value in use).
extern int integ;

// The engine: stages and template header.
class Codex : public Charm {
public:
    Codex();
    void ResDoc() override;
    // Reset before every image: DelDoc, ResDoc, Resume, DelTab (through the virtual slots).
    void Reset();

    // Template header fields (defaults restored by ResDoc).
    std::uint16_t m_imgppi, m_tplppi;
    unsigned char m_qualit, m_densit, m_immask, m_kind, m_square;
    unsigned char m_passxy, m_passan, m_linkno;
    unsigned char m_runFlags[5];
    unsigned char m_quick; // selects the reduced parameter sets; the loader clears it

    // --- Record writer (Record.cpp) ---
    // After stage 22: GetSize encodes the point sections main (layer 178, level 3) and nova
    // (layer 177, level 1) and fills the header block; ExGold copies header and sections to
    // `out` and seals the record. Stages 21 and 22 store the byte sizes of nest, abac and area
    // in m_section (index = section order of the record); the reset clears them. GetSize
    // throws WZ_RECORD_FULL when a section would not fit its layer or its header field.
    void GetSize(int& size);
    int ExGold(unsigned char* out);
    void ExIndi(unsigned char* out, int& count);
    // Point section of `count` points at `out` (at most `capacity` bytes) with the field widths
    // x, y, type, level, quality, angle, axis, aux (x, y and level replaced by the bit lengths
    // of the list's maxima); returns the byte length, or -1 when it would pass `capacity` or a
    // width does not fit its 4-bit head nibble.
    static int EnFeat(unsigned char* out, unsigned capacity, const SSign* list, unsigned count,
                      unsigned* widths);
    // Minutia list of stage 20 (layer 176 of level 1), null when the layer is absent.
    const SSign* MinutiaList() const;
    // Singular list import: `count` points of 14 bytes from `in` (null keeps the list and sets
    // the count only). Returns 0, or WZ_RECORD_FULL for a count outside 0..16 (nothing changes).
    int ImIndi(unsigned char* in, int& count);
    // A point of type 1, 2 or 8 is appended (WZ_RECORD_FULL when 16 are listed); any other
    // type removes the listed point nearest to it (Nature). Returns 0, or 1 when the list is
    // empty and nothing was removed.
    int ImIndi(SSign& p);
    // Inverse of EnFeat: decodes the point section of `length` bytes into at most `capacity`
    // points and adds 32 (16 in quick mode) to each level byte. Returns the point count, or
    // WZ_BAD_SECTION for a length of 1..3, a stream that does not end on a point boundary or a
    // head of zero widths, or WZ_RECORD_FULL when the points would pass `capacity`.
    int DeFeat(SSign* out, unsigned capacity, const unsigned char* section, unsigned length);
    // DeFeat on the main (DeIndi) or nova (DeSign) section of a layout 'I' record; the stored
    // length bounds every read. WZ_BAD_SECTION when the header does not describe such a record.
    int DeIndi(SSign* out, unsigned capacity, const unsigned char* rec);
    int DeSign(SSign* out, unsigned capacity, const unsigned char* rec);
    // The area section of a layout 'I' record decoded into at most `capacity` cells, w x h
    // row by row: 0x40 for the first run state, 0x20 for the other. Returns 0, WZ_BAD_SECTION
    // when the section is shorter than its head and first run byte, its runs pass the mask or
    // it does not end exactly after the run that fills the mask, or WZ_RECORD_FULL when the mask
    // passes `capacity` (nothing written). A null `out` only checks the section.
    int DeArea(unsigned char* out, unsigned capacity, const unsigned char* rec);
    // The same into layer 130 of level 3, copied down to levels 2 and 1; WZ_BAD_SECTION also
    // when the mask's width and height are not those of level 3.
    int DeArea(const unsigned char* rec);
    // Level-3 layers 128, 32 and 112 as one sealed block: u32 length, the layers, the 4-byte
    // seal; `size` = 3 x level-3 size + 8. Null `out` sets the size only. Returns 0, or
    // WZ_NO_LAYER (nothing written) when a layer is absent.
    int ExData(unsigned char* out, int& size);
    // The layers of an ExData block of `size` readable bytes back into level 3. Returns 0,
    // WZ_BAD_BLOCK when the stored length passes `size`, does not match this pyramid or the
    // seal fails (nothing written), or WZ_NO_LAYER.
    int ImData(unsigned char* in, unsigned size);
    // Numbers the present boxes of m_fingers by their centres: one row from 1, the other
    // (centres beyond the mean of b) from 6; absent entries move behind the present ones.
    void Finger();
    SFinger m_fingers[WZ_FINGER_BOXES] = {};
    std::uint32_t m_section[6] = {}; // main, nova, abac, rcnt, area, nest
    std::uint32_t m_recordLength = 0;
    unsigned char m_header[67] = {};

    // ----- Stages: each stage file adds its entry and its own helpers below, in stage order,
    // one block per stage (entry `void Name(int level)`, then its callbacks). -----

    // --- Stage 0, image loading (Loader.cpp) ---
    // 0 or the load failure code (WZ_TOO_LARGE, WZ_TOO_SMALL, WZ_FLAT, WZ_BAD_KIND,
    // WZ_BAD_CHECK); map null takes the engine's default map.
    int Loader(SData& s, const int* map, bool isoMinutiae);
    int GetTip(SData& s);
    void Loader(unsigned char* dst, const unsigned char* src, int shift, unsigned char bits);
    void APixel(unsigned char* dst, const unsigned char* src, unsigned char bits);
    unsigned char m_finger = 0;
    bool m_iso = false;
    int m_xres = 500, m_yres = 500;
    int m_angle = 0;            // rotation in degrees
    int m_srcW = 0, m_srcH = 0; // source image
    const unsigned char* m_src = nullptr;
    int m_fillBase = 238;         // grey of fill pixels outside the source
    std::uint16_t m_fillRan = 0;  // pseudo-random state of the fill pixels, reset every load
    int m_apX = 0, m_apY = 0;     // destination pixel of APixel
    int m_apSin = 0, m_apCos = 0; // 8192 sin and cos of the rotation

    // --- Stage 2, directional smoothing (Lightf.cpp); stage 9 is its second form ---
    void Lightf(int level);
    void Lights(int level);
    void LiSmooth();
    // Smooths level 0 into layer 1 once per load; returns layer 1 and puts the four response
    // layers 10..13 into out. Throws WZ_NO_LAYER when one is missing.
    const unsigned char* LiLayers(unsigned char* out[4]);
    int LiCurve(); // the contrast curve in Ran and Lor; returns the divisor D

    // --- Stage 3, orientation flow (Stream.cpp) ---
    void Stream(int level);
    // Walk measurement for direction family n with walk length len of cell (x, y) or of the
    // cells from..to - 1 of row y, each unless settled.
    void StFlow(int x, int y, int n, int len);
    void StFlowCells(int y, int n, int len, int from, int to);
    // The walks' step codes and move tables of the four response layers made afresh into m_st
    // (Stream makes them at the start of its passes and drops them at its end).
    void StCodes();
    void StJoin(int i);
    void StIndi(int i);
    void StGoonV(int i);
    void StGoon(int angle, int index);
    void StReco(int i);
    void StSums(int i, unsigned char* dir, unsigned char* mag, int radius, int* o);
    void StPick(int i, unsigned char* angleOut, unsigned char* magOut, int ref);
    int m_stRadius = 0; // ring radius of the current pass
    int m_stNoise = 0;  // noise floor of the strengths, set by the mode at every run
    int m_stCount = 0;  // singular ring points counted by StGoon
    // The stage's layers, fetched once per run: level 3 best orientation and strength (32, 112),
    // their regularised forms (33, 113), loop fit (37), cell class (160), the four families'
    // candidates (38..41, 119..122) and the level-0 response layers (10..13) with the ridge
    // walks' step codes and move tables of each (owned by Stream for its run).
    struct StLayers {
        unsigned char* dir;
        unsigned char* dirR;
        unsigned char* fit;
        unsigned char* mag;
        unsigned char* magR;
        unsigned char* cls;
        unsigned char* famDir[4];
        unsigned char* famMag[4];
        unsigned char* resp[4];
        const unsigned char* codes[4];
        const std::ptrdiff_t* moves[4]; // pointer-wide, so that a move adds to a position as read
        // Level-0 distance to the outermost ring, min(x, w - 1 - x, y, h - 1 - y) (0 on the
        // ring), at most 255; RoomAt subtracts 1 for the steps a walk surely makes.
        const unsigned char* rooms;
        const unsigned char* turns;              // walk directions by offset difference, or null
        std::unique_ptr<std::ptrdiff_t[]> walks; // the block of moves, codes, rooms and turns
    };
    StLayers m_st{};

    // --- Stage 4, contrast (Cohere.cpp) ---
    void Cohere(int level);
    // The second smallest (`low`) or second largest of the 3 x 3 neighbourhood of `count` pixels
    // from `src` (rows `stride` apart, with a row and a column of neighbours on every side) into
    // `dst`: sixteen pixels at a time (a short row one at a time); the same bytes as the twin.
    static void CohereRankRow(const unsigned char* src, int stride, unsigned char* dst, int count,
                              bool low);
    static void CohereRankRowScalar(const unsigned char* src, int stride, unsigned char* dst,
                                    int count, bool low);

    // --- Stage 5, foreground and quality (pickup.cpp) ---
    int Pickup(int level);
    // The cell steps take the level-3 layers from Pickup, which fetches them once. PiQual's
    // first pass (`first`) writes the sector sums of the cell's smaller rings, radius indexes
    // low .. radius - 1, into nest; a later pass takes its ring's sums from nest[radius - low].
    void PiQual(int i, int radius, bool first, int low, SSectorSums* nest, std::int16_t* disorder,
                const unsigned char* marks, unsigned char* dir, unsigned char* con,
                unsigned char* qual);
    bool PiFlow(int i, bool first, int threshold, unsigned char* marks, const unsigned char* qual,
                unsigned char* l240);
    void PiRingV(int i, int radius, const std::int16_t* disorder, unsigned char* marks,
                 const unsigned char* dir, unsigned char* l240);
    std::uint32_t m_quality = 0; // image quality 0..100
    int m_piBest = 0;            // best cell quality of the pass
    int m_piSweep = 0;           // sweep counter of the hole filling

    // --- Stage 6, singular regions (Ifocus.cpp) ---
    void Ifocus(int level);
    void IfIndi_2(int i, int radius);
    void IfIndi(int i);
    void IfTwis(int i, int radius);
    int IfLift(int i);
    void IfEnum();
    void IfWideV();
    void IfRaysV(int i);
    int IfRays(int step);
    void IfDeepV_integ(int level);
    int m_visit = 1;                  // visit mark of the thinning flood, 1..254
    unsigned char* m_ifLayer[8] = {}; // the stage's level-3 layers, looked up once by Ifocus
    int m_raySum = 0, m_rayCount = 0, m_rayDir = 0;
    unsigned char* m_ray33 = nullptr; // layer 33 under the ray
    unsigned char* m_ray129 = nullptr;

    // --- Stage 7, ridge contrast (Respon.cpp) ---
    void Respon(int level);
    void ReMeasure(int divisor);
    void ReSpread(int level, int target);
    int m_reDivisor = 1;  // curve divisor D
    int m_reDivisor2 = 1; // the same, kept for later stages

    // --- Stage 8, singular points, reference centre and pattern class (Xfocus.cpp) ---
    void Xfocus(int level);
    void XfScan(int level);
    void XfTune(int level);
    void XfWideV(int i);
    void XfCurv(int i);
    void XfTwis(int i);
    void XfBest(int i);
    void XfIndi(int angle, int index);
    int Rename(int index, int type);
    void Rename();
    void XfIndiV();
    void XfQuality();
    bool XfInfer(int best);
    void Centre(int value);
    void Design();
    int SubDes();
    void DesImp();
    SSign m_sign[240] = {}; // candidates by region label; the final list in its first entries
    int m_candidates = 0;   // candidate count
    int m_merges = 0;       // merge counter of the renaming
    int m_xfRadius = 4;     // ring radius of the stage
    int m_xfLevel = 1;      // level of the per-pixel scans
    unsigned char* m_xfLay[7] = {}; // layers bound by XfTune
    int m_refLevel = 0;             // reference level of the response layer
    int m_xfVisited = 0;            // ring measures of XfIndi: points, response sum, foreground
    int m_xfSum = 0;
    int m_xfFore = 0;
    unsigned char m_xfKind = 0; // image kind letter copied for the stage
    std::uint16_t m_class = 0;  // pattern class word

    // --- Stages 10 to 18: shared helpers (Attrac.cpp) ---
    // Buffer of layer id at level, claimed (not cleared) when absent; throws WZ_NO_LAYER when
    // the level has no free slot.
    unsigned char* Layer(int id, int level);
    // First fine column (row) of block i of k fine pixels on a fine side of n pixels; the last
    // block is shifted back inside, as the block scans do.
    static int BlockStart(int i, int k, int n)
    {
        const int s = i * k;
        return s + k > n ? (n > k ? n - k : 0) : s;
    }
    // Any angle taken into 0..179 by steps of 180.
    static int Mod180(int a)
    {
        const int m = a % 180;
        return m < 0 ? m + 180 : m;
    }
    static int ClampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
    // Weighted mean by rank of n values (sorted in place, ascending): the weights sum to
    // 2^shift, the sum is rounded by half of it.
    static int RankMean(int* v, int n, const int* weights, int shift)
    {
        SortSmall(v, n);
        int s = (1 << shift) / 2;
        for (int i = 0; i < n; ++i) {
            s += weights[i] * v[i];
        }
        return s >> shift;
    }
    // Ascending sort of a few values: fixed compare-exchange networks for the common sizes
    // (branch-free min/max), insertion otherwise. A sort's result does not depend on method.
    static void SortSmall(int* v, int n)
    {
        auto cx = [v](int a, int b) {
            const int lo = std::min(v[a], v[b]);
            v[b] = std::max(v[a], v[b]);
            v[a] = lo;
        };
        if (n == 9) {
            cx(0, 3), cx(1, 7), cx(2, 5), cx(4, 8), cx(0, 7), cx(2, 4), cx(3, 8), cx(5, 6);
            cx(0, 2), cx(1, 3), cx(4, 5), cx(7, 8), cx(1, 4), cx(3, 6), cx(5, 7);
            cx(0, 1), cx(2, 4), cx(3, 5), cx(6, 8), cx(2, 3), cx(4, 5), cx(6, 7);
            cx(1, 2), cx(3, 4), cx(5, 6);
            return;
        }
        if (n == 7) {
            cx(0, 6), cx(2, 3), cx(4, 5), cx(0, 2), cx(1, 4), cx(3, 6), cx(0, 1), cx(2, 5);
            cx(3, 4), cx(1, 2), cx(4, 6), cx(2, 3), cx(4, 5), cx(1, 2), cx(3, 4), cx(5, 6);
            return;
        }
        if (n == 5) {
            cx(0, 1), cx(3, 4), cx(2, 4), cx(2, 3), cx(1, 4), cx(0, 3), cx(0, 2), cx(1, 3);
            cx(1, 2);
            return;
        }
        for (int i = 1; i < n; ++i) {
            const int t = v[i];
            int j = i;
            for (; j > 0 && v[j - 1] > t; --j) {
                v[j] = v[j - 1];
            }
            v[j] = t;
        }
    }

    // --- Stage 10, flow refinement near singular points (Attrac.cpp) ---
    void Attrac(int level);
    void AtWide(int angle, int index); // ring callback of the mark growth
    int m_atCount = 0;                 // ring visit: weighted mark count, last type and direction
    int m_atType = 0;
    int m_atDir = 0;

    // --- Stage 11, flow modelling near singular points and flow propagation (Swells.cpp) ---
    void Swells(int level);
    int SwFlow(int step); // ray callback of the singular model
    int m_swSector = 0;   // sector of the ray being walked
    int m_swSweep = 0;    // 0 first sweep, 1 second sweep
    int m_swRays = 0;     // first sweep: rays counted and their difference sum
    int m_swDiff = 0;
    int m_swG = 0;          // global correction of the model
    int m_swJ = 1;          // divisor of the model's correction
    int m_swModel[8] = {};  // model angle per sector, degrees
    int m_swOrient[8] = {}; // measured sector orientations, 0..179

    // --- Stage 12, flow coherence and flow-oriented smoothing (Flower.cpp) ---
    void Flower(int level);

    // --- Stage 13, flow curvature (Curvat.cpp) ---
    void Curvat(int level);

    // --- Stage 14, ridge period energies (Furiew.cpp) ---
    void Furiew(int level);
    int m_fuDivisor = 2; // divisor D of the contrast curve

    // --- Stage 15, ridge period map (harmon.cpp) ---
    void Harmon(int level);
    void HaLapl(int angle, int index); // ring callbacks: roughness and refill neighbours
    void HaNear(int angle, int index);
    int m_haCode = 0;  // code of the ring's centre
    int m_haCount = 0; // ring sums
    int m_haSum = 0;

    // --- Stage 16, ridge reliability map (Expert.cpp) ---
    void Expert(int level);

    // --- Stage 17, paper level and finger area (Laying.cpp) ---
    void Laying(int level);
    void Sphere(int angle, int index); // ring callbacks: cells lacking bits 0 and 6; min and max
    void MaxMin(int angle, int index);
    void LaDeep(int level, int bit); // flags of `level` copied onto level - 1 (bit 1 or 64)
    int m_laPaper = 0;               // paper level
    int m_laMissing = 0;             // Sphere's count
    int m_laMin = 0, m_laMax = 0;    // MaxMin's range

    // --- Stage 18, ridge binarisation along the flow (Filter.cpp) ---
    void Filter(int level);

    // --- Stage 19, skeleton (Skelet.cpp) ---
    void Skelet(int level);

    // --- Stage 20, minutiae (Minuti.cpp) ---
    // The list is an SSign array in layer 176 of level 1 with m_minutiae entries; qualit and
    // densit are set from the level-1 cells.
    void Minuti(int level);
    // Index of the minutia nearest to level-0 (x, y) among those whose index & 127 is k (all
    // for k = -1); first among equals; -1 when none.
    int Native(int x, int y, int k);
    // Native at the walker's position with k gives the active minutia.
    bool NativeI(int k);
    // Index of the singular point nearest to (x, y), the reference centre counted one farther;
    // -1 when the list is empty.
    int Nature(int x, int y) const;
    // The active minutia becomes the first one exactly at (x, y), or -1.
    void Active(int x, int y);
    int m_activeMinutia = -1;

    // --- Stage 21, minutia links (Linker.cpp) ---
    // Sorts the minutia list into its visiting order and writes the nest section (layer 179 of
    // level 1) with its size in m_section[5].
    void Linker(int level);
    void LiSort();
    void LiHand();
    int Linkup();
    void LiSave(int type, const int* descriptor);
    void GetRid();
    void Lizard();
    int LiFind(int angle);
    void Lining();
    int LiAsk();
    void LiAt(int x, int y);
    void LiSide(int sign, int last, bool backward);
    // Bit stream shared with stage 22: least significant bit first, each byte cleared when its
    // first bit is written; PutBits throws WZ_RECORD_FULL past `capacity` bytes.
    void BitStart(unsigned char* out, std::size_t capacity);
    void PutBits(unsigned value, int width);
    std::size_t BitBytes() const;
    BitSink m_bitSink;
    // Link table: rows 0..16 of the ring walk (slots 0..3 used), row 17 for a decoder.
    static constexpr int WZ_LINK_ROWS = 18;
    static constexpr int WZ_LINK_SLOTS = 35;
    std::uint32_t m_linkCode[WZ_LINK_ROWS][WZ_LINK_SLOTS] = {};
    std::int32_t m_linkIndex[WZ_LINK_ROWS][WZ_LINK_SLOTS] = {};
    std::uint32_t m_linkExtra[WZ_LINK_ROWS][WZ_LINK_SLOTS] = {};
    int m_liRings = 17, m_liHalf = 9; // ring count and half ring count
    int m_liRing = 0, m_liStop = 0;   // ring index and the side's stop flag
    int m_liWalk = 0, m_liRef = 0;    // walk direction; reference direction (or flow value)
    int m_liPeriod = 0;               // period at the current point
    int m_liX = 0, m_liY = 0;         // current (saved) point, level 0
    // Readers of the nest stream. LiPrep binds the fine cursors 0 and 1 to the work map 240 and
    // the skeleton 5 of `fine`, and scan cursor 0 to the nest layer 179 of `coarse`. Parser
    // (descriptor, type) decodes the block at the read cursor into row 17 of the link table and
    // returns its slot count (2R - 1 for type 1, 2R + 1 otherwise); Parser(x, y) decodes the
    // blocks up to that of the minutia nearest to level-0 (x, y), which becomes the active one,
    // and returns its index, or -1 without minutiae or without a nest layer.
    void LiPrep(int coarse, int fine);
    int Parser(int* descriptor, int type);
    int Parser(int x, int y);
    BitSource m_bitSource;

    // --- Stage 22, ridge counts and area code (Epilog.cpp) ---
    // Writes abac (layer 180 of level 3) and area (layer 182 of level 3) with their sizes in
    // m_section[2] and m_section[4], and the singular points' level and quality.
    void Epilog(int level);
    int Rtotal();
    // Pair code of two singular points, -1 for no count.
    int Rcount(const SSign& a, const SSign& b);
    // Ridges crossed walking from the walker's level-0 position to `target`, or -1.
    int Rcount(const SSign& target);
    // The rcnt variant of Rtotal (no caller in the extraction): the pair code of every minutia
    // with every singular point other than the reference centre, minutia by minutia, into
    // layer 181 of level 3; returns the byte size.
    int Rcount();
    // From `p`, steps along 2 x angle + 110 degrees over the level-0 skeleton (layer 5) to the
    // first skeleton pixel past a non-skeleton one, which goes to `at`; returns the steps taken,
    // or -1 when the walk leaves the image or the ridge area (a pixel of 255) first.
    int Rtrace(SCoor& at, const SSign& p);
    void IScale();
    void EpHarm(int angle, int index);
    void EpList();
    int m_epRun = 0, m_epState = 0; // area writer: current run and state (0 foreground)
    int m_epWeight = 0, m_epSum57 = 0, m_epSum147 = 0;
};

// Thinning decisions of the skeleton stage, indexed by an 8-bit neighbour mask (bit k set when
// neighbour k is a skeleton pixel): flags in bits 0..3, a neighbour direction in bits 4..7.
// skeletMask starts as skeletBuilt; the extraction driver may install another table over it
// (process-wide, Skelet.cpp).
extern const std::array<unsigned char, 256> skeletBuilt;
extern std::array<unsigned char, 256> skeletMask;

template <class Visit> int CBase::RingWalk(int level, int radius, int value, Visit visit)
{
    if (radius < 0 || level < 0 || level >= WZ_LEVELS) {
        return m_ringCount;
    }
    const CLevel& lv = m_level[level];
    m_ringValue = value;
    const int r = radius > 4 ? 4 : radius;
    m_ringCount = kRingEntries[r];
    if (RingWhole(level, radius)) {
        // Lead walkers: m_walk[0 .. lead) are set and the others null, so that only those move
        // (lead 0: any other pattern, every set cursor moves). The position is carried in
        // locals and stored before each visit; no ring step moves the walk itself.
        auto walk = [&](auto lead) {
            constexpr int kLead = decltype(lead)::value;
            int x = m_wx;
            int y = m_wy;
            std::int32_t off = m_walkOff;
            unsigned char* c0 = m_walk[0];
            unsigned char* c1 = m_walk[1];
            for (int i = 0; i < m_ringCount; ++i) {
                const int d = ring[i].dir;
                const int by = lv.step[d];
                x += lv.dx[d];
                y += lv.dy[d];
                off += by;
                m_wx = x;
                m_wy = y;
                m_walkOff = off;
                if (kLead == 0) {
                    Advance(m_walk, WZ_WALKERS, by);
                } else {
                    c0 += by;
                    m_walk[0] = c0;
                    if (kLead == 2) {
                        c1 += by;
                        m_walk[1] = c1;
                    }
                }
                visit(ring[i].angle, i);
            }
        };
        const bool rest = m_walk[2] == nullptr && m_walk[3] == nullptr && m_walk[4] == nullptr;
        if (rest && m_walk[0] != nullptr && m_walk[1] == nullptr) {
            walk(std::integral_constant<int, 1>());
        } else if (rest && m_walk[0] != nullptr) {
            walk(std::integral_constant<int, 2>());
        } else {
            walk(std::integral_constant<int, 0>());
        }
        return m_ringCount;
    }
    RingNearEdge(lv, m_ringCount, m_wx, m_wy, [&](int i, int d, bool visited) {
        m_walkOff += lv.step[d];
        Advance(m_walk, WZ_WALKERS, lv.step[d]);
        if (visited) {
            visit(ring[i].angle, i);
        }
    });
    return m_ringCount;
}

// Near an edge a step that starts on the edge drops the point it reaches and the number of
// following points that its entry gives: step(i, dir, visited) after each of the first n steps
// has moved (x, y).
template <class Step> void CBase::RingNearEdge(const CLevel& lv, int n, int& x, int& y, Step step)
{
    int pending = 0;
    for (int i = 0; i < n; ++i) {
        const int d = ring[i].dir;
        if (x == lv.xEdge[d] || y == lv.yEdge[d]) {
            pending = ring[i].skip;
        }
        x += lv.dx[d];
        y += lv.dy[d];
        const bool visited = pending == 0;
        if (!visited) {
            --pending;
        }
        step(i, d, visited);
    }
}

// A step of the ring starts on a column edge only when the start column x is within `west` of
// column 0 or within `east` of the last column, and then which steps do depends on that distance
// alone (likewise for rows), so the start classes are: the distance to the near edge on each
// side, or neither. The list of a class is made by walking the ring from one start of it.
inline const std::int32_t* CBase::EdgeRing(int level, int r)
{
    const CLevel& lv = m_level[level];
    const SRingReach& e = ringReach[r];
    const int w = lv.width;
    const int h = lv.height;
    const int nx = e.west + e.east + 3;
    const int ny = e.north + e.south + 3;
    // The two near-edge zones and a middle column (row) between them must exist.
    if (w < nx || h < ny || m_wx < 0 || m_wy < 0 || m_wx >= w || m_wy >= h) {
        return nullptr;
    }
    auto cls = [](int p, int lo, int hi, int size) {
        return p <= lo ? p : p >= size - 1 - hi ? lo + 1 + (size - 1 - p) : lo + hi + 2;
    };
    const int cx = cls(m_wx, e.west, e.east, w);
    const int cy = cls(m_wy, e.north, e.south, h);
    const SEdgeRings& t = m_edgeRing[level][r];
    if (t.list != nullptr && t.width == w && t.height == h) {
        const std::int32_t* rec =
            t.list.get() + static_cast<std::size_t>(cy * nx + cx) * (3 + 2 * kRingEntries[r]);
        if (rec[0] != 0) {
            return rec + 1;
        }
    }
    return EdgeRingMake(level, r, cx, cy);
}

template <class Visit> inline int CBase::RingOffsets(int level, int radius, int value, Visit visit)
{
    if (radius < 0 || level < 0 || level >= WZ_LEVELS) {
        return m_ringCount;
    }
    const int r = radius > 4 ? 4 : radius;
    return RingOffsetsAt(level, r, RingInside(level, r), value, visit);
}

template <class Visit>
inline int CBase::RingOffsetsAt(int level, int r, bool inside, int value, Visit visit)
{
    m_ringValue = value;
    m_ringCount = kRingEntries[r];
    const int n = kRingEntries[r];
    std::int32_t end = 0;
    // The list loops visit through a copy whose address stays here (the near-edge walk below
    // takes the address of `visit`), so that its captures can stay in registers.
    if (inside) {
        const std::int32_t* off = m_ringOff[level];
        Visit v = visit;
        for (int i = 0; i < n; ++i) {
            v(ring[i].angle, off[i]);
        }
        return RingInsideDone(level, r, value);
    }
    if (const std::int32_t* list = EdgeRing(level, r)) {
        const int count = list[0];
        end = list[1];
        Visit v = visit;
        for (int k = 0; k < count; ++k) {
            v(list[2 + 2 * k], list[3 + 2 * k]);
        }
        m_wx += ringReach[r].endX;
        m_wy += ringReach[r].endY;
    } else {
        const CLevel& lv = m_level[level];
        RingNearEdge(lv, m_ringCount, m_wx, m_wy, [&](int i, int d, bool visited) {
            end += lv.step[d];
            if (visited) {
                visit(ring[i].angle, end);
            }
        });
    }
    m_walkOff += end;
    Advance(m_walk, WZ_WALKERS, end);
    return m_ringCount;
}

// Peak of 14 period-channel responses s[0..13] (bytes; s[14] and s[15] are read and must be 0)
// weighted by the cosines c[k] = CosDeg(a_k), a_k = 0..90, of their phase windows: the first k
// with the largest Descale13(min(s[k], 254) * c[k]), or -1 when that is below 1 (harmon.cpp).
int HaPeak(const unsigned char* s, const std::int16_t* c);
// The 14 channel responses of pixels at .. at + count - 1 of the layers g[0..13] as 16 bytes a
// pixel (the last two 0), pixel after pixel into out; the SSE2 build gathers sixteen pixels at
// a time by a byte transpose, HaGatherScalar one byte at a time (harmon.cpp).
void HaGather(const unsigned char* const* g, std::size_t at, int count, unsigned char* out);
void HaGatherScalar(const unsigned char* const* g, std::size_t at, int count, unsigned char* out);
// The flow-oriented 3 x 3 means (FlowMean) of pixels x0 <= x < x1 of one row of the code layer
// c240 (rows cw apart, the rows above and below and the columns either side read) along the
// flow bytes a36[x], into out[x]; the SSE2 build takes eight pixels at a time (harmon.cpp).
void HaSmoothRow(const unsigned char* a36, const unsigned char* c240, int cw, int x0, int x1,
                 unsigned char* out);
void HaSmoothRowScalar(const unsigned char* a36, const unsigned char* c240, int cw, int x0, int x1,
                       unsigned char* out);
// The roughness sums of pixels x0 <= x < x1 of one row of the period codes `code` (0..17): over
// the n ring points at the offsets off[0..n-1] from the pixel, 1 + the number of coded points
// into count[x] and the sum of (c - q)^2 over their codes q into sum[x], c the pixel's code;
// n at most 68. The SSE2 build takes eight pixels at a time (harmon.cpp).
void HaRoughRow(const unsigned char* code, const std::int32_t* off, int n, int x0, int x1,
                int* count, int* sum);
void HaRoughRowScalar(const unsigned char* code, const std::int32_t* off, int n, int x0, int x1,
                      int* count, int* sum);
// Stage 15's period peak with harmonic correction (normal mode) of pixels at .. at + count - 1
// of the 14 channel layers raw[0..13]: each response less 1/24 of the largest harmonic weight
// (Hlaw) times a shorter bin's response, at least 0, into fixd[k]; the first bin of the largest
// corrected response, or -1 when that is 0, into peak[0 .. count - 1]. The SSE2 build takes
// eight pixels at a time (harmon.cpp).
void HaCorrect(const unsigned char* const* raw, unsigned char* const* fixd, std::size_t at,
               int count, int* peak);
void HaCorrectScalar(const unsigned char* const* raw, unsigned char* const* fixd, std::size_t at,
                     int count, int* peak);
// Stage 15's descent codes of `count` fine pixels on each of `rows` rows (`stride` apart): pixel
// x of row r has the 14 channel responses s[k][r stride + x] and, shared by its column, the
// phase window window[x] (16 entries as 16-bit scales, the weight of response m being
// (m w + 2^15) >> 16 for m = min(s, 254); the last two entries are read but not used) and the
// predicted code pred[x]. Its code, into out[r stride + x], is the first bin of the largest
// weighted response plus `shift`, or pred[x] when that response is 0. The SSE2 build takes eight
// columns at a time, their windows transposed once for all rows (harmon.cpp).
void HaDescentRows(const unsigned char* const* s, std::ptrdiff_t stride, int rows,
                   const std::uint16_t* const* window, const unsigned char* pred, int shift,
                   int count, unsigned char* out);
void HaDescentRowsScalar(const unsigned char* const* s, std::ptrdiff_t stride, int rows,
                         const std::uint16_t* const* window, const unsigned char* pred, int shift,
                         int count, unsigned char* out);
// Stage 18's reliability above neutral: above[i] = rel[i] - 127 where that is positive, else 0,
// for i < n; returns the largest, at least 1. The SSE2 build takes sixteen bytes at a time
// (Filter.cpp).
int FiAbove(const unsigned char* rel, std::size_t n, unsigned char* above);
int FiAboveScalar(const unsigned char* rel, std::size_t n, unsigned char* above);
// Stage 18's smoothing of 2 x 2 blocks along the ridges: for each of the `count` blocks whose
// first pixel is at[j] (rows w apart), every pixel p of the block takes the weighted rank mean
// (RankRow.h) of img[p] and of img[p + off] at the first four steps of the rays ray1[j] and
// ray2[j], into dst[p]. The SSE2 build takes four blocks at a time, two pixels of a row in a
// 16-bit lane; FiSmoothQuadsScalar one pixel at a time (Filter.cpp).
void FiSmoothQuads(const unsigned char* img, std::ptrdiff_t w, const std::ptrdiff_t* at,
                   const SStep* const* ray1, const SStep* const* ray2, int count,
                   unsigned char* dst);
void FiSmoothQuadsScalar(const unsigned char* img, std::ptrdiff_t w, const std::ptrdiff_t* at,
                         const SStep* const* ray1, const SStep* const* ray2, int count,
                         unsigned char* dst);
// Stage 18's block classes of blocks x0 <= x < x1 of a row from the foreground and singular
// flags: 2 near a singular point (when `singular`), 8 for other foreground blocks, 16 for the
// background. The SSE2 build takes sixteen blocks at a time (Filter.cpp).
void FiClassRow(const unsigned char* fg, const unsigned char* sing, bool singular, int x0, int x1,
                unsigned char* cls);
void FiClassRowScalar(const unsigned char* fg, const unsigned char* sing, bool singular, int x0,
                      int x1, unsigned char* cls);
// Inner pixels x0 <= x < x1 of one row of stage 16's descent: from the rows of reliability r240
// and period bin r241 (rows cw apart, the rows above and below read), the least of the twelve
// oriented means into r145, its positive part 0..63 into r147 and the rounded mean of the eight
// neighbours' bins into r57; the SSE2 build takes eight pixels at a time (Expert.cpp).
void ExRow(const unsigned char* r240, const unsigned char* r241, int cw, int x0, int x1,
           unsigned char* r145, unsigned char* r147, unsigned char* r57);
void ExRowScalar(const unsigned char* r240, const unsigned char* r241, int cw, int x0, int x1,
                 unsigned char* r145, unsigned char* r147, unsigned char* r57);
// The sector strength of a cell in stage 5: over the eight sectors of nonzero weight w[k] >= 0,
// the sum of sqri(xs^2 + ys^2) of the sector's mean vector xs = cosSum[k] / w[k], ys = sinSum[k]
// / w[k] (integer quotients, xs^2 + ys^2 within an int); the SSE2 build divides in double
// precision (pickup.cpp).
int PiStrength(const int* cosSum, const int* sinSum, const int* wSum);
int PiStrengthScalar(const int* cosSum, const int* sinSum, const int* wSum);
// The level-0 gradient magnitude byte of stage 7, min(sqri(n) / 4, 255), of a gradient norm
// n = gx^2 + gy^2 >= 0 (Respon.cpp).
int ReMagnitude(int n);
// The level-0 gradient of stage 7 at `count` pixels: the direction atan(gx, gy) / 2 (0..179)
// into gdir and ReMagnitude(gx^2 + gy^2) into gmag, with gx = -d12[x] and gy = d10[x] (not
// both -32768); the SSE2 build takes four pixels at a time (Respon.cpp).
void ReGradientRow(const std::int16_t* d12, const std::int16_t* d10, int count, unsigned char* gdir,
                   unsigned char* gmag);
// ReMagnitude(n) as ReGradientRow reads it from its tables.
int ReGradientMagnitude(int n);
void ReGradientRowScalar(const std::int16_t* d12, const std::int16_t* d10, int count,
                         unsigned char* gdir, unsigned char* gmag);
// The [1 2 1] x [1 2 1] means, less 127, of the pixels x0 <= x < x1 of a row of two byte
// planes (rows w apart, the rows above and below and the columns either side read) into mc[x]
// and ms[x]; the SSE2 build takes eight pixels at a time (Respon.cpp).
void ReSmoothRow(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                 std::int16_t* mc, std::int16_t* ms);
void ReSmoothRowScalar(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                       std::int16_t* mc, std::int16_t* ms);
// The [1 2 1] x [1 2 1] rounded means of the pixels x0 <= x < x1 of a row of a byte plane (rows w
// apart, the rows above and below and the columns either side read) into out[x]; the SSE2 build
// takes eight pixels at a time (Curvat.cpp).
void CuSmoothRow(const unsigned char* p, int w, int x0, int x1, unsigned char* out);
void CuSmoothRowScalar(const unsigned char* p, int w, int x0, int x1, unsigned char* out);

// Grey level g transformed for the paper-level histogram, weighted down by the ridge quality q
// above neutral (127): 0..255 (Laying.cpp).
int histog(unsigned char grey, unsigned char quality, bool quick);
// Stage 17's finger area: bit 5 set in each of the n cells that have neither bit 0 (paper) nor
// bit 6 (weak ridges); the other bits kept (Laying.cpp).
void LaArea(unsigned char* flags, std::size_t n);
// Stage 17's count of ring cells with neither bit 0 nor bit 6 around the cell at `centre` (rows
// w apart), for a ring of radius index r (1..3) wholly inside its level (RingInside), so that
// every row of it has a row after it (Laying.cpp).
int LaRingMissing(const unsigned char* centre, int w, int r);
// Stage 17's least and largest byte of the ring of radius index r (1..3) around the cell at
// `centre` and of the cell itself (rows w apart), the ring wholly inside its level; the SSE2
// build takes the ring's rows eight bytes at a time (Laying.cpp).
void LaRingRange(const unsigned char* centre, int w, int r, int& lo, int& hi);
// Stage 19's classes of the cells x0 <= x < x1 (at most 64) of a row: bit x - x0 of *active set
// for classes 2 and 8, of *thinnable for those with bit 0 aside; eight cells at a time
// (Skelet.cpp).
void SkClassBits(const unsigned char* row, int x0, int x1, std::uint64_t* active,
                 std::uint64_t* thinnable);
// Stage 19's finished mark: bit 0 set in each of the w cells of a row that lack bit 4; eight
// cells at a time (Skelet.cpp).
void SkMarkDone(unsigned char* row, int w);

} // namespace wizard73
