// Extracts one archive in a process of its own and reports what that cost.
//   extract_runner.exe ARCHIVE DESTINATION\ OUTFILE
// Output: UTF-8 "key=value" lines: result, peakWorkingSetMiB, peakPrivateMiB, multiThreaded.
#include <windows.h>
#include <psapi.h>

#include <string>

#include "tests/support/TestFiles.h"
#include "transfer/Extract7z.h"
#include "transfer/FolderStream.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    AtomicInt progress{0};
    const int result = Extract7z(argv[1], argv[2], &progress);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::string out = "result=" + std::to_string(result) + "\n";
    out += "peakWorkingSetMiB=" + std::to_string(memory.PeakWorkingSetSize >> 20) + "\n";
    out += "peakPrivateMiB=" + std::to_string(memory.PeakPagefileUsage >> 20) + "\n";
    out += "multiThreaded=" + std::to_string(MultiThreadedLzma2Streams()) + "\n";
    return testing_support::WriteFileBytes(argv[3], out) ? 0 : 1;
}
