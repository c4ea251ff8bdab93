#pragma once
// Ctrl+Alt+Del: the four outcomes, the rules that pick one before sas.dll is
// tried, and the SasResult body the client receives.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/os_terms.h"

namespace korvex {

enum class SasOutcome : std::uint8_t { Ok, PolicyMissing, NeedsAdmin, Unavailable };

std::string_view sas_code(SasOutcome outcome);
// `unavailable_text` is the OS's words for SasOutcome::Unavailable.
std::string_view sas_message(SasOutcome outcome, std::string_view unavailable_text = kWindowsTerms.sas_unavailable);

// {"code":...,"message":...}, compact, members in that order.
std::string encode_sas_result(SasOutcome outcome, std::string_view unavailable_text = kWindowsTerms.sas_unavailable);

// Windows only lets an elevated process send the sequence, and only when the
// SoftwareSASGeneration policy includes services (1 or 3). Returns the
// refusal, or nothing when sas.dll may be tried.
std::optional<SasOutcome> sas_refusal(std::optional<std::uint32_t> policy_value, bool elevated);

}  // namespace korvex
