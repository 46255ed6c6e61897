// The Windows parts of the settings store: the registry backend, the executable's name and
// the profile functions' limits. The INI file's reading rules are checked by the portable
// settings tests, which run on these functions here.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/ini_backends.h"
#include "settings/platform.h"
#include "settings/ui_reg_ini_file.h"

namespace settings {
namespace {

// A fresh key below HKEY_CURRENT_USER\Software\Temp, removed afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    keyPath_ = std::string("Software\\Temp\\loader-test-") + info->name() + "-" +
               std::to_string(GetCurrentProcessId());
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str()); }

  std::unique_ptr<TRegistryIniFile> Open(std::uint32_t access = KEY_ALL_ACCESS) {
    auto reg = std::make_unique<TRegistryIniFile>("", access);
    reg->OpenRoot(hkeyCurrentUser, "\\" + keyPath_);
    return reg;
  }

  std::string keyPath_;
};

TEST_F(RegistryTest, WritesSectionsAsSubkeysAndKeysAsStringValues) {
  auto reg = Open();
  reg->WriteText("PortName", "Name", "COM3");
  reg->WriteText("PortName", "Other", "x");
  reg->WriteText("PortName", "Name", "COM12");
  EXPECT_EQ(reg->ReadText("PortName", "Name", "COM1"), "COM12");
  std::vector<std::string> keys{"stale"};
  reg->ListKeys("PortName", keys);
  EXPECT_EQ(keys, (std::vector<std::string>{"Name", "Other"}));
  EXPECT_TRUE(reg->SectionHasKeys("PortName"));

  // Stored where the backend says: a REG_SZ value in a subkey of the opened key.
  char buf[64] = {};
  DWORD size = sizeof buf;
  DWORD type = 0;
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, (keyPath_ + "\\PortName").c_str(), "Name", RRF_RT_ANY,
                         &type, buf, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(buf, "COM12");
}

TEST_F(RegistryTest, MissingSectionOrKeyGivesTheFallback) {
  auto reg = Open();
  EXPECT_EQ(reg->ReadText("PortName", "Name", "COM1"), "COM1");
  EXPECT_FALSE(reg->SectionHasKeys("PortName"));
  reg->WriteText("PortName", "Other", "x");
  EXPECT_EQ(reg->ReadText("PortName", "Name", "COM1"), "COM1");
  std::vector<std::string> keys{"stale"};
  reg->ListKeys("FileName", keys);
  EXPECT_TRUE(keys.empty());
}

TEST_F(RegistryTest, EmptyAndLongValuesReadBackWhole) {
  auto reg = Open();
  reg->WriteText("S", "empty", "");
  const std::string longValue(5000, 'v');
  reg->WriteText("S", "long", longValue);
  EXPECT_EQ(reg->ReadText("S", "empty", "fallback"), "");
  EXPECT_EQ(reg->ReadText("S", "long", ""), longValue);
}

TEST_F(RegistryTest, ValueEndsAtItsFirstZeroByte) {
  auto reg = Open();
  reg->WriteText("S", "k", "x");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (keyPath_ + "\\S").c_str(), 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  const char data[] = "ab\0cd";
  RegSetValueExA(key, "k", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
  RegCloseKey(key);
  EXPECT_EQ(reg->ReadText("S", "k", ""), "ab");
}

TEST_F(RegistryTest, NonStringValueRaisesInvalidDataType) {
  auto reg = Open();
  reg->WriteText("S", "k", "x");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (keyPath_ + "\\S").c_str(), 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  const DWORD number = 7;
  RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);
  try {
    reg->ReadText("S", "n", "");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'n'");
  }
}

TEST_F(RegistryTest, SubkeyThatCannotBeCreatedRaisesFailedToCreateKey) {
  auto reg = Open();
  // The opened key is deleted behind the backend's back: nothing can be created below it.
  ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str()), ERROR_SUCCESS);
  try {
    reg->WriteText("PortName", "Name", "COM3");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to create key PortName");
  }
}

TEST_F(RegistryTest, RefusedValueRaisesFailedToSetData) {
  Open()->WriteText("PortName", "Name", "COM3");
  auto reg = Open(KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS);
  try {
    reg->WriteText("PortName", "Name", "COM4");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Name'");
  }
  EXPECT_EQ(reg->ReadText("PortName", "Name", ""), "COM3");
}

TEST_F(RegistryTest, StoreOnTheRegistryBackend) {
  TUiRegIniFile store;
  store.SetPathType(ptRegistry);
  store.SetPath("\\" + keyPath_);
  EXPECT_FALSE(store.SectionHasKeys("PortName"));
  store.WriteText("PortName", "Name", "COM7");
  EXPECT_TRUE(store.SectionHasKeys("PortName"));
  EXPECT_EQ(store.ReadText("PortName", "Name", "COM1"), "COM7");
}

TEST(ExePathWin32, IsThisProgramsFullName) {
  const std::string exe = ExecutablePath();
  ASSERT_GT(exe.size(), 3u);
  EXPECT_EQ(exe[1], ':');
  EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
  EXPECT_NE(exe.find("win32_layers_test"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(exe));
}

TEST(ExePathWin32, StoreDefaultsToTheExecutablesIniFile) {
  TUiRegIniFile store;
  store.ReadText("PortName", "Name", "COM1");
  ASSERT_NE(store.ActiveBackend(), nullptr);
  const std::string exe = ExecutablePath();
  EXPECT_EQ(store.ActiveBackend()->FileName(), exe.substr(0, exe.size() - 4) + ".ini");
}

// The user's own file stays his, also marked read-only; a missing one is not his to write.
TEST(IniFileWin32, FileWritableForTheUsersOwnFileAlsoReadOnly) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "loader-own.ini";
  EXPECT_FALSE(FileWritable(file.string()));
  TIniFile(file.string()).WriteText("PortName", "Name", "COM3");
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(FileWritable(file.string()));
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::filesystem::remove(file);
}

TEST(IniFileWin32, RefusedWriteRaisesUnableToWrite) {
  // A folder that does not exist: the profile functions do not create folders.
  const std::string path =
      (std::filesystem::temp_directory_path() / "no-such-folder-7f3e" / "x.ini").string();
  TIniFile ini(path);
  try {
    ini.WriteText("PortName", "Name", "COM3");
    FAIL() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  // The backend stays usable.
  EXPECT_EQ(ini.ReadText("PortName", "Name", "COM1"), "COM1");
}

}  // namespace
}  // namespace settings
