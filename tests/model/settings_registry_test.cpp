// The per-user settings in the registry: a key of the test's own under HKEY_CURRENT_USER, so the
// user's real settings are never read or changed.
#include <gtest/gtest.h>

#include <string>

#include "model/settings.h"
#include "platform/process.h"
#include "platform/user_store.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"

namespace {

struct RegistryStore {
    TempDir dir;
    std::string key = "Software\\Vexal\\pemo-test-" + std::to_string(CurrentProcessId());
    RecordingMessagePort port;
    RegistryStore() { CUserStoreKey::Delete(key); }
    ~RegistryStore() { CUserStoreKey::Delete(key); }
    Settings Load(Settings s = Settings()) {
        LoadSettings(s, dir.Path(), key, port, NativeFileSystem());
        return s;
    }
    std::string Value(const char* name) const {
        std::string value = "(missing)";
        CUserStoreKey(key, false).Read(name, 100, value);
        return value;
    }
};

TEST(SettingsRegistry, SavedValuesReadBackAndOverlongOnesAreIgnored) {
    RegistryStore store;
    Settings saved;
    saved.compactView = true;
    saved.windowWidth = 812;
    saved.windowHeight = 604;
    saved.stayAwakeMethod = 2;
    saved.debug = true;
    ASSERT_TRUE(SaveSettings(saved, store.dir.Path(), store.key, store.port, NativeFileSystem()));
    EXPECT_EQ(store.Value("width"), "812");
    EXPECT_EQ(store.Value("compactview"), "1");
    EXPECT_FALSE(FileExists(store.dir / "pemo.ini"));

    const Settings loaded = store.Load();
    EXPECT_FALSE(loaded.useIniFile);
    EXPECT_TRUE(loaded.compactView);
    EXPECT_FALSE(loaded.countAtStart);
    EXPECT_EQ(loaded.windowWidth, 812);
    EXPECT_EQ(loaded.windowHeight, 604);
    EXPECT_EQ(loaded.stayAwakeMethod, 2);
    EXPECT_TRUE(loaded.debug);

    // Seven characters fit the store's field; eight leave the setting as it was.
    CUserStoreKey raw(store.key, true);
    ASSERT_TRUE(raw.Write("width", "1234567") && raw.Write("height", "12345678"));
    EXPECT_EQ(store.Load().windowWidth, 1234567);
    EXPECT_EQ(store.Load().windowHeight, -1);
}

TEST(SettingsRegistry, PemoIniWinsForReadingAndWriting) {
    RegistryStore store;
    Settings inRegistry;
    inRegistry.windowWidth = 800;
    ASSERT_TRUE(SaveSettings(inRegistry, store.dir.Path(), store.key, store.port, NativeFileSystem()));
    WriteFileBytes(store.dir / "pemo.ini", "width=640\r\n");

    Settings loaded = store.Load();
    EXPECT_TRUE(loaded.useIniFile);
    EXPECT_EQ(loaded.windowWidth, 640);
    loaded.windowWidth = 700;
    ASSERT_TRUE(SaveSettings(loaded, store.dir.Path(), store.key, store.port, NativeFileSystem()));
    EXPECT_EQ(store.Value("width"), "800");
    EXPECT_EQ(store.Load().windowWidth, 700);
}

} // namespace
