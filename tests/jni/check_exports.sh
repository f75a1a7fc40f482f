#!/bin/sh
# The binding exports exactly its 15 native methods under their JNI names (both createTemplate_
# overloads in the long form with the argument signature), and no load hook.
# Usage: check_exports.sh <path of libzelvanfp_jni.so>
set -eu
got=$(nm -D --defined-only "$1" | awk '$2 == "T" { print $3 }' | sort)
want=$(sort <<'LIST'
Java_zelvan_sdk_TemplateCreator_create_1
Java_zelvan_sdk_TemplateCreator_cancel_1
Java_zelvan_sdk_TemplateCreator_createTemplate_1__JLzelvan_sdk_RawImage_2Ljava_lang_Integer_2Ljava_lang_Byte_2
Java_zelvan_sdk_TemplateCreator_createTemplate_1__JLzelvan_sdk_WsqImage_2Ljava_lang_Integer_2Ljava_lang_Byte_2
Java_zelvan_sdk_TemplateCreator_getTemplate_1
Java_zelvan_sdk_FpTemplateChecker_create_1
Java_zelvan_sdk_FpTemplateChecker_cancel_1
Java_zelvan_sdk_FpTemplateChecker_check_1
Java_zelvan_sdk_Matcher_create_1
Java_zelvan_sdk_Matcher_cancel_1
Java_zelvan_sdk_Matcher_verify_1record_1
Java_zelvan_sdk_Matcher_insertRecord_1
Java_zelvan_sdk_Matcher_deleteRecord_1
Java_zelvan_sdk_Matcher_getFinalGallerySize_1
Java_zelvan_sdk_Matcher_identify_1record_1
LIST
)
echo "$got"
if [ "$got" != "$want" ]; then
    echo "exported functions differ from the 15 native methods:"
    printf '%s\n' "$want" | diff - "$(printf '%s\n' "$got" >/tmp/zf_jni_exports.$$; echo /tmp/zf_jni_exports.$$)" || true
    rm -f /tmp/zf_jni_exports.$$
    exit 1
fi
