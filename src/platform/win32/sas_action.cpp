// Ctrl+Alt+Del through SendSAS of sas.dll, which Windows honours only for an
// elevated caller when the SoftwareSASGeneration policy includes services.
#include "platform/sas_action.h"

#include <windows.h>

#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

std::optional<std::uint32_t> read_sas_policy() {
    DWORD value = 0;
    DWORD size = sizeof value;
    LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                                  L"SoftwareSASGeneration", RRF_RT_REG_DWORD, nullptr, &value, &size);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

bool process_elevated() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    win32::UniqueHandle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return false;
    return elevation.TokenIsElevated != 0;
}

struct LibraryDeleter {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};

using SendSasFunction = VOID(WINAPI*)(BOOL);

class WindowsSas final : public SasAction {
public:
    SasOutcome send_sas() override {
        if (auto refusal = sas_refusal(read_sas_policy(), process_elevated())) return *refusal;
        // From System32 only, never from the current or application folder.
        std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter> library(
            LoadLibraryExW(L"sas.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!library) return SasOutcome::Unavailable;
        auto send = reinterpret_cast<SendSasFunction>(
            reinterpret_cast<void*>(GetProcAddress(library.get(), "SendSAS")));
        if (send == nullptr) return SasOutcome::Unavailable;
        send(FALSE);
        return SasOutcome::Ok;
    }
};

}  // namespace

SasAction& os_sas_action() {
    static WindowsSas action;
    return action;
}

}  // namespace korvex
