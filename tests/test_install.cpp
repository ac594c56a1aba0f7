#include <gtest/gtest.h>

#include <shlobj.h>

#include <map>

#include "install/Shortcuts.h"
#include "install/UninstallEntry.h"
#include "install/UninstallTask.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "tests/support/Shell.h"
#include "tests/support/TestFiles.h"

using namespace testing_support;

namespace {

void RemoveEntry() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, UninstallKeyPath().c_str());
}

struct Value {
    DWORD type;
    std::wstring text;
    DWORD number;
};

std::map<std::wstring, Value> EntryValues(HKEY root = HKEY_LOCAL_MACHINE) {
    std::map<std::wstring, Value> values;
    HKEY key;
    if (RegOpenKeyExW(root, UninstallKeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 2);
        nameLength = 256;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        Value v{type, L"", 0};
        if (type == REG_SZ) {
            v.text = reinterpret_cast<const wchar_t*>(data.data());
            EXPECT_EQ(size, (v.text.size() + 1) * sizeof(wchar_t)) << Narrow(name);
        }
        if (type == REG_DWORD) memcpy(&v.number, data.data(), 4);
        values[name] = v;
    }
    RegCloseKey(key);
    return values;
}

// A launcher folder and an install root, and the registration and uninstall run from there.
class InstallTest : public ::testing::Test {
protected:
    TempDir dir;
    std::wstring download = dir / L"download";
    std::wstring root = dir / L"Games\\Vantrel";
    std::wstring runner = download + L"\\QuenbySkirmora.exe";

    void SetUp() override {
        RemoveEntry();
        DeleteFileW(DesktopShortcut().c_str());
        DeleteFileW(StartMenuShortcut().c_str());
        DeleteFileW(UserStartMenuShortcut().c_str());
        CreateDirectoryTree(download);
        CreateDirectoryTree(root);
        CopyFileW(HelperProgram(L"install_runner.exe").c_str(), runner.c_str(), FALSE);
    }
    void TearDown() override {
        RemoveEntry();
        DeleteFileW(DesktopShortcut().c_str());
        DeleteFileW(StartMenuShortcut().c_str());
        DeleteFileW(UserStartMenuShortcut().c_str());
    }
    DWORD Register(const std::wstring& exe, const std::wstring& extra = L"") {
        return RunProgram(exe, L"register \"" + root + L"\" " + extra);
    }
    std::map<std::wstring, std::wstring> Uninstall(const std::wstring& exe, const std::wstring& extra = L"") {
        const std::wstring out = dir / L"uninstall.txt";
        DeleteFileW(out.c_str());
        EXPECT_EQ(RunProgram(exe, L"uninstall \"" + out + L"\" " + extra), 0u);
        return ParseKeyValues(Widen(ReadFileBytes(out)));
    }
};

}  // namespace

TEST(UninstallEntry, WrittenOnceWithSevenValues) {
    RemoveEntry();
    WriteUninstallEntry(L"D:\\Games\\Vantrel", L"D:\\Games\\Vantrel\\QuenbySkirmora.exe");
    auto values = EntryValues();
    ASSERT_EQ(values.size(), 7u);
    EXPECT_EQ(values[L"DisplayName"].type, DWORD(REG_SZ));
    EXPECT_EQ(values[L"DisplayName"].text, L"QuenbySkirmora");
    EXPECT_EQ(values[L"DisplayIcon"].text, L"D:\\Games\\Vantrel\\QuenbySkirmora.exe");
    EXPECT_EQ(values[L"UninstallString"].text, L"\"D:\\Games\\Vantrel\\QuenbySkirmora.exe\" -uninstall");
    EXPECT_EQ(values[L"InstallLocation"].text, L"D:\\Games\\Vantrel");
    EXPECT_EQ(values[L"Publisher"].text, L"Larkvane");
    EXPECT_EQ(values[L"NoModify"].type, DWORD(REG_DWORD));
    EXPECT_EQ(values[L"NoModify"].number, 1u);
    EXPECT_EQ(values[L"NoRepair"].type, DWORD(REG_DWORD));
    EXPECT_EQ(values[L"NoRepair"].number, 1u);

    // A second registration, even from elsewhere, changes nothing.
    WriteUninstallEntry(L"E:\\Other", L"E:\\Other\\QuenbySkirmora.exe");
    auto again = EntryValues();
    EXPECT_EQ(again[L"InstallLocation"].text, L"D:\\Games\\Vantrel");
    EXPECT_EQ(again[L"DisplayIcon"].text, L"D:\\Games\\Vantrel\\QuenbySkirmora.exe");
    RemoveEntry();
}

TEST(UninstallEntry, KeyWithoutAStringDisplayNameIsWrittenWhole) {
    for (DWORD type : {DWORD(0), DWORD(REG_EXPAND_SZ), DWORD(REG_DWORD)}) {
        SCOPED_TRACE(type);
        RemoveEntry();
        HKEY key;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr);
        RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"old"), 8);
        if (type == REG_EXPAND_SZ)
            RegSetValueExW(key, L"DisplayName", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
        if (type == REG_DWORD) {
            DWORD one = 1;
            RegSetValueExW(key, L"DisplayName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
        }
        RegCloseKey(key);
        WriteUninstallEntry(L"C:\\Games\\Vantrel", L"C:\\Games\\Vantrel\\QuenbySkirmora.exe");
        auto values = EntryValues();
        EXPECT_EQ(values.size(), 7u);
        EXPECT_EQ(values[L"DisplayName"].type, DWORD(REG_SZ));
        EXPECT_EQ(values[L"InstallLocation"].text, L"C:\\Games\\Vantrel");
    }
    RemoveEntry();
}

TEST(UninstallEntry, LongLauncherPathIsNeverCut) {
    const std::wstring path = L"C:\\" + std::wstring(300, L'p') + L"\\QuenbySkirmora.exe";
    EXPECT_EQ(UninstallCommand(path), L"\"" + path + L"\" -uninstall");
    RemoveEntry();
    WriteUninstallEntry(L"C:\\x", path);
    EXPECT_EQ(EntryValues()[L"UninstallString"].text, L"\"" + path + L"\" -uninstall");
    RemoveEntry();
}

TEST(ReadRegistryString, LongValuesOtherTypesAndMissingValues) {
    RemoveEntry();
    HKEY key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    const std::wstring longText(40000, L'长');
    RegSetValueExW(key, L"Long", 0, REG_SZ, reinterpret_cast<const BYTE*>(longText.c_str()),
                   DWORD((longText.size() + 1) * 2));
    RegSetValueExW(key, L"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(L"%x%"), 8);
    RegCloseKey(key);

    std::wstring out = L"untouched";
    ASSERT_TRUE(ReadRegistryString(UninstallKeyPath(), L"Long", out));
    EXPECT_EQ(out, longText);
    out = L"untouched";
    EXPECT_FALSE(ReadRegistryString(UninstallKeyPath(), L"Expand", out));
    EXPECT_FALSE(ReadRegistryString(UninstallKeyPath(), L"Missing", out));
    EXPECT_FALSE(ReadRegistryString(L"SOFTWARE\\NoSuchKeyHere", L"x", out));
    EXPECT_EQ(out, L"untouched");
    RemoveEntry();
}

TEST_F(InstallTest, RegistrationFromADownloadFolder) {
    ASSERT_EQ(Register(runner), 0u);
    const std::wstring copy = root + L"\\QuenbySkirmora.exe";
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(runner));
    EXPECT_EQ(LinkTarget(DesktopShortcut()), copy);
    EXPECT_EQ(LinkTarget(StartMenuShortcut()), copy);
    auto values = EntryValues();
    EXPECT_EQ(values[L"DisplayIcon"].text, copy);
    EXPECT_EQ(values[L"InstallLocation"].text, root);
    EXPECT_EQ(values[L"UninstallString"].text, L"\"" + copy + L"\" -uninstall");
}

TEST_F(InstallTest, RegistrationFromTheCopyItselfCopiesAndLinksNothing) {
    const std::wstring copy = root + L"\\QuenbySkirmora.exe";
    CopyFileW(runner.c_str(), copy.c_str(), FALSE);
    ASSERT_EQ(Register(copy), 0u);
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_FALSE(Exists(StartMenuShortcut()));
    EXPECT_EQ(EntryValues()[L"DisplayIcon"].text, copy);
}

TEST_F(InstallTest, WithoutProgramDataOnlyTheDesktopShortcut) {
    ASSERT_EQ(Register(runner, L"--unset-programdata"), 0u);
    EXPECT_TRUE(Exists(DesktopShortcut()));
    EXPECT_FALSE(Exists(StartMenuShortcut()));
}

TEST_F(InstallTest, UninstallRemovesEntryGameAndShortcutsAndThenItsOwnFile) {
    ASSERT_EQ(Register(runner), 0u);
    const std::wstring copy = root + L"\\QuenbySkirmora.exe";
    CreateDirectoryTree(root + L"\\game\\data");
    WriteFileBytes(root + L"\\game\\data\\level.map", "x");
    WriteFileBytes(root + L"\\player-notes.txt", "keep");
    // What an interrupted update leaves beside the game goes too.
    CreateDirectoryTree(root + L"\\game.new\\data");
    WriteFileBytes(root + L"\\game.new\\data\\half.pak", "half");
    CreateDirectoryTree(root + L"\\game.old");
    WriteFileBytes(root + L"\\game.old\\version.json", "{}");

    auto r = Uninstall(copy);
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_EQ(r[L"progress"], L"10000");
    EXPECT_EQ(r[L"progressSeen"], L",0,5000,9999,10000");
    EXPECT_EQ(r[L"statuses"], L"|正在卸载文件...|卸载完成");
    EXPECT_TRUE(EntryValues().empty());
    EXPECT_FALSE(Exists(root + L"\\game"));
    EXPECT_FALSE(Exists(root + L"\\game.new"));
    EXPECT_FALSE(Exists(root + L"\\game.old"));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_FALSE(Exists(StartMenuShortcut()));
    EXPECT_EQ(ReadFileBytes(root + L"\\player-notes.txt"), "keep");
    // The launcher's own file goes shortly after its process has ended.
    for (int i = 0; i < 100 && Exists(copy); ++i) Sleep(100);
    EXPECT_FALSE(Exists(copy));
    EXPECT_TRUE(IsDirectory(root));
}

TEST_F(InstallTest, UninstallWithoutEntryUsesTheDefaultInstallRoot) {
    wchar_t* roaming = nullptr;
    SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming);
    const std::wstring defaultGame = std::wstring(roaming) + L"\\Larkvane\\Vantrel\\game";
    CoTaskMemFree(roaming);
    CreateDirectoryTree(defaultGame);
    WriteFileBytes(defaultGame + L"\\Vantrel.exe", "x");
    CreateDirectoryTree(root + L"\\game");
    auto r = Uninstall(runner, L"--unset-comspec");
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_EQ(r[L"progress"], L"10000");
    EXPECT_FALSE(Exists(defaultGame));
    EXPECT_TRUE(IsDirectory(root + L"\\game"));  // not registered, not touched
    // No interpreter named: none was started, and nothing deletes the launcher.
    EXPECT_FALSE(IsProcessRunning(L"cmd.exe", 0));
    EXPECT_TRUE(Exists(runner));
}

TEST_F(InstallTest, UninstallRefusesWhileTheGameRuns) {
    ASSERT_EQ(Register(runner), 0u);
    CreateDirectoryTree(root + L"\\game");
    CopyFileW(HelperProgram(L"sleeper.exe").c_str(), (root + L"\\game\\Vantrel.exe").c_str(), FALSE);
    ChildProcess game(root + L"\\game\\Vantrel.exe", L"60000");
    ASSERT_TRUE(game.Started());
    auto r = Uninstall(root + L"\\QuenbySkirmora.exe");
    EXPECT_EQ(r[L"result"], L"-10004");
    EXPECT_EQ(r[L"progress"], L"0");
    EXPECT_EQ(r[L"status"], L"正在卸载文件...");
    EXPECT_EQ(EntryValues().size(), 7u);
    EXPECT_TRUE(Exists(root + L"\\game\\Vantrel.exe"));
    EXPECT_TRUE(Exists(DesktopShortcut()));
    game.Kill();
}

TEST(SelfDeletionParameters, TheInterpreterDeletesOnlyTheNamedFileWhateverItsFolderHolds) {
    EXPECT_EQ(SelfDeletionParameters(), L"/d /v:off /c del \"%QUENBY_SELF_DELETE%\" > nul");
    wchar_t interpreter[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"COMSPEC", interpreter, MAX_PATH), 0u);
    TempDir dir;
    // Folder names the interpreter would expand, split or treat as commands if they reached its
    // command line; beside each launcher lies a file that must stay.
    const wchar_t* folders[] = {L"100% sure", L"%PATH%", L"%COMSPEC%x", L"a^b", L"x & del y", L"wow!",
                                L"!PATH!", L"it's (x)", L"two  blanks"};
    for (const wchar_t* folder : folders) {
        SCOPED_TRACE(Narrow(folder));
        const std::wstring parent = dir / folder;
        ASSERT_TRUE(CreateDirectoryTree(parent));
        const std::wstring own = parent + L"\\QuenbySkirmora.exe";
        WriteFileBytes(own, "launcher");
        WriteFileBytes(parent + L"\\y", "stays");
        WriteFileBytes(dir / L"y", "stays");
        // As the launcher starts it: in the launcher's folder, the file's name in the variable.
        ASSERT_TRUE(SetEnvironmentVariableW(SELF_DELETION_VARIABLE, L"QuenbySkirmora.exe"));
        std::wstring commandLine = L"\"" + std::wstring(interpreter) + L"\" " + SelfDeletionParameters();
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(interpreter, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   parent.c_str(), &startup, &info));
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        EXPECT_FALSE(Exists(own));
        EXPECT_EQ(ReadFileBytes(parent + L"\\y"), "stays");
        EXPECT_EQ(ReadFileBytes(dir / L"y"), "stays");
    }
    SetEnvironmentVariableW(SELF_DELETION_VARIABLE, nullptr);
}

TEST_F(InstallTest, UninstallFromARootWithCharactersTheInterpreterWouldExpandDeletesOnlyTheLauncher) {
    root = dir / L"Games 100% ^& %PATH% !x! (1)";
    CreateDirectoryTree(root);
    ASSERT_EQ(Register(runner), 0u);
    const std::wstring copy = root + L"\\QuenbySkirmora.exe";
    ASSERT_TRUE(Exists(copy));
    WriteFileBytes(root + L"\\mine.txt", "the player's");
    auto r = Uninstall(copy);
    EXPECT_EQ(r[L"result"], L"0");
    for (int i = 0; i < 100 && Exists(copy); ++i) Sleep(100);
    EXPECT_FALSE(Exists(copy));
    EXPECT_EQ(ReadFileBytes(root + L"\\mine.txt"), "the player's");
}

TEST_F(InstallTest, StandardUserGetsTheEntryAndShortcutInTheirOwnPlacesAndCanUninstall) {
    ASSERT_EQ(Register(runner, L"--standard-user"), 0u);
    const std::wstring copy = root + L"\\QuenbySkirmora.exe";
    EXPECT_TRUE(EntryValues(HKEY_LOCAL_MACHINE).empty());
    auto values = EntryValues(HKEY_CURRENT_USER);
    EXPECT_EQ(values.size(), 7u);
    EXPECT_EQ(values[L"DisplayName"].text, L"QuenbySkirmora");
    EXPECT_EQ(values[L"UninstallString"].text, L"\"" + copy + L"\" -uninstall");
    EXPECT_EQ(values[L"InstallLocation"].text, root);
    EXPECT_EQ(values[L"NoModify"].number, 1u);
    EXPECT_EQ(LinkTarget(DesktopShortcut()), copy);
    EXPECT_FALSE(Exists(StartMenuShortcut()));
    EXPECT_EQ(LinkTarget(UserStartMenuShortcut()), copy);

    // Written once: a second registration changes nothing, and never adds a machine-wide entry.
    WriteFileBytes(root + L"\\marker", "x");
    RegSetKeyValueW(HKEY_CURRENT_USER, UninstallKeyPath().c_str(), L"Publisher", REG_SZ, L"changed", 16);
    ASSERT_EQ(Register(copy), 0u);
    EXPECT_TRUE(EntryValues(HKEY_LOCAL_MACHINE).empty());
    EXPECT_EQ(EntryValues(HKEY_CURRENT_USER)[L"Publisher"].text, L"changed");

    CreateDirectoryTree(root + L"\\game\\data");
    WriteFileBytes(root + L"\\game\\data\\level.map", "x");
    auto r = Uninstall(copy, L"--standard-user");
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_TRUE(EntryValues(HKEY_CURRENT_USER).empty());
    EXPECT_FALSE(Exists(root + L"\\game"));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_FALSE(Exists(UserStartMenuShortcut()));
    for (int i = 0; i < 100 && Exists(copy); ++i) Sleep(100);
    EXPECT_FALSE(Exists(copy));
}

TEST_F(InstallTest, MachineWidePlacesComeFirstWhereWritable) {
    ASSERT_EQ(Register(runner), 0u);
    EXPECT_EQ(EntryValues(HKEY_LOCAL_MACHINE).size(), 7u);
    EXPECT_TRUE(EntryValues(HKEY_CURRENT_USER).empty());
    EXPECT_TRUE(Exists(StartMenuShortcut()));
    EXPECT_FALSE(Exists(UserStartMenuShortcut()));
}
