// Entry of the Java binding of package zelvan.sdk: the VM calls JNI_OnLoad when it loads
// the library; the native methods of the classes are registered by their JNI names.

#include <jni.h>

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* /*vm*/, void* /*reserved*/)
{
    return JNI_VERSION_1_6;
}
