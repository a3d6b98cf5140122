// Tests of the settings store: which file is read and written, the reading rules, the exact
// bytes of "pemo.ini", and junk.
#include "model/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "model/stdio_file_ex.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"
#include "support/test_user_store.h"
#include "sync/worker_pool.h"

namespace {

struct Store {
    TempDir dir;
    std::string iniDir = dir / "program";
    std::string userPath = dir / "config/Vexal/pemo.conf";
    RecordingMessagePort port;
    Store() { MakeDirectories(iniDir); }
    std::string Ini() const { return iniDir + "/pemo.ini"; }
    Settings Load(Settings s = Settings()) {
        LoadSettings(s, iniDir, userPath, port, NativeFileSystem());
        return s;
    }
    bool Save(const Settings& s) { return SaveSettings(s, iniDir, userPath, port, NativeFileSystem()); }
};

Settings Custom() {
    Settings s;
    s.compactView = true;
    s.countAtStart = true;
    s.windowWidth = 812;
    s.windowHeight = 604;
    s.stayAwakeMethod = 2;
    s.debug = true;
    s.emptyGuard = false;
    return s;
}

void ExpectSame(const Settings& a, const Settings& b) {
    EXPECT_EQ(a.compactView, b.compactView);
    EXPECT_EQ(a.countAtStart, b.countAtStart);
    EXPECT_EQ(a.windowWidth, b.windowWidth);
    EXPECT_EQ(a.windowHeight, b.windowHeight);
    EXPECT_EQ(a.stayAwakeMethod, b.stayAwakeMethod);
    EXPECT_EQ(a.debug, b.debug);
    EXPECT_EQ(a.emptyGuard, b.emptyGuard);
}

#ifndef _WIN32
TEST(Settings, NoStoreGivesDefaultsAndSaveCreatesTheUserFile) {
    Store store;
    Settings loaded = store.Load(Custom());
    ExpectSame(loaded, Custom()); // nothing read: the current values stay
    EXPECT_FALSE(loaded.useIniFile);
    ASSERT_TRUE(store.Save(Settings()));
    EXPECT_EQ(ReadFileBytes(store.userPath),
              "compactview=0\ncountatstart=0\nwidth=-1\nheight=-1\nstayawakemethod=1\ndebug=0\nemptyguard=1\n");
    EXPECT_FALSE(FileExists(store.Ini()));
    ASSERT_TRUE(store.Save(Custom()));
    ExpectSame(store.Load(), Custom());
    EXPECT_EQ(ListDirectory(store.dir / "config/Vexal"), std::vector<std::string>{"pemo.conf"});
}
#endif

TEST(Settings, EmptyIniFileIsUsedAndWrittenAsUtf16) {
    Store store;
    WriteFileBytes(store.Ini(), "");
    Settings loaded = store.Load();
    ExpectSame(loaded, Settings());
    EXPECT_TRUE(loaded.useIniFile);
    loaded.windowWidth = 800;
    ASSERT_TRUE(store.Save(loaded));
    EXPECT_EQ(ReadFileBytes(store.Ini()),
              "\xFF\xFE" + Utf8ToUtf16Le("compactview=0\r\ncountatstart=0\r\nwidth=800\r\nheight=-1\r\n"
                                         "stayawakemethod=1\r\ndebug=0\r\nemptyguard=1\r\n"));
    EXPECT_FALSE(FileExists(store.userPath));
    EXPECT_EQ(store.Load().windowWidth, 800);
}

TEST(Settings, IniFileWinsOverTheUserStore) {
    Store store;
    MakeDirectories(store.dir / "config/Vexal");
    const std::string user = "width=1000\nheight=900\ndebug=1\n";
    WriteFileBytes(store.userPath, user);
    WriteFileBytes(store.Ini(), "height=300\r\n");
    Settings loaded = store.Load();
    EXPECT_TRUE(loaded.useIniFile);
    EXPECT_EQ(loaded.windowHeight, 300);
    EXPECT_EQ(loaded.windowWidth, -1);
    EXPECT_FALSE(loaded.debug);
    Settings custom = Custom();
    custom.useIniFile = true;
    ASSERT_TRUE(store.Save(custom));
    EXPECT_EQ(ReadFileBytes(store.userPath), user);
    ExpectSame(store.Load(), Custom());
}

TEST(Settings, IniReadingRules) {
    Store store;
    WriteFileBytes(store.Ini(), "Debug=1\nwidth=800px\nheight=abc\ncompactview=2\ncountatstart=1\n"
                                "stayawakemethod= 0\nstayawakemethod=2\n width=5\nwidth\n=1\n");
    Settings loaded = store.Load();
    EXPECT_FALSE(loaded.debug);
    EXPECT_EQ(loaded.windowWidth, 800);
    EXPECT_EQ(loaded.windowHeight, 0);
    EXPECT_FALSE(loaded.compactView);
    EXPECT_TRUE(loaded.countAtStart);
    EXPECT_EQ(loaded.stayAwakeMethod, 2);
    WriteFileBytes(store.Ini(), "\xFF\xFE" + Utf8ToUtf16Le("debug=1\r\nwidth=640"));
    loaded = store.Load();
    EXPECT_TRUE(loaded.debug);
    EXPECT_EQ(loaded.windowWidth, 640);
}

#ifndef _WIN32
TEST(Settings, TheEmptyGuardIsOnUnlessStoredAsOff) {
    Store store;
    // Files written before the seventh setting existed keep it on.
    WriteFileBytes(store.Ini(), "debug=1\r\n");
    EXPECT_TRUE(store.Load().emptyGuard);
    WriteFileBytes(store.Ini(), "emptyguard=0\r\n");
    EXPECT_FALSE(store.Load().emptyGuard);
    WriteFileBytes(store.Ini(), "emptyguard=2\r\n");
    EXPECT_FALSE(store.Load().emptyGuard) << "only 1 is true";
    WriteFileBytes(store.Ini(), "EmptyGuard=0\r\nemptyguard=1\r\n");
    EXPECT_TRUE(store.Load().emptyGuard);
    ::remove(store.Ini().c_str());
    MakeDirectories(store.dir / "config/Vexal");
    WriteFileBytes(store.userPath, "emptyguard=0\n");
    EXPECT_FALSE(store.Load().emptyGuard);
}
#endif

#ifndef _WIN32
TEST(Settings, TheThreadCountIsKeptOnlyWhenChosenAndBadValuesMeanTheDefault) {
    Store store;
    WriteFileBytes(store.Ini(), "threads=3\r\n");
    Settings loaded = store.Load();
    EXPECT_EQ(loaded.threads, 3);
    ASSERT_TRUE(store.Save(loaded));
    EXPECT_EQ(ReadFileBytes(store.Ini()),
              "\xFF\xFE" + Utf8ToUtf16Le("compactview=0\r\ncountatstart=0\r\nwidth=-1\r\nheight=-1\r\n"
                                         "stayawakemethod=1\r\ndebug=0\r\nemptyguard=1\r\nthreads=3\r\n"));
    for (const char* bad : {"threads=0\r\n", "threads=-2\r\n", "threads=65\r\n", "threads=many\r\n"}) {
        WriteFileBytes(store.Ini(), bad);
        Settings chosen;
        chosen.threads = 5;
        EXPECT_EQ(store.Load(chosen).threads, 0) << bad;
    }
    EXPECT_EQ(ThreadCountOf(0), DefaultThreadCount());
    EXPECT_EQ(ThreadCountOf(1), 1);
    EXPECT_EQ(ThreadCountOf(500), DefaultThreadCount());
    EXPECT_GE(DefaultThreadCount(), 1);
    ::remove(store.Ini().c_str());
    MakeDirectories(store.dir / "config/Vexal");
    WriteFileBytes(store.userPath, "threads=2\n");
    loaded = store.Load();
    EXPECT_EQ(loaded.threads, 2);
    loaded.threads = 0;
    ASSERT_TRUE(store.Save(loaded));
    EXPECT_EQ(ReadFileBytes(store.userPath).find("threads"), std::string::npos) << "the default is not written";
}
#endif

#ifndef _WIN32
TEST(Settings, UserStoreValuesHoldAtMostSevenCharacters) {
    Store store;
    MakeDirectories(store.dir / "config/Vexal");
    WriteFileBytes(store.userPath, "width=1234567\nheight=12345678\nstayawakemethod=0000002\n"
                                   "debug = 1\r\ncompactview=\ncountatstart=1=1\n");
    Settings loaded = store.Load();
    EXPECT_EQ(loaded.windowWidth, 1234567);
    EXPECT_EQ(loaded.windowHeight, -1);
    EXPECT_EQ(loaded.stayAwakeMethod, 2);
    EXPECT_TRUE(loaded.debug);
    EXPECT_FALSE(loaded.compactView);
    EXPECT_TRUE(loaded.countAtStart);
    EXPECT_FALSE(loaded.useIniFile);
}
#endif

TEST(Settings, JunkLoadsWithoutHarm) {
    Store store;
    std::string junk;
    for (int i = 0; i < 70000; ++i) {
        junk.push_back(static_cast<char>((i * 7919) % 251));
    }
    WriteFileBytes(store.Ini(), junk + "\nwidth=77\n");
    Settings loaded = store.Load();
    EXPECT_TRUE(loaded.useIniFile);
    EXPECT_EQ(loaded.windowWidth, 77);
    EXPECT_EQ(ReadFileBytes(store.Ini()), junk + "\nwidth=77\n");
}

TEST(Settings, FailedIniSaveIsReported) {
    Store store;
    const TestUserStore user(store.userPath);
    Settings s = Custom();
    s.useIniFile = true;
    EXPECT_FALSE(SaveSettings(s, store.dir / "gone", user.Path(), store.port, NativeFileSystem()));
    ASSERT_EQ(store.port.Messages().size(), 1u);
    EXPECT_EQ(store.port.Messages()[0],
              "Error saving pemo.ini\n\n" + (store.dir / "gone/pemo.ini") + " was not found.");
    EXPECT_FALSE(user.Exists()); // the other store is not used instead
}

#ifndef _WIN32
TEST(Settings, UserStorePathFollowsXdg) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    setenv("XDG_CONFIG_HOME", "/x/conf", 1);
    EXPECT_EQ(DefaultUserSettingsPath(), "/x/conf/Vexal/pemo.conf");
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultUserSettingsPath(), "/home/u/.config/Vexal/pemo.conf");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultUserSettingsPath(), "/home/u/.config/Vexal/pemo.conf");
    if (oldXdg) {
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    }
    EXPECT_EQ(IniFilePath(""), "pemo.ini");
    EXPECT_EQ(IniFilePath("/a/"), "/a/pemo.ini");
}
#endif

} // namespace
