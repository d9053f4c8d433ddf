// The other qk2 commands run as a program: help and exit codes, `pack`
// giving exactly the package writer's bytes, and `list --json` read back.
#include <gtest/gtest.h>

#include "json.h"
#include "packer/package_writer.h"
#include "qk2_run.h"
#include "update_folder.h"

namespace qk2test {
namespace {

TEST(Qk2Commands, HelpForEveryCommand) {
  struct HelpCase {
    std::vector<std::string> args;
    std::string start;  // of stdout
  };
  const HelpCase cases[] = {
      {{"--help"}, "usage: qk2 COMMAND [ARGUMENTS]\n"},
      {{"help"}, "usage: qk2 COMMAND [ARGUMENTS]\n"},
      {{"make-updater", "--help"}, "usage: qk2 make-updater UPDATE_FOLDER -o NAME.exe [options]\n"},
      {{"help", "make-updater"}, "usage: qk2 make-updater UPDATE_FOLDER -o NAME.exe [options]\n"},
      {{"verify", "--help"}, "usage: qk2 verify FILE\n"},
      {{"list", "-h"}, "usage: qk2 list [--json] [--no-verify] FILE\n"},
      {{"extract", "--help"}, "usage: qk2 extract FILE [NAME...] [-C DIR] [--no-verify]\n"},
      {{"pack", "--help"}, "usage: qk2 pack [options] OUT.pkg FILE...\n"},
      {{"preview", "--help"},
       "usage: qk2 preview UPDATE_FOLDER|FILE --install DIR [--data DIR] [--mode N]\n"},
  };
  for (const HelpCase& c : cases) {
    const ToolRun run = RunQk2(c.args);
    EXPECT_EQ(run.code, 0) << c.args[0] << "\n" << run.Shown();
    EXPECT_EQ(run.out.substr(0, c.start.size()), c.start) << run.Shown();
    EXPECT_EQ(run.err, "");
    // Every help ends with the exit codes.
    for (const char* line :
         {"  0  success\n", "  2  wrong usage\n", "  3  a file could not be read or written\n",
          "  4  signing failed: osslsigncode is missing or did not sign\n"})
      EXPECT_NE(run.out.find(line), std::string::npos) << c.args[0] << ": " << line;
  }
  const ToolRun version = RunQk2({"-V"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, RunQk2({"--version"}).out);
  EXPECT_EQ(version.out.rfind("qk2 1.", 0), 0u) << version.out;
}

TEST(Qk2Commands, ExitCodes) {
  TempFolder temp;
  ASSERT_TRUE(WriteFile(temp / "junk.pkg", "not a package at all"));
  struct ExitCase {
    std::vector<std::string> args;
    int code;
    std::string err;  // start of stderr
  };
  const ExitCase cases[] = {
      {{}, 2, "qk2: no command\n"},
      // One wording, and the usage line rather than the whole help.
      {{"frobnicate"},
       2,
       "qk2: unknown command frobnicate\nusage: qk2 COMMAND [ARGUMENTS]\n(qk2 --help lists every "
       "option)\n"},
      {{"--frobnicate"}, 2, "qk2: unknown option --frobnicate\n"},
      {{"list"}, 2, "qk2: list: give one package or updater\n"},
      {{"list", "--xml", temp / "junk.pkg"},
       2,
       "qk2: list: unknown option --xml\nusage: qk2 list [--json] [--no-verify] FILE\n(qk2 list "
       "--help lists every option)\n"},
      {{"verify", temp / "a", temp / "b"}, 2, "qk2: verify: give one package or updater\n"},
      {{"preview", temp.path()}, 2, "qk2: preview: give the installation with --install DIR\n"},
      {{"preview", temp.path(), "--install", temp.path(), "--disk", "1:" + temp.path()},
       2,
       "qk2: preview: --disk takes N=DIR with N from 0 to 9"},
      {{"preview", temp.path(), "--install", temp / "missing"},
       3,
       "qk2: " + (temp / "missing") + ": no such folder\n"},
      // The path, then the system's own reason.
      {{"list", temp / "missing.pkg"}, 3, "qk2: " + (temp / "missing.pkg") + ": cannot open: "},
      {{"verify", temp / "missing.pkg"}, 3, "qk2: " + (temp / "missing.pkg") + ": cannot open: "},
      {{"pack", temp / "out.pkg", temp / "missing.dat"},
       3,
       "qk2: " + (temp / "missing.dat") + ": cannot open: "},
      {{"list", temp / "junk.pkg"},
       1,
       "qk2: " + (temp / "junk.pkg") + ": damaged package (header or directory cannot be read)\n"},
      {{"verify", temp / "junk.pkg"},
       1,
       (temp / "junk.pkg") + ": no package magic \"QK2\\0\" at the start\n"},
  };
  for (const ExitCase& c : cases) {
    const ToolRun run = RunQk2(c.args);
    EXPECT_EQ(run.code, c.code) << run.Shown();
    EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << run.Shown();
  }
}

// ------------------------------------------------------------------ pack

struct PackCase {
  const char* what;
  std::vector<std::string> options;
  EntryCompression compression;
  bool scramble;
  bool compressDirectory;
  CompressEffort effort;
};

// `pack` builds entry by entry (for its progress display); the bytes must
// be the package writer's own for the same list.
TEST(Qk2Commands, PackWritesThePackageWritersBytes) {
  TempFolder temp;
  const std::vector<FolderFile> files = {{"GAME.DAT", Compressible(40000)},
                                         {"EMPTY.DAT", ""},
                                         {"NOISE.BIN", Incompressible(777, 3)},
                                         {"README.TXT", "readme\r\n"}};
  std::vector<std::string> paths;
  for (const FolderFile& f : files) {
    paths.push_back(temp / f.name);
    ASSERT_TRUE(WriteFile(paths.back(), f.bytes));
    ASSERT_TRUE(SetModified(paths.back(), kFolderTime + paths.size() * kOneSecond));
  }
  const PackCase cases[] = {
      {"defaults", {}, EntryCompression::kIfSmaller, true, true, CompressEffort::kBest},
      {"fast", {"-1"}, EntryCompression::kIfSmaller, true, true, CompressEffort::kFast},
      {"stored",
       {"--store", "--no-scramble"},
       EntryCompression::kNever,
       false,
       true,
       CompressEffort::kBest},
      {"plain directory",
       {"--plain-directory", "-1"},
       EntryCompression::kIfSmaller,
       true,
       false,
       CompressEffort::kFast},
  };
  for (const PackCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"pack"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(temp / "out.pkg");
    args.insert(args.end(), paths.begin(), paths.end());
    const ToolRun run = RunQk2(args);
    ASSERT_EQ(run.code, 0) << run.Shown();

    std::vector<PackInput> inputs;
    for (size_t i = 0; i < files.size(); ++i) {
      PackInput input;
      input.name = files[i].name;
      input.content.assign(files[i].bytes.begin(), files[i].bytes.end());
      const uint64_t time = kFolderTime + (i + 1) * kOneSecond;
      input.modified = FileTime{(u32)time, (u32)(time >> 32)};
      input.compression = c.compression;
      input.scramble = c.scramble;
      inputs.push_back(input);
    }
    PackOptions options;
    options.compressDirectory = c.compressDirectory;
    options.effort = c.effort;
    std::vector<uint8_t> expected;
    std::string error;
    ASSERT_TRUE(BuildPackage(inputs, options, &expected, &error)) << error;
    EXPECT_EQ(ReadFileOrEmpty(temp / "out.pkg"), std::string(expected.begin(), expected.end()));
  }
}

// ------------------------------------------------------------- list --json

TEST(Qk2Commands, ListJsonReadsBack) {
  TempFolder temp;
  const std::string folder = temp / "update";
  ASSERT_TRUE(MakeFolder(folder));
  WriteUpdateFolder(folder, StandardIniLines(), StandardFiles());
  std::vector<std::string> args = {"pack", temp / "update.pkg", PathIn(folder, "UPDATE.INI")};
  for (const FolderFile& f : StandardFiles()) args.push_back(PathIn(folder, f.name));
  ASSERT_EQ(RunQk2(args).code, 0);

  const ToolRun run = RunQk2({"list", "--json", temp / "update.pkg"});
  ASSERT_EQ(run.code, 0) << run.Shown();
  Json list;
  std::string error;
  ASSERT_TRUE(ParseJson(run.out, &list, &error)) << error << "\n" << run.out;
  ASSERT_EQ(list.kind, Json::kObject);
  EXPECT_FALSE(list["executable"].boolean);
  EXPECT_EQ(list["executable"].kind, Json::kBool);
  EXPECT_EQ(list["packageSize"].number, (double)ReadFileOrEmpty(temp / "update.pkg").size());
  EXPECT_TRUE(list["compressedDirectory"].boolean);
  const std::vector<Json>& entries = list["entries"].items;
  struct Expected {
    std::string name;  // UTF-8
    size_t size;
    bool compressed;
  };
  const Expected expected[] = {{"UPDATE.INI", IniText(StandardIniLines()).size(), true},
                               {"GAME.DAT", 20000, true},
                               {u8"ステージ.DAT", 300, false},
                               {"SAVE.DAT", 16, false},
                               {"AGREE.TXT", std::string(kAgreementText).size(), false}};
  ASSERT_EQ(entries.size(), 5u) << run.out;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Json& e = entries[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(e["name"].text, expected[i].name);
    EXPECT_EQ(e["contentSize"].number, (double)expected[i].size);
    EXPECT_EQ(e["compressed"].boolean, expected[i].compressed);
    EXPECT_EQ(e["flags"].number, expected[i].compressed ? 2.0 : 1.0);
    EXPECT_TRUE(e["scrambled"].boolean);  // pack scrambles every entry
    if (expected[i].compressed)
      EXPECT_LT(e["storedSize"].number, e["contentSize"].number);
    else
      EXPECT_EQ(e["storedSize"].number, e["contentSize"].number);
    EXPECT_EQ(e["modified"].text, kFolderTimeIso);
    EXPECT_EQ(e["damaged"].kind, Json::kBool);
    EXPECT_FALSE(e["damaged"].boolean);
    EXPECT_FALSE(e.Has("error"));
  }
}

TEST(Qk2Commands, ListJsonMarksADamagedEntry) {
  TempFolder temp;
  ASSERT_TRUE(WriteFile(temp / "A.DAT", Compressible(5000)));
  ASSERT_TRUE(WriteFile(temp / "B.DAT", "b"));
  ASSERT_EQ(
      RunQk2({"pack", "--plain-directory", temp / "p.pkg", temp / "A.DAT", temp / "B.DAT"}).code,
      0);
  std::string package = ReadFileOrEmpty(temp / "p.pkg");
  // One more content byte than A.DAT's stream gives.
  const size_t directory = (uint8_t)package[8] | (size_t)(uint8_t)package[9] << 8;
  package[directory + 272] = (char)((uint8_t)package[directory + 272] + 1);
  ASSERT_TRUE(WriteFile(temp / "p.pkg", package));
  const ToolRun run = RunQk2({"list", "--json", temp / "p.pkg"});
  EXPECT_EQ(run.code, 1) << run.Shown();
  Json list;
  std::string error;
  ASSERT_TRUE(ParseJson(run.out, &list, &error)) << error << "\n" << run.out;
  ASSERT_EQ(list["entries"].items.size(), 2u);
  EXPECT_TRUE(list["entries"].items[0]["damaged"].boolean);
  EXPECT_EQ(list["entries"].items[0]["error"].text, "damaged compressed stream");
  EXPECT_FALSE(list["entries"].items[1]["damaged"].boolean);
}

// The reader itself must refuse what is not JSON, or the tests above prove
// nothing.
TEST(Qk2Commands, JsonReaderIsStrict) {
  const char* bad[] = {"",          "{",           "{\"a\":1,}", "[1 2]", "{\"a\" 1}",
                       "\"a\x01\"", "01",          "1.",         "[1]x",  "{\"a\":1,\"a\":2}",
                       "\"\xC3\"",  "\"\\ud800\"", "tru"};
  for (const char* text : bad) {
    Json value;
    std::string error;
    EXPECT_FALSE(ParseJson(text, &value, &error)) << text;
  }
  Json value;
  std::string error;
  ASSERT_TRUE(ParseJson(" {\"a\": [1, -2.5e3, true, null, \"\\u3042\\n\"]} ", &value, &error))
      << error;
  EXPECT_EQ(value["a"].items.at(1).number, -2500);
  EXPECT_EQ(value["a"].items.at(4).text, u8"あ\n");
}

}  // namespace
}  // namespace qk2test
