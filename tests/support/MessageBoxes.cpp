#include "tests/support/MessageBoxes.h"

namespace testing_support {

namespace {
struct Search {
    DWORD processId;
    MessageBoxInfo found;
};

BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (search->processId && pid != search->processId) return TRUE;
    HWND textControl = GetDlgItem(window, 0xFFFF);
    if (!textControl) return TRUE;
    wchar_t text[2048] = {};
    wchar_t caption[256] = {};
    GetWindowTextW(textControl, text, 2048);
    GetWindowTextW(window, caption, 256);
    search->found = MessageBoxInfo{window, pid, caption, text};
    return FALSE;
}
}  // namespace

bool WaitForMessageBox(MessageBoxInfo& box, DWORD timeoutMs, DWORD processId) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        Search search{processId, {}};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found.window) {
            box = search.found;
            return true;
        }
        Sleep(50);
    } while (GetTickCount64() < end);
    return false;
}

void AnswerMessageBox(const MessageBoxInfo& box, int buttonId) {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
}

}  // namespace testing_support
