// Public native interface of the engine library: the three interface classes of namespace
// ZelvanFinger with their factories, the plain structures that cross the library's edge,
// and the public result codes (0 success, small positive codes for failures). Installed as
// <zelvanfp/ZelvanFinger.h>: it includes nothing of the project.
#pragma once

#ifndef ZF_EXPORT
#define ZF_EXPORT __attribute__((visibility("default")))
#endif

#include <cstdint>
#include <string>
#include <vector>

// One multi-finger record: finger[i] is the finger template of finger position i + 1 (a
// 21-byte prefix, then the record; at most 12288 bytes), null where the finger is absent.
struct TpTemplate {
    unsigned char* finger[10];
};

// Finger position; 1 and 6 are the thumbs, 0 is an unknown finger.
enum FINGERS : std::int32_t {
    FINGER_UNKNOWN = 0,
    FINGER_RIGHT_THUMB = 1,
    FINGER_RIGHT_INDEX = 2,
    FINGER_RIGHT_MIDDLE = 3,
    FINGER_RIGHT_RING = 4,
    FINGER_RIGHT_LITTLE = 5,
    FINGER_LEFT_THUMB = 6,
    FINGER_LEFT_INDEX = 7,
    FINGER_LEFT_MIDDLE = 8,
    FINGER_LEFT_RING = 9,
    FINGER_LEFT_LITTLE = 10,
};

namespace ZelvanFinger {

// Public result code: what every int-returning operation answers.
using ResultCode = int;

constexpr int RESULT_OK = 0;
constexpr int RESULT_NO_MEMORY = 2;           // an allocation failed
constexpr int RESULT_IMAGE_TOO_LARGE = 3;     // width or height above 4096
constexpr int RESULT_BAD_IMAGE = 4;           // empty, null, too small or flat image
constexpr int RESULT_EXTRACTION_FAILED = 5;   // any other extraction failure
constexpr int RESULT_BAD_FINGER = 6;          // finger position above 10
constexpr int RESULT_WSQ_INSTANCE = 7;        // WSQ decoder instance cannot be created
constexpr int RESULT_WSQ_GUARD = 8;           // WSQ guard-value mismatch
constexpr int RESULT_WSQ_DECODE = 9;          // any other WSQ decoder failure
constexpr int RESULT_MATCH_FAILED = 10;       // any other 1:1 comparison failure
constexpr int RESULT_BAD_TEMPLATE = 11;       // a finger template was rejected
constexpr int RESULT_NOTHING_TO_COMPARE = 12; // no finger pair to compare
constexpr int RESULT_BAD_PARAMETERS = 13;     // comparison parameters out of range
constexpr int RESULT_ACCEL_CODE_1 = 14;       // accelerator code 1
constexpr int RESULT_BAD_ACCELERATOR = 15;    // stored accelerator malformed
constexpr int RESULT_ACCEL_CODE_9 = 16;       // accelerator code 9
constexpr int RESULT_ACCEL_TOO_LARGE = 17;    // a finger's accelerator above its maximum
constexpr int RESULT_NO_ACCELERATOR = 18;     // no finger of the record yielded an accelerator
constexpr int RESULT_DUPLICATE_ID = 20;       // identifier already in the gallery
constexpr int RESULT_ACCEL_FAILED = 21;       // any other accelerator failure
constexpr int RESULT_GALLERY_FULL = 23;       // gallery already holds 5400 records
constexpr int RESULT_ID_NOT_FOUND = 24;       // identifier not in the gallery
constexpr int RESULT_MATCH_CODE_436 = 25;     // comparison code -436
constexpr int RESULT_EXCEPTION = 100;         // unexpected exception in comparison or extraction

// Parameters of verification and identification.
struct MatchingParameters {
    int searchSpeed;    // speed level of the 1:N search
    int maxAngle;       // rotation limit in degrees for fingers
    int maxAngleThumbs; // rotation limit in degrees for thumbs (positions 1 and 6)
    int matchingMode;   // 0 positional, 1 finger mix, 2 slap mix, 3 hand mix
};

// One identification candidate: record identifier as decimal text, similarity 0.0 .. 1.0.
struct candidates_string {
    std::string id;
    float score;
};

// 8-bit grey image, rows of exactly m_width bytes, top row first, 500 pixels per inch.
struct RawImage {
    int m_finger;
    int m_width;
    int m_height;
    unsigned char* m_image;
};

// One WSQ-compressed grey image of m_size bytes.
struct WsqImage {
    int m_finger;
    int m_size;
    unsigned char* m_wsq;
};

// Verification, gallery and identification. Obtained from create (null on failure),
// given back with cancel.
class ZF_EXPORT Matcher {
public:
    virtual ~Matcher();
    virtual int verify_record(MatchingParameters& parameters, TpTemplate& probe,
                              TpTemplate& gallery, double& score) = 0;
    virtual int insertRecord(std::string& id, TpTemplate& record) = 0;
    virtual int deleteRecord(std::string& id) = 0;
    virtual int getFinalGallerySize() = 0;
    virtual int identify_record(MatchingParameters& parameters, TpTemplate& probe, unsigned threads,
                                unsigned maxCandidates,
                                std::vector<candidates_string>& candidates) = 0;

    static Matcher* create();
    static void cancel(Matcher*& p);
};

// Template creation from a raw or WSQ image.
class ZF_EXPORT TemplateCreator {
public:
    virtual ~TemplateCreator();
    virtual int createTemplate(RawImage& image, unsigned& size, unsigned char& quality) = 0;
    virtual int createTemplate(WsqImage& image, unsigned& size, unsigned char& quality) = 0;
    virtual void getTemplate(unsigned char* out) = 0;

    static TemplateCreator* create();
    static void cancel(TemplateCreator*& p);
};

// Tells whether a buffer holds a well-formed, correctly sealed finger template.
class ZF_EXPORT FpTemplateChecker {
public:
    virtual ~FpTemplateChecker();
    virtual bool check(unsigned char* tpl) = 0;

    // A new checker, or null when it cannot be made (never throws).
    static FpTemplateChecker* create();
    // Destroys the checker (when not null) and nulls the caller's pointer.
    static void cancel(FpTemplateChecker*& p);
};

// Version text of the engine library.
ZF_EXPORT const char* getVersion();

} // namespace ZelvanFinger
