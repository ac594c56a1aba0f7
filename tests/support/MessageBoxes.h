// Finds a message box on the screen, reads it and presses one of its buttons.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

struct MessageBoxInfo {
    HWND window = nullptr;
    DWORD processId = 0;
    std::wstring caption;
    std::wstring text;
};

// Waits up to timeoutMs for a visible message box (dialog class #32770 with a static text of
// id 0xFFFF), of the given process when processId is not 0.
bool WaitForMessageBox(MessageBoxInfo& box, DWORD timeoutMs, DWORD processId = 0);
// Presses IDOK, IDCANCEL, ... on it.
void AnswerMessageBox(const MessageBoxInfo& box, int buttonId);

}  // namespace testing_support
