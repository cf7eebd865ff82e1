#include "platform/win/FileFind.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using reel::test::TempDir;
using reel::test::WriteFile;

struct Found {
  std::string name;
  DWORD attributes;
  ULONGLONG size;
};

// Every entry a pattern yields, in order; empty with the error when none.
std::vector<Found> FindAll(const std::string& pattern, DWORD* error = nullptr) {
  std::vector<Found> found;
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return found;
  }
  do {
    found.push_back({data.cFileName, data.dwFileAttributes,
                     (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
  } while (FindNextFileA(handle, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(handle));
  if (error) *error = ERROR_SUCCESS;
  return found;
}

std::vector<std::string> Names(const std::string& pattern) {
  std::vector<std::string> names;
  for (const Found& entry : FindAll(pattern)) names.push_back(entry.name);
  return names;
}

class FileFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "Blue.skn", "12345");
    WriteFile(dir_ / "apple.SKN", "");
    WriteFile(dir_ / "README", "no dot");
    WriteFile(dir_ / "notes.txt", "");
    WriteFile(dir_ / "a.sknx", "");
    std::filesystem::create_directory(dir_ / "Sub");
  }
  std::string Pattern(const std::string& tail) const { return (dir_.path() / tail).string(); }

  TempDir dir_;
};

struct PatternCase {
  const char* name;
  const char* pattern;
  std::vector<std::string> expected;
};
void PrintTo(const PatternCase& c, std::ostream* out) { *out << c.pattern; }

class FileFindPatterns : public FileFindTest, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(FileFindPatterns, MatchAndOrderAsOnWindows) { EXPECT_EQ(Names(Pattern(GetParam().pattern)), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Patterns, FileFindPatterns,
    ::testing::Values(
        PatternCase{"Star", "*", {".", "..", "a.sknx", "apple.SKN", "Blue.skn", "notes.txt", "README", "Sub"}},
        PatternCase{"StarDotStarAlsoMatchesNamesWithoutDot",
                    "*.*",
                    {".", "..", "a.sknx", "apple.SKN", "Blue.skn", "notes.txt", "README", "Sub"}},
        PatternCase{"ExtensionIgnoresCase", "*.skn", {"apple.SKN", "Blue.skn"}},
        PatternCase{"QuestionMarkIsOneCharacter", "?", {"."}},
        PatternCase{"QuestionMarksInName", "?ub", {"Sub"}},
        PatternCase{"PlainNameIgnoresCase", "readme", {"README"}},
        PatternCase{"NameDotStarMatchesTheBareName", "readme.*", {"README"}},
        PatternCase{"StarInTheMiddle", "b*n", {"Blue.skn"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(FileFindTest, ReportsAttributesAndSizes) {
  bool sawFile = false, sawFolder = false;
  for (const Found& entry : FindAll(Pattern("*"))) {
    if (entry.name == "Blue.skn") {
      sawFile = true;
      EXPECT_EQ(entry.size, 5u);
      EXPECT_EQ(entry.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    if (entry.name == "Sub" || entry.name == "." || entry.name == "..") {
      sawFolder = true;
      EXPECT_NE(entry.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << entry.name;
    }
  }
  EXPECT_TRUE(sawFile);
  EXPECT_TRUE(sawFolder);
}

TEST_F(FileFindTest, FailuresSayWhatIsMissing) {
  DWORD error = 0;
  EXPECT_TRUE(FindAll(Pattern("*.none"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FindAll(Pattern("missing/*.*"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FindAll(Pattern("notes.txt/*"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FindAll(Pattern(""), &error).empty());  // "dir/" names no file
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA(nullptr, &data), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(&data));
}

TEST_F(FileFindTest, ARelativePatternSearchesTheCurrentFolder) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const std::vector<std::string> names = Names("*.skn");
  std::filesystem::current_path(previous);
  EXPECT_EQ(names, (std::vector<std::string>{"apple.SKN", "Blue.skn"}));
}

TEST_F(FileFindTest, TheListIsTakenWhenTheSearchStarts) {
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(Pattern("*.txt").c_str(), &data);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "notes.txt");
  WriteFile(dir_ / "later.txt", "");
  EXPECT_FALSE(FindNextFileA(handle, &data));
  EXPECT_TRUE(FindClose(handle));
  EXPECT_FALSE(FindClose(handle));  // closed handles are refused, not reused
}

TEST(WildcardTest, MatchesLikeWindows) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  for (const Case& c : {Case{"*", "", true}, Case{"*.*", "noext", true}, Case{"*.skn", "x.skn.bak", false},
                        Case{"*.skn", "x.bak.skn", true}, Case{"a*b*c", "aXbYbZc", true}, Case{"a*b*c", "aXbYc d", false},
                        Case{"??", "abc", false}, Case{"a?c", "ABC", true}, Case{"*a", "bbb", false},
                        Case{"**x", "yx", true}}) {
    EXPECT_EQ(reel::MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
  }
}

}  // namespace
