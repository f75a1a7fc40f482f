// TemplateCreator interface and the mapping of extractor and WSQ codes onto public codes.

#include "interface/TemplateBuilder.h"

namespace ZelvanFinger {

TemplateCreator::~TemplateCreator() = default;

int TemplateBuilder::checkIpResult(int code)
{
    switch (code) {
    case 0:
        return RESULT_OK;
    case -204:
        return RESULT_NO_MEMORY; // IP_NO_MEMORY
    case -208:
        return RESULT_EXCEPTION; // IP_EXCEPTION
    case -212:
        return RESULT_IMAGE_TOO_LARGE; // IP_TOO_LARGE
    case -216:
        return RESULT_BAD_IMAGE; // IP_BAD_SIZE
    default:
        return RESULT_EXTRACTION_FAILED; // the other -2xx codes and 1 from a failed cut
    }
}

int TemplateBuilder::checkWsqResult(int code)
{
    if (code == 0) {
        return RESULT_OK;
    }
    return code == -666 ? RESULT_WSQ_GUARD : RESULT_WSQ_DECODE;
}

} // namespace ZelvanFinger
