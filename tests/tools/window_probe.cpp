// korvex-window-probe.exe CLASS [DPI]: a helper of the Windows GUI test. It
// finds the top-level window of CLASS (of another process, same Wine
// server) and prints its controls, one a line:
//   control ID CLASS X Y W H SCREEN_X SCREEN_Y ENABLED SELECTION|CHECK TEXT
// (X..H in client coordinates, SCREEN_* the control's centre). For the
// gamepad mapping window and a DPI it also compares every control with the
// layout the window is built from, scaled to that DPI, and prints
// "layout ok N" or one "layout mismatch ..." line per difference.
// Exit code 1 when the window is not there.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/flyout_layout.h"
#include "app/pad_mapping_window_model.h"

namespace {

struct Found {
    int id = 0;
    std::string cls;
    RECT rect{};
};

std::string narrow(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; *p; ++p) out += *p < 128 ? static_cast<char>(*p) : '?';
    return out;
}

BOOL CALLBACK collect(HWND child, LPARAM out) {
    auto* list = reinterpret_cast<std::vector<HWND>*>(out);
    list->push_back(child);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: korvex-window-probe CLASS [DPI]\n");
        return 2;
    }
    HWND window = FindWindowW(argv[1], nullptr);
    if (!window) {
        std::printf("no window\n");
        return 1;
    }
    RECT client{};
    GetClientRect(window, &client);
    std::printf("client %ld %ld\n", client.right, client.bottom);

    std::vector<HWND> children;
    EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&children));
    std::vector<Found> found;
    for (HWND child : children) {
        if (GetParent(child) != window) continue;  // a combo's own edit or list
        wchar_t cls[64]{};
        GetClassNameW(child, cls, 64);
        wchar_t text[256]{};
        GetWindowTextW(child, text, 256);
        RECT r{};
        GetWindowRect(child, &r);
        POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
        const int id = GetDlgCtrlID(child);
        const std::string c = narrow(cls);
        long state = 0;
        if (_wcsicmp(cls, L"ComboBox") == 0) state = static_cast<long>(SendMessageW(child, CB_GETCURSEL, 0, 0));
        if (_wcsicmp(cls, L"Button") == 0) state = static_cast<long>(SendMessageW(child, BM_GETCHECK, 0, 0));
        if (_wcsicmp(cls, L"msctls_trackbar32") == 0) state = static_cast<long>(SendMessageW(child, 0x400, 0, 0));
        std::printf("control %d %s %ld %ld %ld %ld %ld %ld %d %ld %s\n", id, c.c_str(), r.left, r.top,
                    r.right - r.left, r.bottom - r.top, centre.x, centre.y, IsWindowEnabled(child) ? 1 : 0, state,
                    narrow(text).c_str());
        found.push_back({id, c, r});
    }

    if (argc >= 3 && _wcsicmp(argv[1], L"KorvexPadMapping") == 0) {
        const auto dpi = static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10));
        using korvex::app::scale_to_dpi;
        int bad = 0, checked = 0;
        if (client.right != scale_to_dpi(korvex::app::kMappingClientWidth96, dpi) ||
            client.bottom != scale_to_dpi(korvex::app::kMappingClientHeight96, dpi)) {
            std::printf("layout mismatch client %ld x %ld\n", client.right, client.bottom);
            ++bad;
        }
        const auto expected = korvex::app::mapping_window_controls();
        if (expected.size() != found.size()) {
            std::printf("layout mismatch count %zu controls, %zu expected\n", found.size(), expected.size());
            ++bad;
        }
        // Children come in creation order, which is the layout's order.
        for (std::size_t i = 0; i < expected.size() && i < found.size(); ++i) {
            const auto& s = expected[i];
            const auto& f = found[i];
            const bool combo = s.kind == korvex::app::ControlClass::ComboBox;
            const bool place = f.id == s.id && f.rect.left == scale_to_dpi(s.x, dpi) &&
                               f.rect.top == scale_to_dpi(s.y, dpi) &&
                               f.rect.right - f.rect.left == scale_to_dpi(s.width, dpi) &&
                               // a drop-down list's height is that of its closed box
                               (combo || f.rect.bottom - f.rect.top == scale_to_dpi(s.height, dpi));
            ++checked;
            if (!place) {
                std::printf("layout mismatch #%zu id %d (want %d) at %ld,%ld %ldx%ld\n", i, f.id, s.id, f.rect.left,
                            f.rect.top, f.rect.right - f.rect.left, f.rect.bottom - f.rect.top);
                ++bad;
            }
        }
        if (bad == 0) std::printf("layout ok %d\n", checked);
    }
    return 0;
}
