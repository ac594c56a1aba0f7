// A stand-in for the game: shows that it runs and which command line it got, and leaves that
// command line in "launch-record.txt" beside itself. It closes itself after a minute.
#include <windows.h>

#include <string>

namespace {

std::wstring g_commandLine;

void WriteRecord() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring record = path;
    record = record.substr(0, record.rfind(L'\\') + 1) + L"launch-record.txt";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, g_commandLine.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(size_t(bytes > 0 ? bytes - 1 : 0), '\0');
    if (!text.empty())
        WideCharToMultiByte(CP_UTF8, 0, g_commandLine.c_str(), -1, &text[0], bytes, nullptr, nullptr);
    // Written aside and then renamed, so that whoever sees the record sees all of it.
    const std::wstring partial = record + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rect;
        GetClientRect(hwnd, &rect);
        HBRUSH background = CreateSolidBrush(RGB(30, 12, 52));
        FillRect(dc, &rect, background);
        DeleteObject(background);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 214, 120));
        std::wstring text = L"Vantrel is running.\n\nCommand line: [" + g_commandLine + L"]";
        InflateRect(&rect, -20, -20);
        DrawTextW(dc, text.c_str(), -1, &rect, DT_LEFT | DT_WORDBREAK);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_TIMER:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int show) {
    // The whole command line as the launcher passed it (it names no program).
    g_commandLine = GetCommandLineW();
    (void)commandLine;
    WriteRecord();

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"VantrelSampleGame";
    RegisterClassW(&windowClass);
    HWND hwnd = CreateWindowW(L"VantrelSampleGame", L"Vantrel", WS_OVERLAPPEDWINDOW, 40, 40, 640, 240,
                              nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, show);
    SetTimer(hwnd, 1, 60000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
