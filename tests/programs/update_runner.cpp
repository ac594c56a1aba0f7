// Runs the update worker from wherever this program was copied to (so setting.ini and the
// install root are found as the launcher finds them), watches the record every 30 ms the way the
// launcher window does, and writes what it saw.
//   update_runner.exe OUTFILE [--free-bytes=N | --free-query-fails | --free-query-throws]
//                     [--watch-durability] [--fail-flush=TEXT] [--fail-move-to=TEXT] [--repair]
// --watch-durability reports the files flushed and the renames made (flags in hexadecimal);
// --fail-flush / --fail-move-to make the flush of a file, or a rename to a path, whose lower-case
// path contains TEXT fail. --repair runs the worker as "-repair" does.
// Output: UTF-8 "key=value" lines.
#include <windows.h>
#include <psapi.h>

#include <stdexcept>
#include <string>

#include <cwctype>
#include <memory>

#include "tests/support/DurabilityProbe.h"
#include "tests/support/TestFiles.h"
#include "transfer/Download.h"
#include "update/StreamedInstall.h"
#include "update/UpdateWorker.h"

namespace {
unsigned long long g_freeBytes = 0;
bool FixedFreeSpace(unsigned long long* freeBytes) {
    *freeBytes = g_freeBytes;
    return true;
}
bool FailingFreeSpace(unsigned long long*) { return false; }
bool ThrowingFreeSpace(unsigned long long*) { throw std::runtime_error("a fault inside the worker"); }
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::unique_ptr<testing_support::DurabilityProbe> probe;
    auto watch = [&] {
        if (!probe) probe.reset(new testing_support::DurabilityProbe);
    };
    for (int i = 2; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--watch-durability") watch();
        if (arg.rfind(L"--fail-flush=", 0) == 0) {
            watch();
            const std::wstring text = arg.substr(13);
            probe->failFlush = [text](const std::wstring& path) { return path.find(text) != std::wstring::npos; };
        }
        if (arg.rfind(L"--fail-move-to=", 0) == 0) {
            watch();
            const std::wstring text = arg.substr(15);
            probe->failMove = [text](const std::wstring&, const std::wstring& to) {
                std::wstring lower = to;
                for (wchar_t& c : lower) c = wchar_t(towlower(c));
                return lower.find(text) != std::wstring::npos;
            };
        }
        if (arg.rfind(L"--free-bytes=", 0) == 0) {
            g_freeBytes = wcstoull(arg.c_str() + 13, nullptr, 10);
            SetFreeSpaceQueryForTesting(FixedFreeSpace);
        } else if (arg.rfind(L"--stall-seconds=", 0) == 0) {
            SetDownloadStallSecondsForTesting(wcstol(arg.c_str() + 16, nullptr, 10));
        } else if (arg == L"--free-query-fails") {
            SetFreeSpaceQueryForTesting(FailingFreeSpace);
        } else if (arg == L"--free-query-throws") {
            SetFreeSpaceQueryForTesting(ThrowingFreeSpace);
        }
    }

    auto* task = new UpdateTask;
    for (int i = 2; i < argc; ++i)
        if (std::wstring(argv[i]) == L"--repair") task->verifyFiles = true;
    StartTaskThread(*task, UpdateThreadProc);
    int32_t last[3] = {0, 0, 0};
    bool monotonic = true;
    int samples = 0;
    std::wstring statuses, timeline;
    const ULONGLONG started = GetTickCount64();
    for (int waited = 0; !IsTaskFinished(*task) && waited < 120000; waited += 30) {
        Sleep(30);
        int32_t now[3] = {task->manifestProgress.load(), task->packageProgress.load(),
                          task->unpackProgress.load()};
        for (int k = 0; k < 3; ++k) {
            if (now[k] < last[k] || now[k] < 0 || now[k] > PROGRESS_FULL) monotonic = false;
            last[k] = now[k];
        }
        std::wstring status = task->status.Get();
        if (!status.empty() && (statuses.empty() || statuses.substr(statuses.rfind(L'|') + 1) != status)) {
            statuses += L"|" + status;
            timeline += L"|" + std::to_wstring(GetTickCount64() - started);
        }
        ++samples;
    }
    WaitForSingleObject(task->thread.Get(), 30000);

    std::wstring out;
    auto put = [&](const wchar_t* key, const std::wstring& value) { out += key + (L"=" + value) + L"\n"; };
    put(L"finished", IsTaskFinished(*task) ? L"1" : L"0");
    put(L"result", std::to_wstring(task->result.load()));
    put(L"progress", std::to_wstring(task->progress.load()));
    put(L"unpackError", std::to_wstring(task->unpackError.load()));
    put(L"manifestProgress", std::to_wstring(task->manifestProgress.load()));
    put(L"packageProgress", std::to_wstring(task->packageProgress.load()));
    put(L"unpackProgress", std::to_wstring(task->unpackProgress.load()));
    put(L"combined", std::to_wstring(CombinedProgress(*task)));
    put(L"status", task->status.Get());
    put(L"errorDetail", task->errorDetail.Get());
    put(L"installRoot", task->installRoot.Get());
    put(L"gameExePath", task->gameExePath.Get());
    put(L"monotonic", monotonic ? L"1" : L"0");
    put(L"samples", std::to_wstring(samples));
    put(L"statuses", statuses);
    put(L"timeline", timeline + L"|" + std::to_wstring(GetTickCount64() - started));
    put(L"elapsedMs", std::to_wstring(GetTickCount64() - started));  // the worker's run, start to finish
    put(L"downloadCap", std::to_wstring(DownloadRateCap()));
    const StreamedFigures streamed = LastStreamedFigures();
    put(L"streamedDownloadMs", std::to_wstring(streamed.downloadMs));
    put(L"streamedDecoders", std::to_wstring(streamed.decoders));
    put(L"streamedDecoderWaitedMs", std::to_wstring(streamed.decoderWaitedMs));
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        put(L"peakWorkingSetMiB", std::to_wstring(memory.PeakWorkingSetSize >> 20));
    if (probe) {
        std::wstring flushed, moves;
        for (const std::wstring& path : probe->Flushed()) flushed += path + L"|";
        for (const auto& move : probe->Moves()) {
            wchar_t flags[16];
            swprintf(flags, 16, L"%lx", move.flags);
            moves += move.from + L">" + move.to + L">" + flags + L"|";
        }
        put(L"flushed", flushed);
        put(L"moves", moves);
    }
    ReleaseTaskRecord(task);
    return testing_support::WriteFileBytes(argv[1], testing_support::Narrow(out)) ? 0 : 1;
}
