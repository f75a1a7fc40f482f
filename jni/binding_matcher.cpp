// Native methods of zelvan.sdk.Matcher: verification of two records with the similarity
// delivered into the caller's Double, enrolment and deletion under a decimal identifier, the
// gallery size, and identification into a java.util.ArrayList of candidates_string. A bad
// argument gives -1 for verification, 13 for enrolment and deletion, null for identification.

#include "jni/convert.h"

#include <string>
#include <vector>

using ZelvanFinger::Matcher;
using ZelvanFinger::RESULT_EXCEPTION;
using namespace zfjni;

namespace {

// Result of verification for a bad argument, a 0 handle or a similarity that cannot be
// delivered; also the result of enrolment and deletion for a 0 handle.
constexpr jint NO_OBJECT = -1;

// The candidates as a new java.util.ArrayList of zelvan.sdk.candidates_string, in their order,
// or null when a class, a constructor or an object cannot be had.
jobject CandidateList(JNIEnv* env, const std::vector<ZelvanFinger::candidates_string>& found)
{
    const jclass candidateClass = env->FindClass("zelvan/sdk/candidates_string");
    if (candidateClass == nullptr) {
        return nullptr;
    }
    const jmethodID candidateInit =
        env->GetMethodID(candidateClass, "<init>", "(Ljava/lang/String;F)V");
    if (candidateInit == nullptr) {
        return nullptr;
    }
    const jclass listClass = env->FindClass("java/util/ArrayList");
    if (listClass == nullptr) {
        return nullptr;
    }
    const jmethodID listInit = env->GetMethodID(listClass, "<init>", "()V");
    if (listInit == nullptr) {
        return nullptr;
    }
    const jobject list = env->NewObject(listClass, listInit);
    if (list == nullptr || env->ExceptionCheck()) {
        return nullptr;
    }
    const jmethodID add = env->GetMethodID(listClass, "add", "(Ljava/lang/Object;)Z");
    if (add == nullptr) {
        return list;
    }
    for (const ZelvanFinger::candidates_string& c : found) {
        const jstring id = env->NewStringUTF(c.id.c_str());
        if (id == nullptr) {
            return nullptr;
        }
        // The float goes through the variable argument list as a double.
        const jobject candidate =
            env->NewObject(candidateClass, candidateInit, id, static_cast<double>(c.score));
        if (candidate == nullptr || env->ExceptionCheck()) {
            return nullptr;
        }
        env->CallBooleanMethod(list, add, candidate);
        if (env->ExceptionCheck()) {
            return nullptr;
        }
        // Two local references per candidate: freed at once, so long lists stay within the
        // VM's local-reference capacity.
        env->DeleteLocalRef(candidate);
        env->DeleteLocalRef(id);
    }
    env->DeleteLocalRef(listClass);
    env->DeleteLocalRef(candidateClass);
    return list;
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_zelvan_sdk_Matcher_create_1(JNIEnv*, jobject)
{
    return CreateObject<Matcher>();
}

JNIEXPORT void JNICALL Java_zelvan_sdk_Matcher_cancel_1(JNIEnv*, jobject, jlong handle)
{
    CancelObject<Matcher>(handle);
}

JNIEXPORT jlong JNICALL Java_zelvan_sdk_Matcher_verify_1record_1(JNIEnv* env, jobject, jlong handle,
                                                                 jobject parameters,
                                                                 jobjectArray probe,
                                                                 jobjectArray gallery,
                                                                 jobject similarity)
{
    return Guarded<jlong>(RESULT_EXCEPTION, [&]() -> jlong {
        ZelvanFinger::MatchingParameters p{};
        Record probeCopy;
        Record galleryCopy;
        if (!ReadParameters(env, parameters, p) ||
            !ReadRecordPair(env, probe, gallery, probeCopy, galleryCopy)) {
            return NO_OBJECT;
        }
        Matcher* matcher = FromHandle<Matcher>(handle);
        if (matcher == nullptr) {
            return NO_OBJECT;
        }
        TpTemplate probeView = probeCopy.View();
        TpTemplate galleryView = galleryCopy.View();
        double score = 0.0;
        const int result = matcher->verify_record(p, probeView, galleryView, score);
        if (result != 0) {
            return result;
        }
        jvalue v;
        v.d = score;
        return SetBox(env, similarity, "(D)V", v) ? 0 : NO_OBJECT;
    });
}

JNIEXPORT jint JNICALL Java_zelvan_sdk_Matcher_insertRecord_1(JNIEnv* env, jobject, jlong handle,
                                                              jstring id, jobjectArray record)
{
    return Guarded<jint>(RESULT_EXCEPTION, [&]() -> jint {
        std::string text;
        Record copy;
        if (!ReadIdentifier(env, id, text) || !ReadRecord(env, record, copy)) {
            return BAD_ARGUMENT;
        }
        Matcher* matcher = FromHandle<Matcher>(handle);
        if (matcher == nullptr) {
            return NO_OBJECT;
        }
        TpTemplate view = copy.View();
        return matcher->insertRecord(text, view);
    });
}

JNIEXPORT jint JNICALL Java_zelvan_sdk_Matcher_deleteRecord_1(JNIEnv* env, jobject, jlong handle,
                                                              jstring id)
{
    return Guarded<jint>(RESULT_EXCEPTION, [&]() -> jint {
        std::string text;
        if (!ReadIdentifier(env, id, text)) {
            return BAD_ARGUMENT;
        }
        Matcher* matcher = FromHandle<Matcher>(handle);
        if (matcher == nullptr) {
            return NO_OBJECT;
        }
        return matcher->deleteRecord(text);
    });
}

JNIEXPORT jlong JNICALL Java_zelvan_sdk_Matcher_getFinalGallerySize_1(JNIEnv*, jobject,
                                                                      jlong handle)
{
    return Guarded<jlong>(0, [&]() -> jlong {
        Matcher* matcher = FromHandle<Matcher>(handle);
        return matcher != nullptr ? matcher->getFinalGallerySize() : 0;
    });
}

JNIEXPORT jobject JNICALL
Java_zelvan_sdk_Matcher_identify_1record_1(JNIEnv* env, jobject, jlong handle, jobject parameters,
                                           jobjectArray probe, jint threads, jint maxCandidates)
{
    return Guarded<jobject>(nullptr, [&]() -> jobject {
        if (threads < 0 || maxCandidates < 0) {
            return nullptr;
        }
        ZelvanFinger::MatchingParameters p{};
        Record copy;
        if (!ReadParameters(env, parameters, p) || !ReadRecord(env, probe, copy)) {
            return nullptr;
        }
        Matcher* matcher = FromHandle<Matcher>(handle);
        if (matcher == nullptr) {
            return nullptr;
        }
        TpTemplate view = copy.View();
        std::vector<ZelvanFinger::candidates_string> found;
        if (matcher->identify_record(p, view, static_cast<unsigned>(threads),
                                     static_cast<unsigned>(maxCandidates), found) != 0) {
            return nullptr;
        }
        return CandidateList(env, found);
    });
}

} // extern "C"
