// Conversions of the Java binding: handles, the fields of the data classes, byte arrays copied
// into buffers the binding owns for one call, multi-finger records, matching parameters and the
// boxed out-values. Every helper answers false when an argument is unusable or a JNI call
// failed; in the second case the VM's exception stays pending and the caller must return at
// once without another JNI call.
#pragma once

#include "interface/ZelvanFinger.h"

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string>

namespace zfjni {

// Largest finger template, and the size of every finger copy the binding hands to the engine.
constexpr jsize MAX_TEMPLATE_SIZE = 12288;
// Fingers of a record array the binding reads (element i is finger position i + 1).
constexpr jsize RECORD_FINGERS = 10;

// Result of the binding itself for a bad or missing argument.
constexpr jint BAD_ARGUMENT = 13;

// The engine object's address as a Java long, and back; 0 is no object.
template <class T> jlong ToHandle(T* object)
{
    return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(object));
}
template <class T> T* FromHandle(jlong handle)
{
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(handle));
}

// Runs the body of one native method: no C++ exception crosses into the VM; any of them gives
// the method's failure value.
template <class R, class Body> R Guarded(R failure, Body&& body)
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// create_ and cancel_ of the three classes: the factory's object as a handle (0 when it cannot
// be made), and its destruction (nothing for 0). The Java side forgets the handle itself.
template <class T> jlong CreateObject()
{
    return Guarded<jlong>(0, [] { return ToHandle(T::create()); });
}
template <class T> void CancelObject(jlong handle)
{
    Guarded<int>(0, [handle] {
        T* object = FromHandle<T>(handle);
        T::cancel(object);
        return 0;
    });
}

using Bytes = std::unique_ptr<unsigned char[]>;

// The ten finger copies of one record; absent fingers stay null.
struct Record {
    Bytes finger[RECORD_FINGERS];

    // The engine's view of the copies (valid while this object lives).
    TpTemplate View() const;
};

// Reads an int field of `object` (class `cls`) by name.
bool ReadIntField(JNIEnv* env, jobject object, jclass cls, const char* name, jint& out);

// Reads a byte[] field of `object`; a null field gives true with `out` null. The caller owns the
// local reference.
bool ReadBytesField(JNIEnv* env, jobject object, jclass cls, const char* name, jbyteArray& out);

// Copies the first `count` bytes of `array` into `out` (which holds at least `count`).
bool CopyBytes(JNIEnv* env, jbyteArray array, jsize count, unsigned char* out);

// The four fields of a Java parameter object, read in the order matchingMode, maxAngle,
// maxAngleThumbs, searchSpeed. A null object is unusable.
bool ReadParameters(JNIEnv* env, jobject parameters, ZelvanFinger::MatchingParameters& out);

// A record array: at least ten elements, of which the first ten are read; a null element or
// one of 0 or more than 12,288 bytes is an absent finger, any other is copied into a zeroed
// buffer of 12,288 bytes. A null array or one of fewer than ten elements is unusable.
bool ReadRecord(JNIEnv* env, jobjectArray record, Record& out);

// Two records read position by position: a probe finger of a length that cannot be a template
// makes the position absent on both sides, the gallery element unexamined.
bool ReadRecordPair(JNIEnv* env, jobjectArray probe, jobjectArray gallery, Record& probeOut,
                    Record& galleryOut);

// Identifier text of a Java string (modified UTF-8, as the VM gives it). A null string or a
// failed conversion gives false.
bool ReadIdentifier(JNIEnv* env, jstring id, std::string& out);

// Runs the constructor `signature` of the box object once more with `value`: the caller reads
// the new value from its own box. A null box or a missing constructor gives false.
bool SetBox(JNIEnv* env, jobject box, const char* signature, jvalue value);

} // namespace zfjni
