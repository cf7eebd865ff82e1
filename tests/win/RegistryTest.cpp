#include "platform/win/Registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/win/RegistryKey.h"
#include "platform/win/RegistryStore.h"
#include "tests/support/TempDir.h"

namespace {

using reel::RegistryKey;
using reel::test::ReadFile;
using reel::test::TempDir;
using reel::test::WriteFile;

// Gives each test a registry file of its own.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::getenv("REELPRESS_REGISTRY") ? std::getenv("REELPRESS_REGISTRY") : "";
    UseFile(file_);
  }
  void TearDown() override { setenv("REELPRESS_REGISTRY", saved_.c_str(), 1); }
  static void UseFile(const std::string& path) { setenv("REELPRESS_REGISTRY", path.c_str(), 1); }

  static HKEY Create(HKEY parent, const char* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                              disposition),
              ERROR_SUCCESS)
        << path;
    return key;
  }
  static LONG SetString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  }
  static LONG SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  static std::string QueryString(HKEY key, const char* name) {
    char buffer[1024];
    DWORD type = 0, size = sizeof(buffer);
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(buffer[size - 1], '\0');
    return std::string(buffer, size > 0 ? size - 1 : 0);
  }

  TempDir dir_;
  std::string file_ = (dir_ / "config/registry").string();
  std::string saved_;
};

TEST_F(RegistryTest, CreatesOpensSetsAndQueries) {
  DWORD disposition = 0;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Apple Computer, Inc.\\QuickTime", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_TRUE(std::filesystem::exists(file_));  // folders made as needed
  HKEY again = Create(HKEY_LOCAL_MACHINE, "Software\\Apple Computer, Inc.\\QuickTime\\", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  ASSERT_EQ(SetString(key, "QTSysDir", "/opt/qt/system"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "Count", 42), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(again, "QTSysDir"), "/opt/qt/system");

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "QTSysDir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 15u);  // the NUL counts
  char small[4] = "###";
  size = sizeof(small);
  EXPECT_EQ(RegQueryValueExA(key, "QTSysDir", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 15u);
  EXPECT_EQ(type, REG_SZ);

  DWORD count = 0;
  size = sizeof(count);
  EXPECT_EQ(RegQueryValueExA(key, "count", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(count, 42u);
  EXPECT_EQ(SetDword(key, "Count", 7), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(again, "Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 7u);

  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\apple computer, inc.\\quicktime", 0, KEY_READ, &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(opened, "qtsysdir"), "/opt/qt/system");
  for (HKEY handle : {key, again, opened}) EXPECT_EQ(RegCloseKey(handle), ERROR_SUCCESS);
}

TEST_F(RegistryTest, StringsComeBackTerminatedWhateverSizeTheWriterGave) {
  HKEY key = Create(HKEY_CLASSES_ROOT, "Media Type\\Extensions\\.mov");
  const std::string clsid = "{08DA8C2F-9B4A-4E7E-8A4B-7F3C0D2E1A55}";
  ASSERT_EQ(clsid.size(), 38u);
  // The writer counts the 38 characters without their terminator.
  ASSERT_EQ(RegSetValueExA(key, "Source Filter", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.data()), 38),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Source Filter", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 39u);
  EXPECT_EQ(QueryString(key, "Source Filter"), clsid);

  // Text stops at an embedded NUL.
  ASSERT_EQ(RegSetValueExA(key, "cut", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0cd"), 6), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "cut"), "ab");
  // A DWORD is four bytes exactly.
  EXPECT_EQ(RegSetValueExA(key, "bad", 0, REG_DWORD, reinterpret_cast<const BYTE*>("ab"), 2),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "bad", 0, REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryTest, MissingThingsAnswerFileNotFound) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nothing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(std::filesystem::exists(file_));  // reading creates nothing

  key = Create(HKEY_CURRENT_USER, "Software\\Reelpress");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(key, "absent"), ERROR_FILE_NOT_FOUND);

  // The default value: NULL and "" name the same value.
  ASSERT_EQ(SetString(key, nullptr, "default text"), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, ""), "default text");
  ASSERT_EQ(SetString(key, "", "changed"), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, nullptr), "changed");
  EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirSpelling) {
  HKEY key = Create(HKEY_CLASSES_ROOT, "Media Type\\Extensions\\.MOV");
  HKEY same = Create(HKEY_CLASSES_ROOT, "MEDIA TYPE\\extensions\\.mov");
  ASSERT_EQ(SetString(key, "Source Filter", "one"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(same, "SOURCE FILTER", "two"), ERROR_SUCCESS);

  RegistryKey extensions = RegistryKey::Open(HKEY_CLASSES_ROOT, "media type\\extensions");
  ASSERT_TRUE(extensions);
  EXPECT_EQ(extensions.SubKeyNames(), std::vector<std::string>{".MOV"});
  RegistryKey mov = RegistryKey::Open(HKEY_CLASSES_ROOT, "Media Type\\Extensions\\.mov");
  EXPECT_EQ(mov.ValueNames(), std::vector<std::string>{"Source Filter"});
  EXPECT_EQ(mov.String("source filter"), "two");
  RegCloseKey(key);
  RegCloseKey(same);
}

TEST_F(RegistryTest, DeletesKeysValuesAndTrees) {
  HKEY top = Create(HKEY_CURRENT_USER, "Top");
  RegCloseKey(Create(top, "Middle\\Leaf"));
  ASSERT_EQ(SetString(top, "v", "x"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(top, "Middle"), ERROR_ACCESS_DENIED);  // it has a sub-key
  EXPECT_EQ(RegDeleteKeyA(top, "middle\\LEAF"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(top, "Middle"), ERROR_SUCCESS);
  EXPECT_TRUE(RegistryKey::Open(top, "").SubKeyNames().empty());
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a root stays

  RegCloseKey(Create(top, "A\\B\\C"));
  RegCloseKey(Create(top, "D"));
  EXPECT_EQ(RegDeleteTreeA(top, "A"), ERROR_SUCCESS);
  EXPECT_EQ(RegistryKey::Open(top, "").SubKeyNames(), std::vector<std::string>{"D"});
  EXPECT_EQ(RegDeleteTreeA(top, "A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(top, nullptr), ERROR_SUCCESS);  // empties the key, keeps it
  RegistryKey emptied = RegistryKey::Open(HKEY_CURRENT_USER, "Top");
  ASSERT_TRUE(emptied);
  EXPECT_TRUE(emptied.SubKeyNames().empty());
  EXPECT_TRUE(emptied.ValueNames().empty());
  RegCloseKey(top);
}

TEST_F(RegistryTest, HandlesOfDeletedKeysAnswerKeyDeleted) {
  HKEY key = Create(HKEY_CURRENT_USER, "Gone\\Soon");
  ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Gone"), ERROR_SUCCESS);
  DWORD size = 0;
  char name[32];
  DWORD nameSize = sizeof(name);
  HKEY child = nullptr;
  EXPECT_EQ(SetString(key, "v", "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyA(key, "Child", &child), ERROR_KEY_DELETED);
  EXPECT_FALSE(RegistryKey::Open(HKEY_CURRENT_USER, "Gone"));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, BadHandlesAndPathsAreRefused) {
  HKEY key = Create(HKEY_CURRENT_USER, "K");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(key, "v", "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(reinterpret_cast<HKEY>(0x1234567), "v", "x"), ERROR_INVALID_HANDLE);

  HKEY result = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "\\leading", &result), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "a\\\\b", &result), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, std::string(256, 'n').c_str(), &result), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "ok", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, EnumeratesLikeWindows) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Enum");
  for (const char* name : {"zeta", "Alpha", "beta", "Gamma"}) RegCloseKey(Create(key, name));
  for (const char* name : {"second", "First", "third"}) ASSERT_EQ(SetString(key, name, name), ERROR_SUCCESS);

  // Sub-keys in name order without regard to case; values in creation order.
  EXPECT_EQ(RegistryKey::Open(key, "").SubKeyNames(), (std::vector<std::string>{"Alpha", "beta", "Gamma", "zeta"}));
  EXPECT_EQ(RegistryKey::Open(key, "").ValueNames(), (std::vector<std::string>{"second", "First", "third"}));

  char name[8];
  DWORD nameSize = 3;  // "Alpha" needs 6
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  nameSize = sizeof(name);
  char className[4] = "###";
  DWORD classSize = sizeof(className);
  FILETIME written {1, 1};
  EXPECT_EQ(RegEnumKeyExA(key, 3, name, &nameSize, nullptr, className, &classSize, &written), ERROR_SUCCESS);
  EXPECT_STREQ(name, "zeta");
  EXPECT_EQ(nameSize, 4u);  // characters, without the NUL
  EXPECT_EQ(classSize, 0u);
  nameSize = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(key, 4, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  char data[4];
  DWORD type = 0, dataSize = sizeof(data);
  nameSize = sizeof(name);
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 7u);  // "second" and its NUL
  nameSize = sizeof(name);
  dataSize = 0;
  EXPECT_EQ(RegEnumValueA(key, 1, name, &nameSize, nullptr, &type, nullptr, &dataSize), ERROR_SUCCESS);
  EXPECT_STREQ(name, "First");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(dataSize, 6u);
  nameSize = sizeof(name);
  EXPECT_EQ(RegEnumValueA(key, 3, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ValuesSurviveAFreshLoadOfTheFile) {
  const std::string awkward = "quote \" backslash \\ tab \t newline \n percent % bracket ] é";
  {
    RegistryKey key = RegistryKey::Create(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32");
    ASSERT_TRUE(key);
    ASSERT_EQ(key.SetString("", "/opt/reelpress/libclipmill.so"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("ThreadingModel", "Apartment"), ERROR_SUCCESS);
    RegistryKey odd = RegistryKey::Create(HKEY_CURRENT_USER, "odd % name ] [x] \"q\"\\child");
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd.SetString(awkward, awkward), ERROR_SUCCESS);
    ASSERT_EQ(odd.SetDword("n", 0xDEADBEEF), ERROR_SUCCESS);
    const BYTE blob[] = {0, 1, 0xFF, '\n'};
    ASSERT_EQ(RegSetValueExA(odd.handle(), "blob", 0, REG_BINARY, blob, sizeof(blob)), ERROR_SUCCESS);
  }
  // A copy of the file read by a store that has never seen it.
  const std::string copy = (dir_ / "copy").string();
  std::filesystem::copy_file(file_, copy);
  UseFile(copy);
  RegistryKey server = RegistryKey::Open(HKEY_CLASSES_ROOT, "clsid\\{abc}\\inprocserver32");
  ASSERT_TRUE(server);
  EXPECT_EQ(server.String(), "/opt/reelpress/libclipmill.so");
  EXPECT_EQ(server.String("ThreadingModel"), "Apartment");
  RegistryKey odd = RegistryKey::Open(HKEY_CURRENT_USER, "odd % name ] [x] \"q\"\\child");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd.String(awkward), awkward);
  EXPECT_EQ(odd.Dword("n"), 0xDEADBEEFu);
  BYTE blob[8];
  DWORD type = 0, size = sizeof(blob);
  ASSERT_EQ(RegQueryValueExA(odd.handle(), "blob", nullptr, &type, blob, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(blob), size), std::string("\0\1\xFF\n", 4));
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, "").SubKeyNames(), std::vector<std::string>{"odd % name ] [x] \"q\""});
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kKeys = 100;
  RegCloseKey(Create(HKEY_CURRENT_USER, "Shared"));  // the parent process has the tree loaded
  // The children start together: both wait until the parent closes the pipe.
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      close(start[1]);
      char ignored;
      (void)!read(start[0], &ignored, 1);
      bool ok = true;
      for (int i = 0; i < kKeys; ++i) {
        const std::string path = "Shared\\P" + std::to_string(child) + "_" + std::to_string(i);
        RegistryKey key = RegistryKey::Create(HKEY_CURRENT_USER, path);
        ok = key && key.SetDword("i", static_cast<DWORD>(i)) == ERROR_SUCCESS && ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  close(start[0]);
  close(start[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegistryKey shared = RegistryKey::Open(HKEY_CURRENT_USER, "Shared");
  EXPECT_EQ(shared.SubKeyNames().size(), 2u * kKeys);
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, "Shared\\P1_59").Dword("i"), 59u);
}

TEST_F(RegistryTest, ThreadsWritingAtOnceLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) {
        RegistryKey key = RegistryKey::Create(HKEY_CURRENT_USER, "T\\" + std::to_string(t) + "_" + std::to_string(i));
        key.SetString("v", "x");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, "T").SubKeyNames().size(), 40u);
}

TEST_F(RegistryTest, DamagedFilesAreSalvagedAndKept) {
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
  const std::string damaged = std::string(
                                  "REELPRESS REGISTRY 1\n"
                                  "[HKEY_CURRENT_USER\\Good]\n"
                                  "\"kept\"=sz:\"yes\"\n"
                                  "\"broken\"=sz:\"no closing quote\n"
                                  "garbage line\n"
                                  "[HKEY_NOWHERE\\Bad]\n"
                                  "\"lost\"=dword:1\n") +
                              std::string("\x01\x02\0\xFF binary\n", 12) +
                              "[HKEY_CURRENT_USER\\Good\\Child]\n"
                              "\"n\"=dword:0000000a\n"
                              "\"cut\"=dword:123456789\n"
                              "[HKEY_CURRENT_USER\\Trunc";
  WriteFile(file_, damaged);
  testing::internal::CaptureStderr();
  RegistryKey good = RegistryKey::Open(HKEY_CURRENT_USER, "Good");
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("damaged"), std::string::npos) << warning;
  ASSERT_TRUE(good);
  EXPECT_EQ(good.String("kept"), "yes");
  EXPECT_EQ(good.String("broken"), std::nullopt);
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, "Good\\Child").Dword("n"), 10u);
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, "Good\\Child").Dword("cut"), std::nullopt);
  EXPECT_EQ(ReadFile(file_), damaged);  // reading changes nothing

  // The first write keeps the damaged file beside the new one.
  ASSERT_EQ(good.SetString("new", "value"), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(file_ + ".damaged"), damaged);
  const std::string copy = (dir_ / "reloaded").string();
  std::filesystem::copy_file(file_, copy);
  UseFile(copy);
  testing::internal::CaptureStderr();
  RegistryKey reloaded = RegistryKey::Open(HKEY_CURRENT_USER, "Good");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the rewritten file is clean
  EXPECT_EQ(reloaded.String("kept"), "yes");
  EXPECT_EQ(reloaded.String("new"), "value");
}

TEST_F(RegistryTest, AStoreThatCannotBeReadFailsCleanly) {
  // A folder where the file should be: nothing reads, and writes fail
  // instead of destroying what is there.
  std::filesystem::create_directories(file_);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RegistryKey::Open(HKEY_CURRENT_USER, "Any").status(), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot be read"), std::string::npos);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RegistryKey::Create(HKEY_CURRENT_USER, "Any").status(), ERROR_ACCESS_DENIED);
  (void)testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::filesystem::is_directory(file_));
}

TEST(RegistryParseTest, HostileTextNeverBreaksTheParser) {
  reel::registry::Tree tree;
  auto& key = *(tree.roots[1].children["a"] = std::make_unique<reel::registry::Key>());
  key.name = "A";
  key.values.push_back({"s", REG_SZ, "text \"q\" \\ \x01"});
  key.values.push_back({"d", REG_DWORD, std::string("\x2a\0\0\0", 4)});
  key.values.push_back({"b", REG_BINARY, std::string("\0\xff", 2)});
  const std::string valid = reel::registry::Serialize(tree);
  int damagedLines = -1;
  const reel::registry::Tree back = reel::registry::Parse(valid, damagedLines);
  EXPECT_EQ(damagedLines, 0);
  EXPECT_EQ(reel::registry::Serialize(back), valid);

  // Every truncation, then random damage.
  for (size_t length = 0; length < valid.size(); ++length) {
    (void)reel::registry::Parse(std::string_view(valid).substr(0, length), damagedLines);
  }
  std::mt19937 random(99);
  for (int round = 0; round < 3000; ++round) {
    std::string text = valid;
    for (int edits = 1 + static_cast<int>(random() % 4); edits > 0; --edits) {
      text[random() % text.size()] = static_cast<char>(random());
    }
    const reel::registry::Tree parsed = reel::registry::Parse(text, damagedLines);
    int again = -1;
    (void)reel::registry::Parse(reel::registry::Serialize(parsed), again);
    EXPECT_EQ(again, 0) << "what we write we must read back";
  }
}

TEST_F(RegistryTest, ConvenienceLayerAnswersByType) {
  RegistryKey missing = RegistryKey::Open(HKEY_CURRENT_USER, "None");
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.status(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.String("x"), std::nullopt);
  EXPECT_EQ(missing.SetString("x", "y"), ERROR_INVALID_HANDLE);

  RegistryKey key = RegistryKey::Create(HKEY_CURRENT_USER, "Typed");
  ASSERT_TRUE(key);
  ASSERT_EQ(key.SetString("text", std::string(3000, 't')), ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("number", 5), ERROR_SUCCESS);
  EXPECT_EQ(key.String("text"), std::string(3000, 't'));
  EXPECT_EQ(key.Dword("text"), std::nullopt);    // wrong type
  EXPECT_EQ(key.String("number"), std::nullopt);  // wrong type
  EXPECT_EQ(key.Dword("number"), 5u);
  EXPECT_EQ(key.DeleteValue("number"), ERROR_SUCCESS);
  EXPECT_EQ(key.Dword("number"), std::nullopt);

  HKEY handle = key.handle();
  RegistryKey moved = std::move(key);
  EXPECT_FALSE(key);
  EXPECT_EQ(moved.handle(), handle);
  moved = RegistryKey();
  EXPECT_EQ(RegCloseKey(handle), ERROR_INVALID_HANDLE);  // closed by the move-assignment
}

}  // namespace
