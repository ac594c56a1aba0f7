#include <gtest/gtest.h>

#include "app/GantlowDlg.h"
#include "app/Messages.h"
#include "app/StartupGates.h"

TEST(Messages, FailureTexts) {
    struct Case { int32_t result, unpackError; const wchar_t* detail; const wchar_t* text; };
    const Case cases[] = {
        {-10000, 0, L"http://h/v.json", L"无法下载Version文件，请检查您的网络！\nhttp://h/v.json"},
        {-10001, 0, L"http://h/p.7z", L"无法下载安装包更新文件，请检查您的网络！\nhttp://h/p.7z"},
        {-10002, 17, L"", L"解压文件失败，错误码(17)，请重新尝试。谢谢！"},
        {-10003, 0, L"", L"非法的配置文件，请您删除游戏后重新运行。谢谢！\n"},
        {-10004, 0, L"", L"当前游戏正在运行中，请到任务管理器中关闭Vantrel.exe进程后重新尝试。谢谢！"},
        {-10005, 0, L"%s", L"磁盘空间不足，请进行清理后重新尝试。谢谢！"},
        {-10006, 0, L"", L"非法的Version文件，请重新尝试。谢谢！"},
        {-10007, 0, L"", L"无法替换游戏文件，请关闭正在使用游戏文件的程序后重新尝试。谢谢！"},
        {-7, 0, L"", L"出现未知错误(-7)，请重新尝试。谢谢！"},
        {-10000, 0, L"http://h/%d%s.json", L"无法下载Version文件，请检查您的网络！\nhttp://h/%d%s.json"},
    };
    for (const Case& c : cases) EXPECT_EQ(UpdateFailureMessage(c.result, c.unpackError, c.detail), c.text);
    EXPECT_EQ(UninstallFailureMessage(-10004),
              L"当前游戏正在运行中，请到任务管理器中关闭Vantrel.exe进程后重新尝试。谢谢！");
    EXPECT_EQ(UninstallFailureMessage(-10001), L"出现未知错误(-10001)，请重新尝试。谢谢！");
    EXPECT_EQ(GameStartFailureMessage(2, L"C:\\g\\Vantrel.exe"), L"启动游戏失败(2)，请重新尝试。谢谢！\nC:\\g\\Vantrel.exe");
}

TEST(Messages, LongTextsAreShortenedInTheMiddle) {
    const std::wstring url = L"http://cdn.example.com/" + std::wstring(400, L'x') + L"/version.json";
    const std::wstring text = UpdateFailureMessage(-10000, 0, url);
    EXPECT_EQ(text.size(), MESSAGE_BUFFER_UNITS - 1);
    EXPECT_EQ(text.rfind(L"无法下载Version文件", 0), 0u);
    EXPECT_NE(text.find(L"..."), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 13), L"/version.json");
    EXPECT_EQ(FitMessage(std::wstring(255, L'a')), std::wstring(255, L'a'));
    // A surrogate pair at a cut is never split.
    std::wstring astral;
    for (int i = 0; i < 200; ++i) astral += L"\xD83D\xDE00";
    std::wstring fitted = FitMessage(astral);
    EXPECT_LE(fitted.size(), 255u);
    for (size_t i = 0; i < fitted.size(); ++i) {
        if (fitted[i] >= 0xD800 && fitted[i] <= 0xDBFF) {
            ASSERT_LT(i + 1, fitted.size());
            EXPECT_TRUE(fitted[i + 1] >= 0xDC00 && fitted[i + 1] <= 0xDFFF);
            ++i;
        } else {
            EXPECT_FALSE(fitted[i] >= 0xDC00 && fitted[i] <= 0xDFFF) << i;
        }
    }
}

TEST(LauncherDialog, CompletionRule) {
    EXPECT_FALSE(ShouldComplete(true, true, 1000));  // strictly more than 1000 ms
    EXPECT_TRUE(ShouldComplete(true, true, 1001));
    EXPECT_FALSE(ShouldComplete(true, false, 5000));
    EXPECT_TRUE(ShouldComplete(false, true, 0));      // uninstall: no minimum display time
    EXPECT_FALSE(ShouldComplete(false, false, 5000));
}

TEST(LauncherDialog, ModeFromTheCommandLine) {
    EXPECT_TRUE(IsUninstallMode(L"-uninstall"));
    EXPECT_TRUE(IsUninstallMode(L"a b--uninstaller"));
    EXPECT_FALSE(IsUninstallMode(L"-Uninstall"));
    EXPECT_FALSE(IsUninstallMode(L""));
}

TEST(StartupGates, OperatingSystemVersions) {
    struct Case { DWORD platform, major, minor; bool supported; };
    const Case cases[] = {{2, 6, 1, true},  {2, 6, 2, true},  {2, 6, 3, true}, {2, 10, 0, true},
                          {2, 6, 0, false}, {2, 5, 1, false}, {1, 6, 1, false}};
    for (const Case& c : cases) {
        OSVERSIONINFOW v = {};
        v.dwOSVersionInfoSize = sizeof v;
        v.dwPlatformId = c.platform;
        v.dwMajorVersion = c.major;
        v.dwMinorVersion = c.minor;
        EXPECT_EQ(IsSupportedSystem(v), c.supported) << c.platform << " " << c.major << "." << c.minor;
    }
}

TEST(StartupGates, ExecutableFileName) {
    EXPECT_EQ(ExeFileNameOf(L"C:\\x\\QuenbySkirmora.exe"), L"QuenbySkirmora.exe");
    EXPECT_EQ(ExeFileNameOf(L"C:/x/y\\Launcher.exe"), L"Launcher.exe");
    EXPECT_EQ(ExeFileNameOf(L"C:\\x/Launcher.exe"), L"Launcher.exe");
    EXPECT_EQ(ExeFileNameOf(L"Launcher.exe"), L"Launcher.exe");
}
