// Native methods of zelvan.sdk.TemplateCreator and zelvan.sdk.FpTemplateChecker: template
// creation from a RawImage or a WsqImage with the size and quality delivered into the caller's
// boxes, the fetch of the last template, and the template check. A bad argument gives 13 for
// creation, false for the check and an untouched array for the fetch.

#include "jni/convert.h"

#include <cstddef>
#include <cstdint>

using ZelvanFinger::FpTemplateChecker;
using ZelvanFinger::RESULT_EXCEPTION;
using ZelvanFinger::TemplateCreator;
using namespace zfjni;

namespace {

// Result of the WSQ overload when a box cannot take its value.
constexpr jint WSQ_BOX_FAILED = -1;

// Delivers a created template's quality, then its size, into the caller's boxes; neither box
// changes when one of them is missing.
bool DeliverTemplate(JNIEnv* env, jobject sizeBox, jobject qualityBox, unsigned size,
                     unsigned char quality)
{
    if (sizeBox == nullptr || qualityBox == nullptr) {
        return false;
    }
    jvalue q;
    q.b = static_cast<jbyte>(quality); // 0..100
    jvalue s;
    s.i = static_cast<jint>(size);
    return SetBox(env, qualityBox, "(B)V", q) && SetBox(env, sizeBox, "(I)V", s);
}

// Fields of a Java RawImage, with the pixels copied: the array must hold width x height bytes
// when both sides are positive (the engine refuses other sides itself).
bool ReadRawImage(JNIEnv* env, jobject image, ZelvanFinger::RawImage& out, Bytes& pixels)
{
    if (image == nullptr) {
        return false;
    }
    const jclass cls = env->GetObjectClass(image);
    jbyteArray array = nullptr;
    if (cls == nullptr || !ReadIntField(env, image, cls, "m_finger", out.m_finger) ||
        !ReadIntField(env, image, cls, "m_width", out.m_width) ||
        !ReadIntField(env, image, cls, "m_height", out.m_height) ||
        !ReadBytesField(env, image, cls, "m_image", array)) {
        return false;
    }
    env->DeleteLocalRef(cls);
    if (array == nullptr) {
        return false;
    }
    const jsize length = env->GetArrayLength(array);
    const std::int64_t needed =
        (out.m_width > 0 && out.m_height > 0) ? std::int64_t{out.m_width} * out.m_height : 0;
    if (length == 0 || needed > length) {
        return false;
    }
    pixels.reset(new unsigned char[static_cast<std::size_t>(length)]);
    if (!CopyBytes(env, array, length, pixels.get())) {
        return false;
    }
    env->DeleteLocalRef(array);
    out.m_image = pixels.get();
    return true;
}

// Fields of a Java WsqImage with exactly m_size stream bytes copied; m_size must lie in
// 1 .. the array's length.
bool ReadWsqImage(JNIEnv* env, jobject image, ZelvanFinger::WsqImage& out, Bytes& stream)
{
    if (image == nullptr) {
        return false;
    }
    const jclass cls = env->GetObjectClass(image);
    jbyteArray array = nullptr;
    if (cls == nullptr || !ReadIntField(env, image, cls, "m_finger", out.m_finger) ||
        !ReadIntField(env, image, cls, "m_size", out.m_size) ||
        !ReadBytesField(env, image, cls, "m_wsq", array)) {
        return false;
    }
    env->DeleteLocalRef(cls);
    if (array == nullptr || out.m_size < 1 || out.m_size > env->GetArrayLength(array)) {
        return false;
    }
    stream.reset(new unsigned char[static_cast<std::size_t>(out.m_size)]);
    if (!CopyBytes(env, array, out.m_size, stream.get())) {
        return false;
    }
    env->DeleteLocalRef(array);
    out.m_wsq = stream.get();
    return true;
}

// One creation of either overload: the image read by `read` (which keeps its bytes alive in the
// buffer), the template created and its size and quality delivered; `boxFailed` is the result
// when a box cannot take its value.
template <class Image, class Reader>
jint CreateFrom(JNIEnv* env, jlong handle, jobject image, jobject sizeBox, jobject qualityBox,
                Reader read, jint boxFailed)
{
    return Guarded<jint>(RESULT_EXCEPTION, [&]() -> jint {
        Image converted{};
        Bytes bytes;
        if (!read(env, image, converted, bytes)) {
            return BAD_ARGUMENT;
        }
        TemplateCreator* creator = FromHandle<TemplateCreator>(handle);
        if (creator == nullptr) {
            return BAD_ARGUMENT;
        }
        unsigned size = 0;
        unsigned char quality = 0;
        const int result = creator->createTemplate(converted, size, quality);
        if (result != 0) {
            return result;
        }
        return DeliverTemplate(env, sizeBox, qualityBox, size, quality) ? 0 : boxFailed;
    });
}

} // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_zelvan_sdk_TemplateCreator_create_1(JNIEnv*, jobject)
{
    return CreateObject<TemplateCreator>();
}

JNIEXPORT void JNICALL Java_zelvan_sdk_TemplateCreator_cancel_1(JNIEnv*, jobject, jlong handle)
{
    CancelObject<TemplateCreator>(handle);
}

JNIEXPORT jint JNICALL
Java_zelvan_sdk_TemplateCreator_createTemplate_1__JLzelvan_sdk_RawImage_2Ljava_lang_Integer_2Ljava_lang_Byte_2(
    JNIEnv* env, jobject, jlong handle, jobject image, jobject sizeBox, jobject qualityBox)
{
    return CreateFrom<ZelvanFinger::RawImage>(env, handle, image, sizeBox, qualityBox, ReadRawImage,
                                              RESULT_EXCEPTION);
}

JNIEXPORT jint JNICALL
Java_zelvan_sdk_TemplateCreator_createTemplate_1__JLzelvan_sdk_WsqImage_2Ljava_lang_Integer_2Ljava_lang_Byte_2(
    JNIEnv* env, jobject, jlong handle, jobject image, jobject sizeBox, jobject qualityBox)
{
    return CreateFrom<ZelvanFinger::WsqImage>(env, handle, image, sizeBox, qualityBox, ReadWsqImage,
                                              WSQ_BOX_FAILED);
}

// Copies the last created template to the front of `out`; an array shorter than the template,
// a null array or a 0 handle leaves the array untouched.
JNIEXPORT void JNICALL Java_zelvan_sdk_TemplateCreator_getTemplate_1(JNIEnv* env, jobject,
                                                                     jlong handle, jbyteArray out)
{
    Guarded<int>(0, [&] {
        TemplateCreator* creator = FromHandle<TemplateCreator>(handle);
        if (out == nullptr || creator == nullptr) {
            return 0;
        }
        Bytes buffer(new unsigned char[MAX_TEMPLATE_SIZE]());
        creator->getTemplate(buffer.get());
        const unsigned char* b = buffer.get();
        const std::uint32_t total = b[0] | (std::uint32_t{b[1]} << 8) |
                                    (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
        if (total > static_cast<std::uint32_t>(MAX_TEMPLATE_SIZE) ||
            total > static_cast<std::uint32_t>(env->GetArrayLength(out))) {
            return 0;
        }
        env->SetByteArrayRegion(out, 0, static_cast<jsize>(total),
                                reinterpret_cast<const jbyte*>(b));
        return 0;
    });
}

JNIEXPORT jlong JNICALL Java_zelvan_sdk_FpTemplateChecker_create_1(JNIEnv*, jobject)
{
    return CreateObject<FpTemplateChecker>();
}

JNIEXPORT void JNICALL Java_zelvan_sdk_FpTemplateChecker_cancel_1(JNIEnv*, jobject, jlong handle)
{
    CancelObject<FpTemplateChecker>(handle);
}

// A template array of 1 to 12,288 bytes is checked from a zero-padded copy; any other gives
// false.
JNIEXPORT jboolean JNICALL Java_zelvan_sdk_FpTemplateChecker_check_1(JNIEnv* env, jobject,
                                                                     jlong handle, jbyteArray tpl)
{
    return Guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
        if (tpl == nullptr) {
            return JNI_FALSE;
        }
        const jsize length = env->GetArrayLength(tpl);
        if (length < 1 || length > MAX_TEMPLATE_SIZE) {
            return JNI_FALSE;
        }
        Bytes buffer(new unsigned char[MAX_TEMPLATE_SIZE]());
        if (!CopyBytes(env, tpl, length, buffer.get())) {
            return JNI_FALSE;
        }
        FpTemplateChecker* checker = FromHandle<FpTemplateChecker>(handle);
        if (checker == nullptr) {
            return JNI_FALSE;
        }
        return checker->check(buffer.get()) ? JNI_TRUE : JNI_FALSE;
    });
}

} // extern "C"
