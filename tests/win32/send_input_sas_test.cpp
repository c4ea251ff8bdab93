// The Windows Ctrl+Alt+Del action on a machine without the policy value
// (a fresh Wine prefix): refused before sas.dll is touched.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/sas_action.h"

namespace korvex {
namespace {

TEST(SasAction, WithoutThePolicyValueTheOutcomeIsPolicyMissing) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                     L"SoftwareSASGeneration", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS) {
        GTEST_SKIP() << "this machine has the SoftwareSASGeneration policy; not sending a real Ctrl+Alt+Del";
    }
    EXPECT_EQ(os_sas_action().send_sas(), SasOutcome::PolicyMissing);
    EXPECT_EQ(encode_sas_result(os_sas_action().send_sas()).substr(0, 30), "{\"code\":\"sas_policy_missing\",\"");
}

}  // namespace
}  // namespace korvex
