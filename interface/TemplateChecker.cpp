// Template checker: header plausibility, then the seal, of the record behind the prefix.
// create answers null instead of throwing; check answers false on any refusal.

#include "interface/TemplateChecker.h"

#include "records/TemplateFormat.h"

#include <new>

namespace ZelvanFinger {

FpTemplateChecker::~FpTemplateChecker() = default;

FpTemplateChecker* FpTemplateChecker::create()
{
    try {
        return new TemplateChecker();
    } catch (...) {
        return nullptr;
    }
}

void FpTemplateChecker::cancel(FpTemplateChecker*& p)
{
    delete p;
    p = nullptr;
}

TemplateChecker::~TemplateChecker()
{
    ESK::Unwrap::cancel(m_reader);
}

bool TemplateChecker::init()
{
    if (m_initialised != 0) {
        return true;
    }
    m_reader = ESK::Unwrap::create();
    m_initialised = m_reader != nullptr ? 1 : 0;
    if (m_reader != nullptr) {
        m_reader->versor(ESK::ESK_ACCESS_CODE);
    }
    return m_initialised != 0;
}

bool TemplateChecker::check(unsigned char* tpl)
{
    if (tpl == nullptr || !init()) {
        return false;
    }
    const unsigned char* record = tpl + TF_PREFIX_SIZE;
    return m_reader->verify(record) && m_reader->defend(record);
}

} // namespace ZelvanFinger
