#pragma once
// Sends the secure attention sequence (Ctrl+Alt+Del) where the OS allows a
// program to, and says which of the four outcomes happened.
#include "core/input_sas.h"

namespace korvex {

class SasAction {
public:
    virtual ~SasAction() = default;
    virtual SasOutcome send_sas() = 0;
    // The message of SasOutcome::Unavailable in this OS's words.
    virtual std::string_view unavailable_text() const { return kWindowsTerms.sas_unavailable; }
};

// The real action of this OS; safe to call from any thread.
SasAction& os_sas_action();

}  // namespace korvex
