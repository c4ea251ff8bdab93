#include "core/input_sas.h"

#include "core/json.h"

namespace korvex {

std::string_view sas_code(SasOutcome outcome) {
    switch (outcome) {
        case SasOutcome::Ok: return "sas_ok";
        case SasOutcome::PolicyMissing: return "sas_policy_missing";
        case SasOutcome::NeedsAdmin: return "sas_needs_admin";
        case SasOutcome::Unavailable: break;
    }
    return "sas_unavailable";
}

std::string_view sas_message(SasOutcome outcome, std::string_view unavailable_text) {
    switch (outcome) {
        case SasOutcome::Ok: return "Ctrl+Alt+Del sent";
        case SasOutcome::PolicyMissing:
            return "Ctrl+Alt+Del needs setup on the PC: run this app as administrator once and enable the "
                   "SoftwareSASGeneration policy";
        case SasOutcome::NeedsAdmin:
            return "Ctrl+Alt+Del needs setup on the PC: run this app as administrator once (SoftwareSASGeneration "
                   "is enabled)";
        case SasOutcome::Unavailable: break;
    }
    return unavailable_text;
}

std::string encode_sas_result(SasOutcome outcome, std::string_view unavailable_text) {
    JsonWriter writer;
    writer.begin_object().member("code", sas_code(outcome)).member("message", sas_message(outcome, unavailable_text)).end_object();
    return writer.take();
}

std::optional<SasOutcome> sas_refusal(std::optional<std::uint32_t> policy_value, bool elevated) {
    if (!policy_value || (*policy_value != 1 && *policy_value != 3)) return SasOutcome::PolicyMissing;
    if (!elevated) return SasOutcome::NeedsAdmin;
    return std::nullopt;
}

}  // namespace korvex
