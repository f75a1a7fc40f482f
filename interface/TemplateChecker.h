// Implementation of FpTemplateChecker: a template is good when its record (21 bytes in)
// passes the reader's header test and seal test. The reader is made on the first check.
#pragma once

#include "interface/ZelvanFinger.h"
#include "records/Unwrap.h"

#include <cstdint>

namespace ZelvanFinger {

class TemplateChecker final : public FpTemplateChecker {
public:
    TemplateChecker() = default;
    TemplateChecker(const TemplateChecker&) = delete;
    TemplateChecker& operator=(const TemplateChecker&) = delete;
    ~TemplateChecker() override;

    // False for null, for a record that fails verify or defend, and when no reader can be
    // made; reads no further than the record's own length.
    bool check(unsigned char* tpl) override;

    // Makes the reader and gives it the access code; false when memory is short (the next
    // call tries again).
    bool init();

private:
    ESK::Unwrap* m_reader = nullptr;
    std::uint8_t m_initialised = 0;
};

} // namespace ZelvanFinger
