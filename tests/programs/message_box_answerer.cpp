// Waits for a message box on the screen, writes its caption and text (UTF-8) to a file and
// presses OK: the demo's stand-in for a player reading the launcher's message.
//   message_box_answerer.exe OUTFILE [TIMEOUT_MS]
#include <windows.h>

#include <string>

#include "tests/support/MessageBoxes.h"
#include "tests/support/TestFiles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const DWORD timeout = argc > 2 ? DWORD(_wtoi(argv[2])) : 60000;
    testing_support::MessageBoxInfo box;
    if (!testing_support::WaitForMessageBox(box, timeout)) return 1;
    testing_support::WriteFileBytes(argv[1], testing_support::Narrow(L"[" + box.caption + L"] " + box.text));
    testing_support::AnswerMessageBox(box, IDOK);
    return 0;
}
