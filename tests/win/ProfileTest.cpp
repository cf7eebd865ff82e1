#include "platform/win/Profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/win/System.h"
#include "tests/support/TempDir.h"

namespace {

using reel::test::ReadFile;
using reel::test::TempDir;
using reel::test::WriteFile;

class ProfileTest : public ::testing::Test {
 protected:
  std::string Read(const char* section, const char* key, const char* fallback = nullptr, DWORD size = 260) {
    std::vector<char> buffer(size + 1, '#');
    const DWORD count = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file_.c_str());
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
    EXPECT_EQ(std::strlen(buffer.data()), count);
    return std::string(buffer.data(), count);
  }

  // The names of a double-NUL list.
  std::vector<std::string> List(const char* section, DWORD size = 4096) {
    std::vector<char> buffer(size, '#');
    const DWORD count = GetPrivateProfileStringA(section, nullptr, nullptr, buffer.data(), size, file_.c_str());
    EXPECT_LE(count + 1, size);
    EXPECT_EQ(buffer[count], '\0');
    std::vector<std::string> names;
    for (size_t at = 0; at < count && buffer[at] != '\0'; at += names.back().size() + 1) {
      names.emplace_back(buffer.data() + at);
    }
    return names;
  }

  bool Write(const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringA(section, key, value, file_.c_str()) != FALSE;
  }

  TempDir dir_;
  std::string file_ = (dir_ / "test.ini").string();
};

TEST_F(ProfileTest, MissingKeysReadTheDefaultOrEmpty) {
  WriteFile(file_, "[SETTING]\nSelSkin=3\n");
  EXPECT_EQ(Read("SETTING", "PreFixName"), "");
  EXPECT_EQ(Read("SETTING", "PreFixName", "fallback"), "fallback");
  EXPECT_EQ(Read("SETTING", "PreFixName", "padded   "), "padded");  // trailing blanks of a default go
  EXPECT_EQ(Read("OTHER", "SelSkin", "d"), "d");
  EXPECT_EQ(Read("SETTING", "SelSkin", "d"), "3");

  file_ = (dir_ / "missing.ini").string();
  EXPECT_EQ(Read("SETTING", "SelSkin"), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Read("SETTING", "SelSkin", "x"), "x");
  EXPECT_TRUE(List(nullptr).empty());
}

TEST_F(ProfileTest, ValuesAreCutToTheBuffer) {
  const std::string longValue(300, 'v');
  WriteFile(file_, "[S]\nk=" + longValue + "\n");
  EXPECT_EQ(Read("S", "k"), longValue.substr(0, 259));
  EXPECT_EQ(Read("S", "k", nullptr, 2048), longValue);
  EXPECT_EQ(Read("S", "k", nullptr, 1), "");
  EXPECT_EQ(Read("S", "missing", "a long default", 5), "a lo");

  char untouched = '#';
  EXPECT_EQ(GetPrivateProfileStringA("S", "k", nullptr, &untouched, 0, file_.c_str()), 0u);
  EXPECT_EQ(untouched, '#');
}

struct ReadCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  const char* expected;  // read with the default "DEFAULT"
};
void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class ProfileReadRules : public ProfileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ProfileReadRules, ReadsAsWindowsDoes) {
  WriteFile(file_, GetParam().content);
  EXPECT_EQ(Read(GetParam().section, GetParam().key, "DEFAULT"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileReadRules,
    ::testing::Values(
        ReadCase{"CaseInsensitiveNames", "[Setting]\nSelSkin=3\n", "SETTING", "selskin", "3"},
        ReadCase{"BlanksAroundNamesAndValues", "  [ S ]  \n \t key  =  two words \t\n", "S", "key", "two words"},
        ReadCase{"RequestedNamesAreTrimmed", "[S]\nkey=v\n", " S ", " key\t", "v"},
        ReadCase{"CommentLinesAreNoKeys", "[S]\n;key=1\n  ; key=2\nkey=3\n", "S", "key", "3"},
        ReadCase{"SemicolonInsideAValueStays", "[S]\nk=v ;not a comment\n", "S", "k", "v ;not a comment"},
        ReadCase{"DoubleQuotesStripped", "[S]\nk=\"quoted text\"\n", "S", "k", "quoted text"},
        ReadCase{"SingleQuotesStripped", "[S]\nk='q'\n", "S", "k", "q"},
        ReadCase{"OnlyOneQuotePairStripped", "[S]\nk=\"\"inner\"\"\n", "S", "k", "\"inner\""},
        ReadCase{"UnmatchedQuotesKept", "[S]\nk=\"open'\n", "S", "k", "\"open'"},
        ReadCase{"LoneQuoteKept", "[S]\nk=\"\n", "S", "k", "\""},
        ReadCase{"LineWithoutEqualsIsNoKey", "[S]\nkey\n", "S", "key", "DEFAULT"},
        ReadCase{"EmptyValueIsNotTheDefault", "[S]\nk=\n", "S", "k", ""},
        ReadCase{"FirstDuplicateKeyWins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
        ReadCase{"FirstDuplicateSectionWins", "[S]\nk=1\n[s]\nk=3\nj=4\n", "S", "j", "DEFAULT"},
        ReadCase{"CrLfLines", "[S]\r\nk=v\r\n", "S", "k", "v"},
        ReadCase{"LoneCrLines", "[S]\rk=v\r", "S", "k", "v"},
        ReadCase{"NoNewlineAtTheEnd", "[S]\nk=v", "S", "k", "v"},
        ReadCase{"NulEndsAValue", std::string("[S]\nk=ab\0cd\n", 12), "S", "k", "ab"},
        ReadCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
        ReadCase{"KeysBeforeAnySectionAreHidden", "k=1\n[S]\nj=2\n", "S", "k", "DEFAULT"},
        ReadCase{"HeaderWithoutBracketIsNoHeader", "[A]\n[S\nk=1\n", "A", "k", "1"},
        ReadCase{"TextAfterHeaderIgnored", "[S] ; note\nk=v\n", "S", "k", "v"},
        ReadCase{"EqualsInsideValue", "[S]\nk=a=b\n", "S", "k", "a=b"},
        ReadCase{"EmptyKeyNameNeverMatches", "[S]\n=v\n", "S", "", "DEFAULT"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ProfileTest, KeyListGivesEachKeyOnceInFileOrder) {
  WriteFile(file_, "[S]\nb=1\n;c=2\nA=3\nnoequals\nB=4\n\n[T]\nz=1\n[s]\nlater=1\n");
  EXPECT_EQ(List("s"), (std::vector<std::string>{"b", "A"}));
  EXPECT_EQ(List("T"), (std::vector<std::string>{"z"}));

  char buffer[8];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(GetPrivateProfileStringA("NONE", nullptr, "default", buffer, sizeof(buffer), file_.c_str()), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '\0');
}

TEST_F(ProfileTest, SectionListGivesEachSectionOnce) {
  WriteFile(file_, "[One]\na=1\n[two]\n[ONE]\n[]\n[ three ]\n");
  EXPECT_EQ(List(nullptr), (std::vector<std::string>{"One", "two", "three"}));

  char buffer[64];
  const DWORD count = GetPrivateProfileSectionNamesA(buffer, sizeof(buffer), file_.c_str());
  EXPECT_EQ(count, 14u);
  EXPECT_EQ(std::string(buffer, count + 1), std::string("One\0two\0three\0", 15));
}

struct ListCutCase {
  DWORD size;
  DWORD expectedCount;
  std::string expectedBytes;  // the whole buffer
};
void PrintTo(const ListCutCase& c, std::ostream* out) { *out << "size " << c.size; }

class ProfileListCut : public ProfileTest, public ::testing::WithParamInterface<ListCutCase> {};

TEST_P(ProfileListCut, CutsListsAsWindowsDoes) {
  WriteFile(file_, "[S]\nabc=1\nde=2\n");
  const ListCutCase& cut = GetParam();
  std::vector<char> buffer(cut.size + 4, '#');
  EXPECT_EQ(GetPrivateProfileStringA("S", nullptr, nullptr, buffer.data(), cut.size, file_.c_str()),
            cut.expectedCount);
  EXPECT_EQ(std::string(buffer.data(), cut.size), cut.expectedBytes);
  EXPECT_EQ(std::string(buffer.data() + cut.size, 4), "####");
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProfileListCut,
                         ::testing::Values(ListCutCase{9, 7, std::string("abc\0de\0\0#", 9)},
                                           // A list that exactly fills the buffer counts as cut.
                                           ListCutCase{8, 6, std::string("abc\0de\0\0", 8)},
                                           ListCutCase{6, 4, std::string("abc\0\0\0", 6)},
                                           ListCutCase{4, 2, std::string("ab\0\0", 4)},
                                           ListCutCase{2, 0, std::string("\0\0", 2)},
                                           ListCutCase{1, 0, std::string("\0", 1)}),
                         [](const auto& info) { return "Size" + std::to_string(info.param.size); });

TEST_F(ProfileTest, RewritingAKeyKeepsEveryOtherLine) {
  const std::string original =
      "; settings of the converter\r\n"
      "[SETTING]\r\n"
      "SelSkin=2\r\n"
      "  FullQuality = 1 \r\n"
      "foreign line\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=y\r\n";
  WriteFile(file_, original);
  ASSERT_TRUE(Write("setting", "fullquality", "0"));
  EXPECT_EQ(ReadFile(file_),
            "; settings of the converter\r\n"
            "[SETTING]\r\n"
            "SelSkin=2\r\n"
            "FullQuality=0\r\n"
            "foreign line\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=y\r\n");
  EXPECT_EQ(Read("SETTING", "SelSkin"), "2");
  EXPECT_EQ(Read("Other", "x"), "y");
}

TEST_F(ProfileTest, NewKeysAndSectionsGoAtTheirEnd) {
  WriteFile(file_, "[A]\na=1\n\n[B]\nb=1");
  ASSERT_TRUE(Write("A", "second", "2"));
  ASSERT_TRUE(Write("B", "more", "3"));
  ASSERT_TRUE(Write("C", "c", "4"));
  EXPECT_EQ(ReadFile(file_), "[A]\na=1\nsecond=2\n\n[B]\nb=1\nmore=3\n\n[C]\nc=4\n");
}

TEST_F(ProfileTest, WritingTheSameValueLeavesTheFileAlone) {
  WriteFile(file_, "[A]\nk=v\n");
  const auto before = std::filesystem::last_write_time(file_);
  ASSERT_TRUE(Write("A", "k", "v"));
  EXPECT_EQ(std::filesystem::last_write_time(file_), before);
}

TEST_F(ProfileTest, SettingsWriteSequenceCreatesTheFile) {
  // The flush call does nothing here and reports FALSE, as Windows does.
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, file_.c_str()));
  EXPECT_FALSE(std::filesystem::exists(file_));
  const std::vector<std::pair<const char*, const char*>> settings = {
      {"SelSkin", "2"},    {"FullQuality", "1"}, {"VideoSample", "0"},        {"PreFixName", "conv"},
      {"BATCHMODE", "T"}, {"MERGEMODE", "F"},   {"OUTPUTFOLDER", "/tmp/out"}, {"MERGEFILE", ""}};
  for (const auto& [key, value] : settings) ASSERT_TRUE(Write("SETTING", key, value));
  EXPECT_EQ(ReadFile(file_),
            "[SETTING]\nSelSkin=2\nFullQuality=1\nVideoSample=0\nPreFixName=conv\nBATCHMODE=T\nMERGEMODE=F\n"
            "OUTPUTFOLDER=/tmp/out\nMERGEFILE=\n");

  // A second run flushes and rewrites every key: the file stays the same shape.
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, file_.c_str()));
  ASSERT_TRUE(Write("SETTING", "SelSkin", "3"));
  EXPECT_EQ(Read("SETTING", "SelSkin"), "3");
  EXPECT_EQ(Read("SETTING", "OUTPUTFOLDER"), "/tmp/out");
  EXPECT_EQ(List("SETTING").size(), settings.size());
}

TEST_F(ProfileTest, DeletesKeysAndSections) {
  WriteFile(file_, "[A]\nk=1\nj=2\nk=3\n[B]\n; about b\nb=1\n[a]\nk=4\nm=5\n");
  ASSERT_TRUE(Write("a", "K", nullptr));
  EXPECT_EQ(ReadFile(file_), "[A]\nj=2\n[B]\n; about b\nb=1\n[a]\nm=5\n");
  ASSERT_TRUE(Write("b", nullptr, nullptr));
  EXPECT_EQ(ReadFile(file_), "[A]\nj=2\n[a]\nm=5\n");
  ASSERT_TRUE(Write("A", nullptr, "ignored"));
  EXPECT_EQ(ReadFile(file_), "");

  // Deleting what is not there succeeds and creates nothing.
  file_ = (dir_ / "none.ini").string();
  EXPECT_TRUE(Write("A", "k", nullptr));
  EXPECT_TRUE(Write("A", nullptr, nullptr));
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(ProfileTest, RefusesWhatWouldBreakTheFile) {
  WriteFile(file_, "[A]\nk=v\n");
  struct Refused {
    const char* section;
    const char* key;
    const char* value;
  };
  for (const Refused& bad : {Refused{"A", "k", "two\nlines"}, Refused{"A", "k", "cr\rhere"}, Refused{"A", "a=b", "v"},
                             Refused{"A", "[x", "v"}, Refused{"A", ";x", "v"}, Refused{"A", "  ", "v"},
                             Refused{"A]", "k", "v"}, Refused{"", "k", "v"}, Refused{nullptr, "k", "v"}}) {
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA(bad.section, bad.key, bad.value, file_.c_str()))
        << (bad.key ? bad.key : "(null)");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(ReadFile(file_), "[A]\nk=v\n");

  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", (dir_ / "no/such/folder.ini").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ProfileTest, WritersInTwoProcessesLoseNothing) {
  constexpr int kKeys = 150;
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
        const std::string key = "k" + std::to_string(child) + "_" + std::to_string(i);
        ok = WritePrivateProfileStringA(child == 0 ? "ZERO" : "ONE", key.c_str(), "v", file_.c_str()) && ok;
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
  EXPECT_EQ(List("ZERO").size(), static_cast<size_t>(kKeys));
  EXPECT_EQ(List("ONE").size(), static_cast<size_t>(kKeys));
}

TEST_F(ProfileTest, IntegersReadAsWindowsDoes) {
  WriteFile(file_,
            "[S]\nplain=42\nnegative=  -7\ntrailing=12abc\nword=abc\nempty=\nhex=0x10\nquoted=\"5\"\nplus=+8\n");
  struct IntCase {
    const char* key;
    UINT expected;
  };
  for (const IntCase& c : {IntCase{"plain", 42}, IntCase{"negative", static_cast<UINT>(-7)}, IntCase{"trailing", 12},
                           IntCase{"word", 0}, IntCase{"empty", 99}, IntCase{"missing", 99}, IntCase{"hex", 0},
                           IntCase{"quoted", 5}, IntCase{"plus", 8}}) {
    EXPECT_EQ(GetPrivateProfileIntA("S", c.key, 99, file_.c_str()), c.expected) << c.key;
  }
}

TEST_F(ProfileTest, HostileFilesNeverBreakTheReader) {
  std::mt19937 random(1234);
  std::string junk(1 << 20, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  for (size_t i = 0; i < junk.size(); i += 997) junk[i] = "[]=;\n\r\0"[random() % 7];
  WriteFile(file_, junk);
  (void)List(nullptr, 16384);
  (void)List("x", 16384);
  (void)Read("x", "y", "d", 2048);
  EXPECT_TRUE(Write("x", "y", "z"));
  EXPECT_EQ(Read("x", "y", nullptr, 2048), "z");

  // 10 MB: one huge line, then many sections.
  std::string big = "[HUGE]\nline=" + std::string(5 << 20, 'h') + "\n";
  for (int i = 0; big.size() < (10u << 20); ++i) big += "[S" + std::to_string(i) + "]\nk=v" + std::to_string(i) + "\n";
  WriteFile(file_, big);
  EXPECT_EQ(Read("HUGE", "line", nullptr, 2048), std::string(2047, 'h'));
  EXPECT_EQ(Read("S100", "k"), "v100");
  const std::vector<std::string> sections = List(nullptr, 16384);
  ASSERT_FALSE(sections.empty());
  EXPECT_EQ(sections.front(), "HUGE");
  EXPECT_TRUE(Write("S100", "k", "changed"));
  EXPECT_EQ(Read("S100", "k"), "changed");
  EXPECT_EQ(ReadFile(file_).size(), big.size() + 3);
}

TEST_F(ProfileTest, AFolderIsNoProfile) {
  EXPECT_EQ(Read("S", "k", "d"), "d");
  file_ = dir_.path().string();
  EXPECT_EQ(Read("S", "k", "d"), "d");
  EXPECT_FALSE(Write("S", "k", "v"));
}

}  // namespace
