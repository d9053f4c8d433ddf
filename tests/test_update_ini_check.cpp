// The check of an update folder before packing: each fault of UPDATE.INI
// with the message it gives, and the exact entry list of a clean folder.
// INI texts are cp932 bytes (hex escapes, so no compiler converts them);
// file names in the folder are in the file system's own spelling.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "packer/update_ini_check.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
const char kSeparator = '\\';
// 'so' in katakana: cp932 83 5C, whose trail byte is the backslash code.
const char kKatakanaSoFile[] = "\x83\x5C.DAT";
#else
const char kSeparator = '/';
const char kKatakanaSoFile[] = "\xE3\x82\xBD.DAT";  // the same name in UTF-8
#endif

// A fresh folder in the temporary folder, removed with its contents.
class UpdateFolder {
 public:
  UpdateFolder() {
    static std::atomic<int> counter{0};
#if defined(_WIN32)
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "ini-check-" + std::to_string(GetCurrentProcessId());
#else
    path_ =
        std::filesystem::temp_directory_path().string() + "/ini-check-" + std::to_string(getpid());
#endif
    path_ += "-" + std::to_string(counter++);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~UpdateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + kSeparator + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << name;
  }

 private:
  std::string path_;
};

const char kSetup[] =
    "[SETUP]\r\n"               // 1
    "CompanyName=Soft\r\n"      // 2
    "GameTitle=Game\r\n"        // 3
    "GameClass=GameWindow\r\n"  // 4
    "GameDir=Game\r\n";         // 5
// Lines of section UPDATE start on line 7.
const std::string kUpdate = std::string(kSetup) + "[UPDATE]\r\n";

struct Expected {
  int line;
  std::string message;
};

struct Case {
  const char* what;
  std::string ini;
  std::vector<Expected> problems;
};

const char kNeither[] =
    "neither UpdateFile00 nor CopyFile00 is set; the updater stops with \"No 'UpdateFileXX' "
    "and 'CopyFileXX'\"";
const char kStops[] = "; the updater stops at start-up without it";

TEST(UpdateIniCheckTest, ReportsEachFaultWithItsMessage) {
  const std::string longPath = "u," + std::string(250, 'd') + "\\LONGNAME.DAT";  // 263 bytes
  const Case cases[] = {
      // section SETUP
      {"a required key missing",
       "[SETUP]\r\nGameTitle=Game\r\nGameClass=W\r\nGameDir=G\r\n[UPDATE]\r\nUpdateFile00=A."
       "DAT\r\n",
       {{1, "[SETUP] has no CompanyName" + std::string(kStops)}}},
      {"a repeated section",
       kUpdate + "UpdateFile00=A.DAT\r\n" + "[SETUP]\r\n",
       {{8, "section [SETUP] appears again; the updater reads only the first one, on line 1"}}},
      {"empty and blank values",
       "[SETUP]\r\nCompanyName=\r\nGameTitle=   \r\nGameClass=W\r\nGameDir=G\r\n"
       "[UPDATE]\r\nUpdateFile00=A.DAT\r\n",
       {{2, "[SETUP] CompanyName is empty" + std::string(kStops)},
        {3, "[SETUP] GameTitle is empty" + std::string(kStops)}}},
      {"no section SETUP",
       "[UPDATE]\r\nUpdateFile00=A.DAT\r\n",
       {{0,
         "no section [SETUP]; the updater needs its CompanyName, GameTitle, GameClass and "
         "GameDir"}}},
      {"key names without regard to case, first value wins",
       "[setup]\r\ncompanyname=Soft\r\nGAMETITLE=Game\r\nGameClass=W\r\nGameDir=G\r\n"
       "GameDir=\r\n[UPDATE]\r\nupdatefile00=A.DAT\r\n",
       {{6, "GameDir is set again; the updater reads only the first value, on line 5"}}},
      // the numbering of the lines
      {"a gap after a missing line",
       kUpdate + "UpdateFile00=A.DAT\r\nUpdateFile02=B.DAT\r\nUpdateFile03=C.DAT\r\n",
       {{8, "UpdateFile02 is never read: the updater stops at UpdateFile01, which is missing"},
        {9, "UpdateFile03 is never read: the updater stops at UpdateFile01, which is missing"}}},
      {"a gap after an empty line",
       kUpdate + "CopyFile00=1:A\r\nCopyFile01=\r\nCopyFile02=1:B\r\nUpdateFile00=A.DAT\r\n",
       {{9, "CopyFile02 is never read: the updater stops at CopyFile01, which is empty"}}},
      {"numbers the updater never reads",
       kUpdate + "UpdateFile00=A.DAT\r\nUpdateFile16=B.DAT\r\nCopyFile5=1:X\r\n"
                 "CopyFile00=1:Y\r\nUpdateFile001=C.DAT\r\n",
       {{8, "UpdateFile16 is never read: lines are numbered 00 to 15"},
        {9, "CopyFile5 is never read: line numbers have two digits (CopyFile05)"},
        {11, "UpdateFile001 is never read: line numbers have two digits (UpdateFile01)"}}},
      {"no first line",
       kUpdate + "RequiredDiskSpace=10\r\nUpdateFile01=A.DAT\r\n",
       {{6, kNeither},
        {8, "UpdateFile01 is never read: the updater stops at UpdateFile00, which is missing"}}},
      {"no section UPDATE", kSetup, {{0, kNeither}}},
      {"a repeated line",
       kUpdate + "UpdateFile00=A.DAT\r\nUpdateFile00=B.DAT\r\n",
       {{8, "UpdateFile00 is set again; the updater reads only the first value, on line 7"}}},
      // the update lines and the files they name
      {"a file not in the folder",
       kUpdate + "UpdateFile00=A.DAT\r\nUpdateFile01=u,data\\NOPE.DAT\r\n",
       {{8, "UpdateFile01 names 'NOPE.DAT', which is not in the update folder"}}},
      {"a two-digit mode is no mode prefix",
       kUpdate + "UpdateFile00=12,u,A.DAT\r\n",
       {{7, "UpdateFile00 names '12', which is not in the update folder"}}},
      {"a blank after the kind letter",
       kUpdate + "UpdateFile00=u ,A.DAT\r\n",
       {{7, "UpdateFile00 names 'u ', which is not in the update folder"}}},
      {"a kind letter alone", kUpdate + "UpdateFile00=u\r\n", {{7, "UpdateFile00 names no file"}}},
      {"an empty first item",
       kUpdate + "UpdateFile00=,u,A.DAT\r\n",
       {{7, "UpdateFile00 names no file"}}},
      {"a folder",
       kUpdate + "UpdateFile00=3,o,data\\\r\n",
       {{7, "UpdateFile00: 'data\\' ends in a backslash and names no file"}}},
      {"no name Windows can make",
       kUpdate + "UpdateFile00=data\\CON.DAT\r\nUpdateFile01=u,A|whole\r\n",
       {{7, "UpdateFile00: 'CON.DAT' is no file name Windows can make (a character it refuses, "
            "or a device name); the updater could not write it"},
        {8, "UpdateFile01: 'A|whole' is no file name Windows can make (a character it refuses, "
            "or a device name); the updater could not write it"}}},
      {"a path too long",
       kUpdate + "UpdateFile00=" + longPath + "\r\n",
       {{7, "UpdateFile00: the path is 263 bytes long; at most 259 bytes fit"}}},
      {"a line too long",
       kUpdate + "UpdateFile00=A.DAT," + std::string(1100, 'x') + "\r\n",
       {{7, "UpdateFile00 is 1106 bytes long; the updater reads only the first 1023"}}},
      {"the same name twice, case aside",
       kUpdate + "UpdateFile00=A.DAT\r\nUpdateFile01=u,save\\a.dat\r\n",
       {{8,
         "UpdateFile01 names the entry 'a.dat' again (UpdateFile00 on line 7 names it first); "
         "the package holds one entry of a name, so both lines place the same file"}}},
      // copy lines
      {"disk prefixes outside 1 to 9",
       kUpdate + "CopyFile00=C:\\X\r\nCopyFile01=1,0:MOVIE\r\nCopyFile02=2,9:OK\r\n"
                 "CopyFile03=MOVIE,OP\r\n",
       {{7, "CopyFile00: the disk prefix 'C:' reads as disk 19; disks are numbered 1 to 9"},
        {8, "CopyFile01: the disk prefix '0:' reads as disk 0; disks are numbered 1 to 9"}}},
      {"a copy line too long",
       kUpdate + "CopyFile00=1:" + std::string(300, 'c') + "\r\n",
       {{7, "CopyFile00 is 302 bytes long; the updater reads only the first 259"}}},
      // agreement texts
      {"agreement files",
       std::string(kSetup) + "AgreementText=AGREE.TXT\r\nAgreementTitle=docs\\TITLE.TXT\r\n"
                             "[UPDATE]\r\nUpdateFile00=A.DAT\r\n",
       {{6, "AgreementText names 'AGREE.TXT', which is not in the update folder"},
        {7,
         "AgreementTitle: 'docs\\TITLE.TXT' is not a plain file name; the updater looks it "
         "up as an entry name"}}},
      // the text itself
      {"bytes that are no cp932",
       kUpdate + "UpdateFile00=A\x82.DAT\r\nUpdateFile01=B.DAT\x81\r\n",
       {{7, "not valid cp932 (Shift-JIS) text at column 15 (byte 0x82)"},
        {8, "not valid cp932 (Shift-JIS) text at column 19 (byte 0x81)"}}},
      {"a line in UTF-8",
       kUpdate + "UpdateFile00=A.DAT\r\nUpdateFile01=\xE3\x83\x87.DAT\r\n",
       {{8,
         "not valid cp932 (Shift-JIS) text at column 16 (byte 0x87); the line is UTF-8, but "
         "the updater reads UPDATE.INI as cp932"}}},
      {"a byte order mark",
       "\xEF\xBB\xBF" + kUpdate + "UpdateFile00=A.DAT\r\n",
       {{0,
         "no section [SETUP]; the updater needs its CompanyName, GameTitle, GameClass and "
         "GameDir"},
        {1,
         "starts with a UTF-8 byte order mark; the updater reads cp932 and does not see the "
         "first line as written"}}},
      {"comments and blank lines count as lines",
       "; comment\r\n\r\n" + kUpdate + "  ; UpdateFile00=A.DAT\r\nUpdateFile00=NOPE.DAT\r\n",
       {{10, "UpdateFile00 names 'NOPE.DAT', which is not in the update folder"}}},
      {"lone CR and LF line ends",
       "[SETUP]\nCompanyName=S\rGameTitle=T\nGameClass=C\r\nGameDir=D"
       "\n[UPDATE]\nUpdateFile00=NOPE.DAT\n",
       {{7, "UpdateFile00 names 'NOPE.DAT', which is not in the update folder"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateFolder folder;
    folder.Write("UPDATE.INI", c.ini);
    folder.Write("A.DAT", "a");
    folder.Write("B.DAT", "b");
    const UpdateFolderCheck check = CheckUpdateFolder(folder.path());
    std::vector<Expected> got;
    for (const IniProblem& p : check.problems) {
      got.push_back(Expected{p.line, p.message});
      EXPECT_EQ(folder.File("UPDATE.INI"), p.file);
    }
    ASSERT_EQ(c.problems.size(), got.size()) << (got.empty() ? "" : got[0].message);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(c.problems[i].line, got[i].line) << got[i].message;
      EXPECT_EQ(c.problems[i].message, got[i].message);
    }
    EXPECT_EQ(c.problems.empty(), check.ok());
  }
}

TEST(UpdateIniCheckTest, AFolderWithoutUpdateIni) {
  UpdateFolder folder;
  folder.Write("A.DAT", "a");
  const UpdateFolderCheck check = CheckUpdateFolder(folder.path());
  ASSERT_EQ(1u, check.problems.size());
  EXPECT_EQ(folder.File("UPDATE.INI") + ": no UPDATE.INI in the update folder",
            FormatIniProblem(check.problems[0]));
  EXPECT_TRUE(check.entries.empty());
}

#if !defined(_WIN32)
TEST(UpdateIniCheckTest, NamesThatDifferOnlyInCaseAreAmbiguous) {
  // Only a file system that tells case apart can hold both.
  UpdateFolder folder;
  folder.Write("UPDATE.INI", kUpdate + "UpdateFile00=Game.dat\r\n");
  folder.Write("GAME.DAT", "1");
  folder.Write("game.dat", "2");
  const UpdateFolderCheck check = CheckUpdateFolder(folder.path());
  ASSERT_EQ(1u, check.problems.size());
  EXPECT_EQ(folder.File("UPDATE.INI") +
                ":7: UpdateFile00 names 'Game.dat', which matches several files of the update "
                "folder that differ only in case",
            FormatIniProblem(check.problems[0]));
}
#endif

TEST(UpdateIniCheckTest, ACleanFolderGivesTheEntryList) {
  UpdateFolder folder;
  folder.Write("UPDATE.INI",
               std::string(kSetup) +
                   "AgreementText=AGREE.TXT\r\n"
                   "AgreementTitle=readme.txt\r\n"  // also an update line: kept unscrambled
                   "UpdateMessage=\x90\xaf\r\n"     // double-byte text
                   "[UPDATE]\r\n"
                   "RequiredDiskSpace=100\r\n"
                   "UpdateFile00=u,GAME.DAT\r\n"
                   "UpdateFile01=readme.txt,ignored\r\n"
                   "UpdateFile02=2,d,save\\\x83\x5C.DAT\r\n"  // the name is after the real '\'
                   "UpdateFile03=1:U, 3:data\\CONFIG.INI\r\n"
                   "CopyFile00=1,2:MOVIE\\OP.MPG\r\n"
                   "CopyFile01=2:MOVIE,OP\r\n");
  folder.Write("GAME.DAT", "game");
  folder.Write("README.TXT", "readme");  // named in lower case: found without regard to case
  folder.Write(kKatakanaSoFile, "so");
  folder.Write("CONFIG.INI", "config");
  folder.Write("AGREE.TXT", "agree");
  folder.Write("UNUSED.DAT", "not named by any line");
  const UpdateFolderCheck check = CheckUpdateFolder(folder.path());
  for (const IniProblem& p : check.problems) ADD_FAILURE() << FormatIniProblem(p);

  struct Want {
    std::string name, file, namedBy;
    bool scramble;
  };
  const std::vector<Want> want = {
      {"UPDATE.INI", "UPDATE.INI", "UPDATE.INI", true},
      {"GAME.DAT", "GAME.DAT", "UpdateFile00", true},
      {"readme.txt", "README.TXT", "UpdateFile01", false},
      {"\x83\x5C.DAT", kKatakanaSoFile, "UpdateFile02", true},
      {"CONFIG.INI", "CONFIG.INI", "UpdateFile03", true},
      {"AGREE.TXT", "AGREE.TXT", "AgreementText", false},
  };
  ASSERT_EQ(want.size(), check.entries.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].namedBy);
    EXPECT_EQ(want[i].name, check.entries[i].name);
    EXPECT_EQ(folder.File(want[i].file), check.entries[i].path);
    EXPECT_EQ(want[i].namedBy, check.entries[i].namedBy);
    EXPECT_EQ(want[i].scramble, check.entries[i].scramble);
  }
}

// Every warning, with the line it points at; a clean text gives none.
TEST(UpdateIniCheckTest, WarnsOfWhatTheUpdaterReadsOtherwise) {
  const struct {
    const char* what;
    std::string setup, update;  // lines added to [SETUP] (line 6 on) and after [UPDATE]
    int line;                   // of the warning
    std::string message;        // its start
  } cases[] = {
      {"misspelt key", "UpdaterVerison=1.0\r\n", "UpdateFile00=A.DAT\r\n", 6,
       "UpdaterVerison is no key of [SETUP] the updater reads; did you mean UpdaterVersion?"},
      {"misspelt line key", "", "UpdateFile00=A.DAT\r\nUpdateFiel01=B.DAT\r\n", 8,
       "UpdateFiel01 is no key of [UPDATE] the updater reads; did you mean UpdateFile01?"},
      {"misspelt section", "", "UpdateFile00=A.DAT\r\n[UPDATES]\r\n", 8,
       "[UPDATES] is no section the updater reads; did you mean [UPDATE]?"},
      {"disk space with a unit", "", "RequiredDiskSpace=64KB\r\nUpdateFile00=A.DAT\r\n", 7,
       "RequiredDiskSpace '64KB' is not a plain number of bytes; the updater reads it as 64"},
      {"disk space too large", "", "RequiredDiskSpace=3000000000\r\nUpdateFile00=A.DAT\r\n", 7,
       "RequiredDiskSpace 3000000000 is above 2147483647; the updater reads it as 2147483647"},
      {"disk prefix of two digits", "", "UpdateFile00=A.DAT\r\nCopyFile00=10:X\r\n", 8,
       "CopyFile00: '10:' is no disk prefix"},
      {"blank before the comma", "", "UpdateFile00=A.DAT\r\nUpdateFile01=u ,B.DAT\r\n", 8,
       "UpdateFile01: 'u ' ends in a blank before its comma"},
      {"mode of two digits", "", "UpdateFile00=A.DAT\r\nUpdateFile01=12,u,B.DAT\r\n", 8,
       "UpdateFile01: '12' is no mode"},
      {"forward slash", "", "UpdateFile00=A.DAT\r\nCopyFile00=MOVIE/OP.MPG\r\n", 8,
       "CopyFile00: '/' separates no folders"},
      {"path out of the folder", "", "UpdateFile00=A.DAT\r\nUpdateFile01=d,..\\B.DAT\r\n", 8,
       "UpdateFile01: '..\\B.DAT' leaves the data folder"},
      {"drive path", "", "UpdateFile00=A.DAT\r\nCopyFile00=C:\\X\r\n", 8, "CopyFile00: "},
      {"DataFolder out of the folders", "DataFolder=\\\\server\\share\r\n",
       "UpdateFile00=A.DAT\r\n", 6, "DataFolder '\\\\server\\share' leaves"},
      {"source copied twice", "", "UpdateFile00=A.DAT\r\nCopyFile00=X\r\nCopyFile01=x\r\n", 9,
       "CopyFile01 copies 'x' again (CopyFile00 on line 8 copies it first)"},
      {"file no line names", "", "UpdateFile00=A.DAT\r\n", 0,
       "B.DAT is in the update folder, but UPDATE.INI names it nowhere"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateFolder folder;
    // LF line ends are read as the updater reads them: no warning of their own.
    folder.Write("UPDATE.INI", "[SETUP]\nCompanyName=S\r\nGameTitle=T\r\nGameClass=C\r\n" +
                                   std::string("GameDir=D\r\n") + c.setup + "[UPDATE]\r\n" +
                                   c.update);
    folder.Write("A.DAT", "a");
    folder.Write("B.DAT", "b");
    folder.Write("u ", "u");
    const UpdateFolderCheck check = CheckUpdateFolder(folder.path());
    bool found = false;
    for (const IniProblem& w : check.warnings)
      found = found || (w.line == c.line && w.message.compare(0, c.message.size(), c.message) == 0);
    std::string all;
    for (const IniProblem& w : check.warnings) all += FormatIniProblem(w, true) + "\n";
    EXPECT_TRUE(found) << all;
  }
}

}  // namespace
