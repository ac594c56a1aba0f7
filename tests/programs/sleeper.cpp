// Stays alive for a while: stands in for a running game or a second launcher.
//   sleeper.exe [milliseconds]   (default 60000)
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    DWORD ms = argc > 1 ? DWORD(wcstoul(argv[1], nullptr, 10)) : 60000;
    Sleep(ms);
    return 0;
}
