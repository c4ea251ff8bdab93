// Linux has no secure attention sequence a program may send.
#include "platform/sas_action.h"

namespace korvex {
namespace {

class UnavailableSas final : public SasAction {
public:
    SasOutcome send_sas() override { return SasOutcome::Unavailable; }
    std::string_view unavailable_text() const override { return kLinuxTerms.sas_unavailable; }
};

}  // namespace

SasAction& os_sas_action() {
    static UnavailableSas action;
    return action;
}

}  // namespace korvex
