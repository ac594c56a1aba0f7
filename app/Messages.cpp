#include "app/Messages.h"

#include <algorithm>

#include "platform/ProductNames.h"
#include "update/UpdateTask.h"

namespace {
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

std::wstring FillIn(const std::wstring& format, const std::wstring& argument) {
    size_t at = std::min(format.find(L"%s"), format.find(L"%d"));
    if (at == std::wstring::npos) return format;
    return format.substr(0, at) + argument + format.substr(at + 2);
}

std::wstring FitMessage(const std::wstring& text) {
    const size_t room = MESSAGE_BUFFER_UNITS - 1;
    if (text.size() <= room) return text;
    const std::wstring ellipsis = L"...";
    size_t head = (room - ellipsis.size()) / 2;
    size_t tail = room - ellipsis.size() - head;
    if (head > 0 && IsLowSurrogate(text[head])) --head;  // never split a surrogate pair
    size_t tailStart = text.size() - tail;
    if (IsLowSurrogate(text[tailStart])) ++tailStart;
    return text.substr(0, head) + ellipsis + text.substr(tailStart);
}

std::wstring UpdateFailureMessage(int32_t result, int32_t unpackError, const std::wstring& detail) {
    switch (result) {
    case LAUNCH_ERR_VERSION_DOWNLOAD:
        return FitMessage(FillIn(L"无法下载Version文件，请检查您的网络！\n%s", detail));
    case LAUNCH_ERR_PACKAGE_DOWNLOAD:
        return FitMessage(FillIn(L"无法下载安装包更新文件，请检查您的网络！\n%s", detail));
    case LAUNCH_ERR_EXTRACT:
        return FitMessage(FillIn(L"解压文件失败，错误码(%d)，请重新尝试。谢谢！", std::to_wstring(unpackError)));
    case LAUNCH_ERR_CONFIG:
        return FitMessage(FillIn(L"非法的配置文件，请您删除游戏后重新运行。谢谢！\n%s", detail));
    case LAUNCH_ERR_GAME_RUNNING:
        return FitMessage(FillIn(L"当前游戏正在运行中，请到任务管理器中关闭%s.exe进程后重新尝试。谢谢！", names::kGame));
    case LAUNCH_ERR_DISK_SPACE:
        return L"磁盘空间不足，请进行清理后重新尝试。谢谢！";
    case LAUNCH_ERR_VERSION_FILE:
        return L"非法的Version文件，请重新尝试。谢谢！";
    case LAUNCH_ERR_SWAP:
        return L"无法替换游戏文件，请关闭正在使用游戏文件的程序后重新尝试。谢谢！";
    default:
        return FitMessage(FillIn(L"出现未知错误(%d)，请重新尝试。谢谢！", std::to_wstring(result)));
    }
}

std::wstring UninstallFailureMessage(int32_t result) {
    if (result == LAUNCH_ERR_GAME_RUNNING) return UpdateFailureMessage(result, 0, L"");
    return FitMessage(FillIn(L"出现未知错误(%d)，请重新尝试。谢谢！", std::to_wstring(result)));
}

std::wstring GameStartFailureMessage(DWORD error, const std::wstring& gameExePath) {
    std::wstring text = FillIn(L"启动游戏失败(%d)，请重新尝试。谢谢！\n%s", std::to_wstring(error));
    return FitMessage(FillIn(text, gameExePath));
}
