// Conversions between the Java objects and arrays of package zelvan.sdk and the engine's plain
// structures. Array lengths are checked before anything is copied; every finger copy is a
// zeroed 12,288-byte buffer, so the record reader, which trusts a template's own length, never
// reads past it. Local references are deleted as soon as they have served.

#include "jni/convert.h"

#include <cstddef>

namespace zfjni {
namespace {

// Copies one finger element into a zeroed template buffer, or leaves `out` null (absent
// finger) when its length cannot be a template's.
bool CopyFinger(JNIEnv* env, jbyteArray element, Bytes& out)
{
    if (element == nullptr) {
        return true;
    }
    const jsize length = env->GetArrayLength(element);
    if (length < 1 || length > MAX_TEMPLATE_SIZE) {
        return true;
    }
    out.reset(new unsigned char[MAX_TEMPLATE_SIZE]());
    return CopyBytes(env, element, length, out.get());
}

// Element i of a record array as a byte array (a local reference, possibly null).
bool FetchFinger(JNIEnv* env, jobjectArray record, jsize i, jbyteArray& out)
{
    out = static_cast<jbyteArray>(env->GetObjectArrayElement(record, i));
    return !env->ExceptionCheck();
}

bool UsableRecord(JNIEnv* env, jobjectArray record)
{
    return record != nullptr && env->GetArrayLength(record) >= RECORD_FINGERS;
}

} // namespace

TpTemplate Record::View() const
{
    TpTemplate view{};
    for (jsize i = 0; i < RECORD_FINGERS; ++i) {
        view.finger[i] = finger[i].get();
    }
    return view;
}

bool ReadIntField(JNIEnv* env, jobject object, jclass cls, const char* name, jint& out)
{
    const jfieldID field = env->GetFieldID(cls, name, "I");
    if (field == nullptr) {
        return false;
    }
    out = env->GetIntField(object, field);
    return true;
}

bool ReadBytesField(JNIEnv* env, jobject object, jclass cls, const char* name, jbyteArray& out)
{
    const jfieldID field = env->GetFieldID(cls, name, "[B");
    if (field == nullptr) {
        return false;
    }
    out = static_cast<jbyteArray>(env->GetObjectField(object, field));
    return true;
}

bool CopyBytes(JNIEnv* env, jbyteArray array, jsize count, unsigned char* out)
{
    env->GetByteArrayRegion(array, 0, count, reinterpret_cast<jbyte*>(out));
    return !env->ExceptionCheck();
}

bool ReadParameters(JNIEnv* env, jobject parameters, ZelvanFinger::MatchingParameters& out)
{
    if (parameters == nullptr) {
        return false;
    }
    const jclass cls = env->GetObjectClass(parameters);
    if (cls == nullptr) {
        return false;
    }
    const bool ok = ReadIntField(env, parameters, cls, "matchingMode", out.matchingMode) &&
                    ReadIntField(env, parameters, cls, "maxAngle", out.maxAngle) &&
                    ReadIntField(env, parameters, cls, "maxAngleThumbs", out.maxAngleThumbs) &&
                    ReadIntField(env, parameters, cls, "searchSpeed", out.searchSpeed);
    if (!ok) {
        return false; // a failed lookup left its exception pending: no further JNI call
    }
    env->DeleteLocalRef(cls);
    return true;
}

bool ReadRecord(JNIEnv* env, jobjectArray record, Record& out)
{
    if (!UsableRecord(env, record)) {
        return false;
    }
    for (jsize i = 0; i < RECORD_FINGERS; ++i) {
        jbyteArray element = nullptr;
        if (!FetchFinger(env, record, i, element) || !CopyFinger(env, element, out.finger[i])) {
            return false;
        }
        env->DeleteLocalRef(element);
    }
    return true;
}

bool ReadRecordPair(JNIEnv* env, jobjectArray probe, jobjectArray gallery, Record& probeOut,
                    Record& galleryOut)
{
    if (!UsableRecord(env, probe) || !UsableRecord(env, gallery)) {
        return false;
    }
    for (jsize i = 0; i < RECORD_FINGERS; ++i) {
        jbyteArray p = nullptr;
        jbyteArray g = nullptr;
        if (!FetchFinger(env, probe, i, p) || !FetchFinger(env, gallery, i, g)) {
            return false;
        }
        bool ok = true;
        const bool probeUnusable = p != nullptr && (env->GetArrayLength(p) < 1 ||
                                                    env->GetArrayLength(p) > MAX_TEMPLATE_SIZE);
        if (!probeUnusable) {
            ok = CopyFinger(env, p, probeOut.finger[i]) && CopyFinger(env, g, galleryOut.finger[i]);
        }
        if (!ok) {
            return false;
        }
        env->DeleteLocalRef(p);
        env->DeleteLocalRef(g);
    }
    return true;
}

bool ReadIdentifier(JNIEnv* env, jstring id, std::string& out)
{
    if (id == nullptr) {
        return false;
    }
    const char* chars = env->GetStringUTFChars(id, nullptr);
    if (chars == nullptr) {
        return false;
    }
    // Released whatever happens to the copy.
    const auto release = [env, id](const char* c) { env->ReleaseStringUTFChars(id, c); };
    const std::unique_ptr<const char, decltype(release)> held(chars, release);
    out.assign(chars);
    return true;
}

bool SetBox(JNIEnv* env, jobject box, const char* signature, jvalue value)
{
    if (box == nullptr) {
        return false;
    }
    const jclass cls = env->GetObjectClass(box);
    if (cls == nullptr) {
        return false;
    }
    const jmethodID constructor = env->GetMethodID(cls, "<init>", signature);
    if (constructor == nullptr) {
        return false;
    }
    env->DeleteLocalRef(cls);
    env->CallVoidMethodA(box, constructor, &value);
    return !env->ExceptionCheck();
}

} // namespace zfjni
