#!/bin/sh
# Lists the dynamic symbols of the engine library and fails when one of the public entry
# points is missing. Usage: check_exports.sh <path of libzelvanfp.so>
set -eu
symbols=$(nm -DC --defined-only "$1")
status=0
for want in \
    'ZelvanFinger::getVersion()' \
    'ZelvanFinger::FpTemplateChecker::create()' \
    'ZelvanFinger::FpTemplateChecker::cancel(ZelvanFinger::FpTemplateChecker\*&)' \
    'ZelvanFinger::Matcher::create()' \
    'ZelvanFinger::Matcher::cancel(ZelvanFinger::Matcher\*&)' \
    'accelMatch::Ma100_TT::identifyTT(accelMatch::SearchParam&, TpTemplate&, TpTemplate\*, unsigned int, accelMatch::RL\*, unsigned int, accelMatch::FP_TYPE, accelMatch::FP_TYPE)' \
    'ZelvanFinger::TemplateCreator::create()' \
    'ZelvanFinger::TemplateCreator::cancel(ZelvanFinger::TemplateCreator\*&)' \
    'ESK::Unwrap::create()' \
    'ESK::Unwrap::cancel(ESK::Unwrap\*&)' \
    'ESK::Unwrap_keep::verify(unsigned char const\*)' \
    'ESK::Unwrap_keep::defend(unsigned char const\*)' \
    'ESK::Unwrap_keep::denova(ESK::Lot<short>\*, unsigned char const\*)' \
    'ESK::Unwrap_keep::denest(ESK::Link\* const&, ESK::Lot<short>\* const&, unsigned short, unsigned char const\*)' \
    'ESK::Unwrap_keep::dearea(unsigned char\*, unsigned char const\*)'; do
    if ! printf '%s\n' "$symbols" | grep -q " T $want\$"; then
        echo "missing export: $want"
        status=1
    fi
done
# Internal helpers stay hidden.
if printf '%s\n' "$symbols" | grep -q 'RealMatcher::checkMaResult'; then
    echo "internal symbol exported: RealMatcher::checkMaResult"
    status=1
fi
for internal in 'Ip::processRaw' 'FpProcess::wizardWork' 'TemplateBuilder::checkIpResult'; do
    if printf '%s\n' "$symbols" | grep -q "$internal"; then
        echo "internal symbol exported: $internal"
        status=1
    fi
done
exit $status
