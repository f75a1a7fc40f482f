// Native side of the Java binding tests (class zftest.Fakes): engine objects that record what
// the binding handed them and answer what the test asks, so that every conversion can be seen
// from Java, and the same operations run directly through the C++ interface, so that results
// made through Java can be compared byte for byte with those made in C++.

#include "interface/ZelvanFinger.h"

#include <jni.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ZelvanFinger::candidates_string;
using ZelvanFinger::MatchingParameters;
using ZelvanFinger::RawImage;
using ZelvanFinger::WsqImage;

using Bytes = std::vector<unsigned char>;

// A configured result of this value makes a fake throw a C++ exception instead.
constexpr int THROW = std::numeric_limits<int>::min();
// Every finger copy the binding makes holds this many bytes.
constexpr std::size_t TEMPLATE_BUFFER = 12288;

void MaybeThrow(int result)
{
    if (result == THROW) {
        throw std::runtime_error("fake engine failure");
    }
}

// Records the images it is given; answers `result`, and on 0 a template of its own.
class FakeCreator : public ZelvanFinger::TemplateCreator {
public:
    int result = 0;
    unsigned char quality = 0;
    Bytes tpl;         // delivered by getTemplate, its first four bytes its length
    std::string log;   // one word per call
    int image[4] = {}; // kind (1 raw, 2 WSQ), finger, width or size, height
    Bytes seen;        // the pixels (width x height when both are positive) or the stream

    int createTemplate(RawImage& img, unsigned& size, unsigned char& q) override
    {
        log += "raw;";
        image[0] = 1;
        image[1] = img.m_finger;
        image[2] = img.m_width;
        image[3] = img.m_height;
        const std::size_t n = img.m_width > 0 && img.m_height > 0
                                  ? static_cast<std::size_t>(img.m_width) * img.m_height
                                  : 0;
        seen.assign(img.m_image, img.m_image + n);
        return Answer(size, q);
    }
    int createTemplate(WsqImage& img, unsigned& size, unsigned char& q) override
    {
        log += "wsq;";
        image[0] = 2;
        image[1] = img.m_finger;
        image[2] = img.m_size;
        image[3] = 0;
        seen.assign(img.m_wsq, img.m_wsq + img.m_size);
        return Answer(size, q);
    }
    void getTemplate(unsigned char* out) override
    {
        log += "get;";
        std::memcpy(out, tpl.data(), tpl.size());
    }

private:
    int Answer(unsigned& size, unsigned char& q)
    {
        MaybeThrow(result);
        size = static_cast<unsigned>(tpl.size());
        q = quality;
        return result;
    }
};

class FakeChecker : public ZelvanFinger::FpTemplateChecker {
public:
    int result = 1; // 1 true, 0 false, THROW
    std::string log;
    Bytes seen; // the whole buffer the binding passed

    bool check(unsigned char* tpl) override
    {
        log += "check;";
        seen.assign(tpl, tpl + TEMPLATE_BUFFER);
        MaybeThrow(result);
        return result != 0;
    }
};

class FakeMatcher : public ZelvanFinger::Matcher {
public:
    int result = 0;
    double score = 0.0;
    int candidates = 0; // identification gives ids 1000001, 1000002, ... with falling scores
    std::string log;
    int parameters[4] = {};       // searchSpeed, maxAngle, maxAngleThumbs, matchingMode
    std::vector<Bytes> record[2]; // probe, gallery: the 12,288-byte copies, empty when absent
    std::string id;
    unsigned counts[2] = {}; // threads, maxCandidates

    int verify_record(MatchingParameters& p, TpTemplate& probe, TpTemplate& gallery,
                      double& s) override
    {
        log += "verify;";
        Keep(p);
        Keep(0, probe);
        Keep(1, gallery);
        MaybeThrow(result);
        s = score;
        return result;
    }
    int insertRecord(std::string& text, TpTemplate& r) override
    {
        log += "insert;";
        id = text;
        Keep(0, r);
        MaybeThrow(result);
        return result;
    }
    int deleteRecord(std::string& text) override
    {
        log += "delete;";
        id = text;
        MaybeThrow(result);
        return result;
    }
    int getFinalGallerySize() override
    {
        log += "size;";
        MaybeThrow(result);
        return 4321;
    }
    int identify_record(MatchingParameters& p, TpTemplate& probe, unsigned threads,
                        unsigned maxCandidates, std::vector<candidates_string>& out) override
    {
        log += "identify;";
        Keep(p);
        Keep(0, probe);
        counts[0] = threads;
        counts[1] = maxCandidates;
        MaybeThrow(result);
        for (int k = 0; k < candidates; ++k) {
            out.push_back({std::to_string(1000001 + k), 1.0f - static_cast<float>(k) / 4096.0f});
        }
        return result;
    }

private:
    void Keep(const MatchingParameters& p)
    {
        parameters[0] = p.searchSpeed;
        parameters[1] = p.maxAngle;
        parameters[2] = p.maxAngleThumbs;
        parameters[3] = p.matchingMode;
    }
    void Keep(int side, const TpTemplate& t)
    {
        record[side].assign(10, Bytes());
        for (int i = 0; i < 10; ++i) {
            if (t.finger[i] != nullptr) {
                record[side][i].assign(t.finger[i], t.finger[i] + TEMPLATE_BUFFER);
            }
        }
    }
};

template <class T> T* From(jlong handle)
{
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(handle));
}
template <class T> jlong To(T* object)
{
    return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(object));
}

Bytes FromJava(JNIEnv* env, jbyteArray a)
{
    Bytes out(static_cast<std::size_t>(env->GetArrayLength(a)));
    env->GetByteArrayRegion(a, 0, static_cast<jsize>(out.size()),
                            reinterpret_cast<jbyte*>(out.data()));
    return out;
}

jbyteArray ToJava(JNIEnv* env, const Bytes& b)
{
    jbyteArray a = env->NewByteArray(static_cast<jsize>(b.size()));
    if (a != nullptr) {
        env->SetByteArrayRegion(a, 0, static_cast<jsize>(b.size()),
                                reinterpret_cast<const jbyte*>(b.data()));
    }
    return a;
}

jintArray Ints(JNIEnv* env, const int* values, jsize n)
{
    jintArray a = env->NewIntArray(n);
    if (a != nullptr) {
        env->SetIntArrayRegion(a, 0, n, values);
    }
    return a;
}

// Template of an image made through the C++ interface by a creator of its own; null when no
// creator can be made or the creation fails.
template <class Image> jbyteArray TemplateOf(JNIEnv* env, Image img)
{
    ZelvanFinger::TemplateCreator* c = ZelvanFinger::TemplateCreator::create();
    if (c == nullptr) {
        return nullptr;
    }
    unsigned size = 0;
    unsigned char quality = 0;
    Bytes tpl;
    if (c->createTemplate(img, size, quality) == 0) {
        tpl.resize(TEMPLATE_BUFFER);
        c->getTemplate(tpl.data());
        tpl.resize(size);
    }
    ZelvanFinger::TemplateCreator::cancel(c);
    return tpl.empty() ? nullptr : ToJava(env, tpl);
}

// One-finger record in the slot of `finger` (1..10).
TpTemplate OneFinger(Bytes& tpl, int finger)
{
    TpTemplate t{};
    t.finger[finger - 1] = tpl.data();
    return t;
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_zftest_Fakes_newCreator(JNIEnv* env, jclass, jint result, jint quality,
                                                     jbyteArray tpl)
{
    auto* c = new FakeCreator();
    c->result = result;
    c->quality = static_cast<unsigned char>(quality);
    c->tpl = FromJava(env, tpl);
    return To<ZelvanFinger::TemplateCreator>(c);
}

JNIEXPORT jlong JNICALL Java_zftest_Fakes_newChecker(JNIEnv*, jclass, jint result)
{
    auto* c = new FakeChecker();
    c->result = result;
    return To<ZelvanFinger::FpTemplateChecker>(c);
}

JNIEXPORT jlong JNICALL Java_zftest_Fakes_newMatcher(JNIEnv*, jclass, jint result, jdouble score,
                                                     jint candidates)
{
    auto* m = new FakeMatcher();
    m->result = result;
    m->score = score;
    m->candidates = candidates;
    return To<ZelvanFinger::Matcher>(m);
}

// Calls the fake received, one word each ("raw;wsq;get;", "check;", "verify;insert;...").
JNIEXPORT jstring JNICALL Java_zftest_Fakes_creatorLog(JNIEnv* env, jclass, jlong h)
{
    return env->NewStringUTF(
        static_cast<FakeCreator*>(From<ZelvanFinger::TemplateCreator>(h))->log.c_str());
}
JNIEXPORT jstring JNICALL Java_zftest_Fakes_checkerLog(JNIEnv* env, jclass, jlong h)
{
    return env->NewStringUTF(
        static_cast<FakeChecker*>(From<ZelvanFinger::FpTemplateChecker>(h))->log.c_str());
}
JNIEXPORT jstring JNICALL Java_zftest_Fakes_matcherLog(JNIEnv* env, jclass, jlong h)
{
    return env->NewStringUTF(
        static_cast<FakeMatcher*>(From<ZelvanFinger::Matcher>(h))->log.c_str());
}

JNIEXPORT jintArray JNICALL Java_zftest_Fakes_lastImage(JNIEnv* env, jclass, jlong h)
{
    return Ints(env, static_cast<FakeCreator*>(From<ZelvanFinger::TemplateCreator>(h))->image, 4);
}
JNIEXPORT jbyteArray JNICALL Java_zftest_Fakes_lastImageBytes(JNIEnv* env, jclass, jlong h)
{
    return ToJava(env, static_cast<FakeCreator*>(From<ZelvanFinger::TemplateCreator>(h))->seen);
}
JNIEXPORT jbyteArray JNICALL Java_zftest_Fakes_lastChecked(JNIEnv* env, jclass, jlong h)
{
    return ToJava(env, static_cast<FakeChecker*>(From<ZelvanFinger::FpTemplateChecker>(h))->seen);
}

JNIEXPORT jintArray JNICALL Java_zftest_Fakes_lastParameters(JNIEnv* env, jclass, jlong h)
{
    return Ints(env, static_cast<FakeMatcher*>(From<ZelvanFinger::Matcher>(h))->parameters, 4);
}

// Finger copy `finger` (0..9) of the last probe (side 0) or gallery (side 1) record: the whole
// 12,288-byte buffer, or null when the finger was absent.
JNIEXPORT jbyteArray JNICALL Java_zftest_Fakes_lastFinger(JNIEnv* env, jclass, jlong h, jint side,
                                                          jint finger)
{
    const FakeMatcher* m = static_cast<FakeMatcher*>(From<ZelvanFinger::Matcher>(h));
    const std::vector<Bytes>& r = m->record[side];
    if (r.empty() || r[static_cast<std::size_t>(finger)].empty()) {
        return nullptr;
    }
    return ToJava(env, r[static_cast<std::size_t>(finger)]);
}

JNIEXPORT jstring JNICALL Java_zftest_Fakes_lastId(JNIEnv* env, jclass, jlong h)
{
    return env->NewStringUTF(static_cast<FakeMatcher*>(From<ZelvanFinger::Matcher>(h))->id.c_str());
}

JNIEXPORT jlongArray JNICALL Java_zftest_Fakes_lastCounts(JNIEnv* env, jclass, jlong h)
{
    const FakeMatcher* m = static_cast<FakeMatcher*>(From<ZelvanFinger::Matcher>(h));
    const jlong values[2] = {m->counts[0], m->counts[1]};
    jlongArray a = env->NewLongArray(2);
    if (a != nullptr) {
        env->SetLongArrayRegion(a, 0, 2, values);
    }
    return a;
}

// Template of raw pixels or a WSQ stream made through the C++ interface; null on failure.
JNIEXPORT jbyteArray JNICALL Java_zftest_Fakes_nativeRawTemplate(JNIEnv* env, jclass, jint finger,
                                                                 jint width, jint height,
                                                                 jbyteArray pixels)
{
    Bytes p = FromJava(env, pixels);
    return TemplateOf(env, RawImage{finger, width, height, p.data()});
}

JNIEXPORT jbyteArray JNICALL Java_zftest_Fakes_nativeWsqTemplate(JNIEnv* env, jclass, jint finger,
                                                                 jbyteArray wsq)
{
    Bytes s = FromJava(env, wsq);
    return TemplateOf(env, WsqImage{finger, static_cast<int>(s.size()), s.data()});
}

// Similarity of two one-finger records (finger position 1..10) verified through the C++
// interface with the given parameters; -1 when no matcher can be made, -2 - code on failure.
JNIEXPORT jdouble JNICALL Java_zftest_Fakes_nativeVerify(JNIEnv* env, jclass, jint finger,
                                                         jbyteArray probe, jbyteArray gallery,
                                                         jint maxAngle, jint matchingMode)
{
    Bytes a = FromJava(env, probe);
    Bytes b = FromJava(env, gallery);
    a.resize(TEMPLATE_BUFFER);
    b.resize(TEMPLATE_BUFFER);
    ZelvanFinger::Matcher* m = ZelvanFinger::Matcher::create();
    if (m == nullptr) {
        return -1.0;
    }
    MatchingParameters p{0, maxAngle, maxAngle, matchingMode};
    TpTemplate pa = OneFinger(a, finger);
    TpTemplate pb = OneFinger(b, finger);
    double score = 0.0;
    const int result = m->verify_record(p, pa, pb, score);
    ZelvanFinger::Matcher::cancel(m);
    return result == 0 ? score : -2.0 - result;
}

// Bytes of the C heap in use (small blocks and mapped ones).
JNIEXPORT jlong JNICALL Java_zftest_Fakes_heapInUse(JNIEnv*, jclass)
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<jlong>(info.uordblks + info.hblkhd);
}

} // extern "C"
