// qk2 make-updater run as a program: the folder check with its messages,
// the base image and the command line, the updater it writes (resources,
// entries, time stamps, digest), signing, and on Linux a whole run of the
// made updater's package through the host simulation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "json.h"
#include "package/format.h"
#include "package/sha256.h"
#include "packer/pe_resources.h"
#include "qk2_run.h"
#include "update_folder.h"

#if !defined(_WIN32)
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "flow/startup.h"
#include "flow/wizard.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "support/host_env.h"
#include "support/startup_env.h"
#include "sim/sim.h"
#endif

namespace qk2test {
namespace {

using Lines = std::vector<std::string>;

const ResourceKey kUpdateType = ResourceKey::Name(std::string("UPDATE"));

std::string Sha256Of(const std::string& bytes) {
  u8 digest[kSha256Size];
  Sha256(bytes.data(), (u32)bytes.size(), digest);
  return std::string((const char*)digest, kSha256Size);
}

// A resource of an image file, or "" after a failure.
std::string Resource(const std::string& exe, const ResourceKey& type, uint16_t id) {
  std::string image = ReadFileOrEmpty(exe);
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadPeResource(std::vector<uint8_t>(image.begin(), image.end()), type, id, &bytes, &error))
    ADD_FAILURE() << exe << ": " << error;
  return std::string(bytes.begin(), bytes.end());
}

class MakeUpdater : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFixtureBase()) GTEST_SKIP() << "no test image to make a base from (mingw-w64 tools)";
    base_ = temp_ / "base.exe";
    ASSERT_TRUE(WriteFixtureBase(base_));
    folder_ = temp_ / "update";
    ASSERT_TRUE(MakeFolder(folder_));
  }
  std::string Ini() const { return PathIn(folder_, "UPDATE.INI"); }
  ToolRun Make(const std::string& exe, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"make-updater", folder_, "-o", exe, "--base", base_};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunQk2(args);
  }

  TempFolder temp_;
  std::string base_, folder_;
};

// ---------------------------------------------------------------- the check

struct CheckCase {
  const char* what;
  std::function<void(Lines* ini, std::vector<FolderFile>* files)> change;
  // The problems expected, as line (0 for none) and message.
  std::vector<std::pair<int, std::string>> problems;
};

void Remove(std::vector<FolderFile>* files, const std::string& name) {
  files->erase(std::remove_if(files->begin(), files->end(),
                              [&](const FolderFile& f) { return f.name == name; }),
               files->end());
}

TEST_F(MakeUpdater, PrintsEveryProblemOfTheFolderAndWritesNothing) {
  const CheckCase cases[] = {
      {"no UPDATE.INI",
       [](Lines* ini, std::vector<FolderFile>*) { ini->clear(); },
       {{0, "no UPDATE.INI in the update folder"}}},
      {"a required key missing",
       [](Lines* ini, std::vector<FolderFile>*) { ini->erase(ini->begin() + 3); },
       {{1, "[SETUP] has no GameClass; the updater stops at start-up without it"}}},
      {"a required key empty",
       [](Lines* ini, std::vector<FolderFile>*) { (*ini)[4] = "GameDir="; },
       {{5, "[SETUP] GameDir is empty; the updater stops at start-up without it"}}},
      {"a named file missing",
       [](Lines*, std::vector<FolderFile>* files) { Remove(files, "GAME.DAT"); },
       {{9, "UpdateFile00 names 'GAME.DAT', which is not in the update folder"}}},
      {"the agreement missing",
       [](Lines*, std::vector<FolderFile>* files) { Remove(files, "AGREE.TXT"); },
       {{7, "AgreementText names 'AGREE.TXT', which is not in the update folder"}}},
      {"a gap in the line numbers",
       [](Lines* ini, std::vector<FolderFile>*) { (*ini)[10] = "UpdateFile03=d,SAVE.DAT"; },
       {{11, "UpdateFile03 is never read: the updater stops at UpdateFile02, which is missing"}}},
      {"a line in UTF-8",
       [](Lines* ini, std::vector<FolderFile>*) { (*ini)[2] = u8"GameTitle=テスト"; },
       {{3,
         "not valid cp932 (Shift-JIS) text at column 13 (byte 0x86); the line is UTF-8, but "
         "the updater reads UPDATE.INI as cp932"}}},
      {"no update lines",
       [](Lines* ini, std::vector<FolderFile>*) { ini->resize(8); },
       {{8,
         "neither UpdateFile00 nor CopyFile00 is set; the updater stops with \"No "
         "'UpdateFileXX' and 'CopyFileXX'\""}}},
      {"several at once",
       [](Lines* ini, std::vector<FolderFile>* files) {
         ini->erase(ini->begin() + 3);
         (*ini)[9] = "UpdateFile05=SAVE.DAT";
         Remove(files, "GAME.DAT");
       },
       {{1, "[SETUP] has no GameClass; the updater stops at start-up without it"},
        {8, "UpdateFile00 names 'GAME.DAT', which is not in the update folder"},
        {10, "UpdateFile05 is never read: the updater stops at UpdateFile02, which is missing"}}},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder scratch;
    folder_ = scratch / "update";
    ASSERT_TRUE(MakeFolder(folder_));
    Lines ini = StandardIniLines();
    std::vector<FolderFile> files = StandardFiles();
    c.change(&ini, &files);
    WriteUpdateFolder(folder_, ini, files);
    const std::string exe = scratch / "Update.exe";
    const ToolRun run = Make(exe);
    std::string expected;
    for (const auto& problem : c.problems)
      expected += Ini() + (problem.first ? ":" + std::to_string(problem.first) : "") + ": " +
                  problem.second + "\n";
    expected += "qk2: make-updater: " + std::to_string(c.problems.size()) +
                (c.problems.size() == 1 ? " problem" : " problems") + " in " + folder_ +
                "; no updater was written\n";
    EXPECT_EQ(run.code, 1) << run.Shown();
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(FileExists(exe));
    EXPECT_FALSE(FileExists(exe + ".partial"));
  }
}

// ------------------------------------------------- the command line and base

struct UsageCase {
  const char* what;
  std::vector<std::string> args;  // after "make-updater"; FOLDER, OUT and BASE are replaced
  int code;
  std::string message;  // the first line on stderr
};

TEST_F(MakeUpdater, RefusesWhatItCannotWorkWith) {
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  ASSERT_TRUE(WriteFile(temp_ / "not-an-image.exe", "MZ but nothing more"));
  const std::string bare = temp_ / "bare.exe";  // a PE image without the wizard
  ASSERT_TRUE(CopyFileTo(FixtureImage(), bare));
  const std::string out = temp_ / "Update.exe";
  const UsageCase cases[] = {
      {"no output",
       {"FOLDER", "--base", "BASE"},
       2,
       "qk2: make-updater: give the updater to write with -o NAME.exe"},
      {"no folder",
       {"-o", "OUT", "--base", "BASE"},
       2,
       "qk2: make-updater: give exactly one update folder"},
      {"two folders",
       {"FOLDER", "FOLDER", "-o", "OUT"},
       2,
       "qk2: make-updater: give exactly one update folder"},
      {"unknown option", {"FOLDER", "-o", "OUT", "-9"}, 2, "qk2: make-updater: unknown option -9"},
      {"option without value", {"FOLDER", "-o"}, 2, "qk2: make-updater: -o needs a value"},
      {"--sign without key",
       {"FOLDER", "-o", "OUT", "--sign", "--cert", "c.pem"},
       2,
       "qk2: make-updater: --sign needs --cert and --key"},
      {"--cert without --sign",
       {"FOLDER", "-o", "OUT", "--cert", "c.pem", "--key", "k.pem"},
       2,
       "qk2: make-updater: --cert, --key, --pass and --timestamp belong to --sign"},
      {"--timestamp without --sign",
       {"FOLDER", "-o", "OUT", "--timestamp", "http://127.0.0.1:1/"},
       2,
       "qk2: make-updater: --cert, --key, --pass and --timestamp belong to --sign"},
      {"base missing",
       {"FOLDER", "-o", "OUT", "--base", "MISSING"},
       3,
       "qk2: MISSING: cannot open: "},
      {"base no image",
       {"FOLDER", "-o", "OUT", "--base", "NOIMAGE"},
       1,
       "qk2: NOIMAGE: not a PE32 image: "},
      {"base without the wizard",
       {"FOLDER", "-o", "OUT", "--base", "BARE"},
       1,
       "qk2: BARE: not an updater base image: it has no wizard dialog 101"},
      {"output folder missing",
       {"FOLDER", "-o", "NOFOLDER", "--base", "BASE"},
       3,
       "qk2: NOFOLDER.partial: cannot create a file beside it: "},
      // Inputs are never written over, not even through a second name.
      {"output is UPDATE.INI", {"FOLDER", "-o", "INIFILE", "--base", "BASE"},
       2,
       "qk2: make-updater: INIFILE is "},
      {"output is a file of the folder",
       {"FOLDER", "-o", "DATAFILE", "--base", "BASE"},
       2,
       "qk2: make-updater: DATAFILE is "},
      {"output is the base",
       {"FOLDER", "-o", "BASE", "--base", "BASE"},
       2,
       "qk2: make-updater: BASE is "},
      // A folder where a file belongs is an error with the system's reason.
      {"base is a folder",
       {"FOLDER", "-o", "OUT", "--base", "FOLDER"},
       3,
       "qk2: FOLDER: cannot read: "},
  };
  const std::string iniBefore = ReadFileOrEmpty(Ini());
  const std::string dataBefore = ReadFileOrEmpty(PathIn(folder_, "GAME.DAT"));
  const std::string baseBefore = ReadFileOrEmpty(base_);
  const std::vector<std::pair<std::string, std::string>> names = {
      {"FOLDER", folder_},
      {"OUT", out},
      {"BASE", base_},
      {"MISSING", temp_ / "missing.exe"},
      {"NOIMAGE", temp_ / "not-an-image.exe"},
      {"BARE", bare},
      {"NOFOLDER", PathIn(temp_ / "no-such-folder", "Update.exe")},
      {"INIFILE", Ini()},
      {"DATAFILE", PathIn(folder_, "GAME.DAT")}};
  auto replaced = [&](std::string text) {
    for (const auto& name : names)
      for (size_t at; (at = text.find(name.first)) != std::string::npos;)
        text.replace(at, name.first.size(), name.second);
    return text;
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"make-updater"};
    for (const std::string& arg : c.args) args.push_back(replaced(arg));
    const ToolRun run = RunQk2(args);
    EXPECT_EQ(run.code, c.code) << run.Shown();
    const std::string message = replaced(c.message);
    EXPECT_EQ(run.err.substr(0, message.size()), message) << run.Shown();
    EXPECT_FALSE(FileExists(out));
  }
  EXPECT_EQ(ReadFileOrEmpty(Ini()), iniBefore);
  EXPECT_EQ(ReadFileOrEmpty(PathIn(folder_, "GAME.DAT")), dataBefore);
  EXPECT_EQ(ReadFileOrEmpty(base_), baseBefore);
}

// qk2 check: the same check, nothing written; warnings pass unless
// --werror, and --json gives each diagnostic as an object.
TEST_F(MakeUpdater, CheckAloneWritesNothing) {
  std::vector<FolderFile> files = StandardFiles();
  files.push_back({"NOTES.TXT", "a file that no line names"});
  WriteUpdateFolder(folder_, StandardIniLines(), files);
  const std::vector<std::string> before = FolderNames(folder_);
  const ToolRun check = RunQk2({"check", folder_});
  EXPECT_EQ(check.code, 0) << check.Shown();
  EXPECT_NE(check.err.find(Ini() + ": warning: NOTES.TXT is in the update folder"),
            std::string::npos)
      << check.Shown();
  EXPECT_EQ(RunQk2({"check", folder_, "--werror"}).code, 1);
  const ToolRun json = RunQk2({"check", folder_, "--json"});
  EXPECT_EQ(json.code, 0) << json.Shown();
  Json list;
  std::string error;
  ASSERT_TRUE(ParseJson(json.out, &list, &error)) << error << "\n" << json.out;
  ASSERT_EQ(list.items.size(), 1u) << json.out;
  EXPECT_EQ(list.items[0]["severity"].text, "warning");
  EXPECT_EQ(list.items[0]["code"].text, "file-not-named");
  EXPECT_EQ(list.items[0]["line"].number, 0);
  EXPECT_EQ(FolderNames(folder_), before);
}

TEST_F(MakeUpdater, FindsTheBaseBesideItselfOrSaysWhereItLooked) {
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  // An installation: qk2 alone in a folder, then with Updater.exe beside it.
  const std::string installed = temp_ / "installed";
  ASSERT_TRUE(MakeFolder(installed));
#if defined(_WIN32)
  const std::string tool = PathIn(installed, "qk2.exe");
#else
  const std::string tool = PathIn(installed, "qk2");
#endif
  ASSERT_TRUE(CopyFileTo(ToolPath(), tool));
  const std::string out = temp_ / "Update.exe";
  ToolRun run = RunProgram(tool, {"make-updater", folder_, "-o", out});
  EXPECT_EQ(run.code, 2) << run.Shown();
  const std::string beside = PathIn(installed, "Updater.exe");
  EXPECT_NE(run.err.find("qk2: make-updater: no base Updater.exe (looked for " + beside),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("; give it with --base\n"), std::string::npos) << run.err;
  EXPECT_FALSE(FileExists(out));

  ASSERT_TRUE(CopyFileTo(base_, beside));
  run = RunProgram(tool, {"make-updater", folder_, "-o", out});
  EXPECT_EQ(run.code, 0) << run.Shown();
  EXPECT_NE(run.out.find("(base " + beside + ")"), std::string::npos) << run.out;
  EXPECT_EQ(RunQk2({"verify", out}).code, 0);
}

// ---------------------------------------------------------------- the updater

TEST_F(MakeUpdater, WritesTheBaseWithThePackageAndItsDigest) {
  std::vector<FolderFile> files = StandardFiles();
  files.push_back({"NOTES.TXT", "a file that no line names"});
  WriteUpdateFolder(folder_, StandardIniLines(), files);
  const std::string exe = temp_ / "Update.exe";
  const ToolRun run = Make(exe);
  ASSERT_EQ(run.code, 0) << run.Shown();
  EXPECT_EQ(run.err, Ini() +
                        ": warning: NOTES.TXT is in the update folder, but UPDATE.INI names it "
                        "nowhere; it is left out\n");
  const std::string package = Resource(exe, kUpdateType, kPackageResourceId);
  const std::string digest = Resource(exe, kUpdateType, kPackageDigestResourceId);
  EXPECT_EQ(digest, Sha256Of(package));
  EXPECT_EQ(run.out.substr(0, exe.size() + 2), exe + ": ");
  EXPECT_NE(run.out.find("5 entries, package " + std::to_string(package.size()) + " bytes"),
            std::string::npos)
      << run.out;
  // The closing summary, each entry with -v, and nothing but errors with -q.
  EXPECT_NE(run.out.find("package " + std::to_string(package.size()) + " bytes ("), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("; 5 entries: "), std::string::npos) << run.out;
  const ToolRun verbose = Make(exe, {"-v"});
  EXPECT_NE(verbose.out.find("  GAME.DAT: 20000 bytes, compressed, scrambled: "), std::string::npos)
      << verbose.out;
  const ToolRun quiet = Make(exe, {"-q"});
  EXPECT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");

  // Both resources language neutral, and everything of the base still there.
  std::string image = ReadFileOrEmpty(exe), baseImage = ReadFileOrEmpty(base_);
  PeResourceEditor made, base;
  std::string error;
  ASSERT_TRUE(made.Load(std::vector<uint8_t>(image.begin(), image.end()), &error)) << error;
  ASSERT_TRUE(base.Load(std::vector<uint8_t>(baseImage.begin(), baseImage.end()), &error)) << error;
  EXPECT_NE(made.Find(kUpdateType, kPackageResourceId, 0), nullptr);
  EXPECT_NE(made.Find(kUpdateType, kPackageDigestResourceId, 0), nullptr);
  EXPECT_EQ(made.List().size(), base.List().size() + 2);
  for (const ResourceRef& r : base.List()) {
    const ResourceData* kept = made.Find(r.type, r.name, r.language.id());
    ASSERT_NE(kept, nullptr) << r.type.Describe() << "/" << r.name.Describe();
    EXPECT_EQ(kept->bytes, r.data->bytes) << r.type.Describe() << "/" << r.name.Describe();
  }

  // The entries as listed: in the order of UPDATE.INI, every one scrambled
  // except the agreement, which the updater reads as it is stored.
  const ToolRun listed = RunQk2({"list", "--json", exe});
  ASSERT_EQ(listed.code, 0) << listed.Shown();
  Json list;
  ASSERT_TRUE(ParseJson(listed.out, &list, &error)) << error << "\n" << listed.out;
  EXPECT_TRUE(list["executable"].boolean);
  EXPECT_EQ(list["packageSize"].number, (double)package.size());
  const std::pair<std::string, bool> entries[] = {{"UPDATE.INI", true},
                                                  {"GAME.DAT", true},
                                                  {u8"ステージ.DAT", true},
                                                  {"SAVE.DAT", true},
                                                  {"AGREE.TXT", false}};
  ASSERT_EQ(list["entries"].items.size(), 5u) << listed.out;
  for (size_t i = 0; i < 5; ++i) {
    const Json& e = list["entries"].items[i];
    EXPECT_EQ(e["name"].text, entries[i].first);
    EXPECT_EQ(e["scrambled"].boolean, entries[i].second) << entries[i].first;
    EXPECT_EQ(e["modified"].text, kFolderTimeIso) << entries[i].first;
  }
  EXPECT_TRUE(list["entries"].items[1]["compressed"].boolean);   // GAME.DAT pays
  EXPECT_FALSE(list["entries"].items[2]["compressed"].boolean);  // noise does not

  // The entries, through extract: UPDATE.INI and the named files, unchanged.
  const std::string out = temp_ / "extracted";
  const ToolRun extracted = RunQk2({"extract", exe, "-C", out});
  ASSERT_EQ(extracted.code, 0) << extracted.Shown();
  std::vector<std::string> expected = {"UPDATE.INI"};
  for (const FolderFile& f : StandardFiles()) expected.push_back(f.name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderNames(out), expected);
  for (const std::string& name : expected) {
    EXPECT_EQ(ReadFileOrEmpty(PathIn(out, name)), ReadFileOrEmpty(PathIn(folder_, name))) << name;
    EXPECT_EQ(Modified(PathIn(out, name)), kFolderTime) << name;
  }
}

TEST_F(MakeUpdater, MakesTheSameUpdaterAgainAndReplacesAnEarlierOne) {
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  const std::string exe = temp_ / "Update.exe";
  ASSERT_EQ(Make(exe).code, 0);
  const std::string first = ReadFileOrEmpty(exe);
  // An earlier updater as the base: its package and digest are replaced.
  ASSERT_TRUE(CopyFileTo(exe, base_));
  ASSERT_EQ(Make(exe).code, 0);
  EXPECT_EQ(ReadFileOrEmpty(exe), first);
  // The fast level: another package, the same content.
  const ToolRun fast = Make(exe, {"-1"});
  ASSERT_EQ(fast.code, 0) << fast.Shown();
  EXPECT_EQ(RunQk2({"verify", exe}).code, 0);
  const std::string out = temp_ / "fast";
  ASSERT_EQ(RunQk2({"extract", exe, "GAME.DAT", "-C", out}).code, 0);
  EXPECT_EQ(ReadFileOrEmpty(PathIn(out, "GAME.DAT")), Compressible(20000));
}

TEST_F(MakeUpdater, ProgressBarOnRequest) {
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  const std::string exe = temp_ / "Update.exe";
  // Not a terminal: nothing unless asked for.
  ToolRun run = Make(exe);
  EXPECT_EQ(run.err.find("packing ["), std::string::npos) << run.err;
  run = Make(exe, {"--progress"});
  ASSERT_EQ(run.code, 0) << run.Shown();
  EXPECT_EQ(run.err.substr(0, 51), "\rpacking [------------------------------]   0%  0/5")
      << run.err;
  // Each entry named while it is packed.
  EXPECT_NE(run.err.find("%  1/5 entries  0.0/0.0 MB  GAME.DAT\r"), std::string::npos) << run.err;
  // The last state, blanks over the longest line before it, and the line ended.
  const size_t last = run.err.rfind('\r');
  ASSERT_NE(last, std::string::npos);
  const std::string end = run.err.substr(last);
  EXPECT_EQ(end.substr(0, 71),
            "\rpacking [##############################] 100%  5/5 entries  0.0/0.0 MB")
      << run.err;
  EXPECT_EQ(end.find_first_not_of(' ', 71), end.size() - 1);
  EXPECT_EQ(end.back(), '\n');
}

// A large entry moves the bar while it is compressed, not only when done:
// some line shows megabytes of it while the entry is still the one named.
TEST_F(MakeUpdater, ProgressBarMovesInsideALargeEntry) {
  std::vector<std::string> lines = StandardIniLines();
  lines.push_back("UpdateFile03=BIG.DAT");
  std::vector<FolderFile> files = StandardFiles();
  files.push_back({"BIG.DAT", Compressible(3u << 20)});
  WriteUpdateFolder(folder_, lines, files);
  const std::string exe = temp_ / "Update.exe";
  const ToolRun run = Make(exe, {"--progress", "-1"});
  ASSERT_EQ(run.code, 0) << run.Shown();
  bool inside = false;
  for (size_t at = run.err.find('\r'); at != std::string::npos; at = run.err.find('\r', at + 1)) {
    const std::string line = run.err.substr(at + 1, run.err.find('\r', at + 1) - at - 1);
    const size_t mb = line.find(" entries  ");
    if (line.find("  BIG.DAT") != std::string::npos && mb != std::string::npos &&
        std::atof(line.c_str() + mb + 10) >= 1.0)
      inside = true;
  }
  EXPECT_TRUE(inside) << run.err;
}

// ---------------------------------------------------------------- signing

#if !defined(_WIN32)
bool OnPath(const std::string& program) {
  return RunProgram("/bin/sh", {"-c", "command -v " + program}).code == 0;
}

TEST_F(MakeUpdater, SignsTheFinishedUpdater) {
  if (!OnPath("osslsigncode") || !OnPath("openssl"))
    GTEST_SKIP() << "osslsigncode or openssl is not installed (tools/setup.sh installs them)";
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  const std::string cert = temp_ / "cert.pem", key = temp_ / "key.pem";
  const ToolRun made =
      RunProgram("/bin/sh", {"-c", "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key +
                                       "' -out '" + cert + "' -days 1 -subj /CN=qk2-test 2>&1"});
  ASSERT_EQ(made.code, 0) << made.Shown();
  const std::string plain = temp_ / "Plain.exe", exe = temp_ / "Signed.exe";
  ASSERT_EQ(Make(plain).code, 0);
  const ToolRun run = Make(exe, {"--sign", "--cert", cert, "--key", key});
  ASSERT_EQ(run.code, 0) << run.Shown();
  EXPECT_NE(run.out.find(", signed (base "), std::string::npos) << run.out;

  const ToolRun check = RunProgram(
      "/bin/sh", {"-c", "osslsigncode verify -CAfile '" + cert + "' -in '" + exe + "' 2>&1"});
  EXPECT_EQ(check.code, 0) << check.Shown();
  EXPECT_NE(check.out.find("Signature verification: ok"), std::string::npos) << check.out;
  // The signature covers the package: the same package and digest as the
  // unsigned updater of the same folder.
  const std::string package = Resource(exe, kUpdateType, kPackageResourceId);
  EXPECT_EQ(package, Resource(plain, kUpdateType, kPackageResourceId));
  EXPECT_EQ(Resource(exe, kUpdateType, kPackageDigestResourceId), Sha256Of(package));
  const ToolRun verified = RunQk2({"verify", exe});
  EXPECT_EQ(verified.code, 0) << verified.Shown();
  EXPECT_NE(verified.out.find("digest matches, signed"), std::string::npos) << verified.out;

  // One byte of the package changed: both the signature and the digest tell.
  std::string image = ReadFileOrEmpty(exe);
  const size_t at = image.find(package);
  ASSERT_NE(at, std::string::npos);
  image[at + package.size() / 2] ^= 0x20;
  ASSERT_TRUE(WriteFile(exe, image));
  EXPECT_NE(RunProgram("/bin/sh", {"-c", "osslsigncode verify -CAfile '" + cert + "' -in '" + exe +
                                             "' >/dev/null 2>&1"})
                .code,
            0);
  EXPECT_EQ(RunQk2({"verify", exe}).code, 1);
}

// A time-stamping authority of the test's own on 127.0.0.1: it answers each
// POSTed RFC 3161 query with a reply that `openssl ts -reply` makes with a
// throwaway TSA certificate, as a public server would.
class LocalTimestampServer {
 public:
  explicit LocalTimestampServer(const TempFolder& temp) : temp_(temp) {}
  ~LocalTimestampServer() {
    if (listening_ >= 0) ::shutdown(listening_, SHUT_RDWR);  // ends accept()
    if (server_.joinable()) server_.join();
    if (listening_ >= 0) ::close(listening_);
  }

  // Makes the TSA's key and certificate and starts listening; "" or why not.
  std::string Start() {
    if (!WriteFile(temp_ / "tsa.cnf", kConfig) || !WriteFile(temp_ / "tsa.serial", "01\n"))
      return "cannot write the TSA configuration";
    const ToolRun made = RunProgram(
        "/bin/sh", {"-c", "cd '" + temp_.path() + "' && openssl req -x509 -newkey rsa:2048 -nodes "
                          "-keyout tsa.key -out tsa.pem -days 1 -subj /CN=qk2-test-tsa "
                          "-config tsa.cnf -extensions tsa_ext 2>&1"});
    if (made.code != 0) return made.Shown();
    listening_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listening_ < 0 || ::bind(listening_, (sockaddr*)&address, sizeof address) != 0 ||
        ::listen(listening_, 4) != 0 || ::getsockname(listening_, (sockaddr*)&address, &length) != 0)
      return "cannot listen on 127.0.0.1";
    port_ = ntohs(address.sin_port);
    server_ = std::thread([this] { Serve(); });
    return "";
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  std::string Certificate() const { return temp_ / "tsa.pem"; }
  int Answered() const { return answered_; }

 private:
  static constexpr const char* kConfig =
      "[ req ]\ndistinguished_name = dn\n[ dn ]\n"
      "[ tsa_ext ]\nbasicConstraints = critical,CA:false\nkeyUsage = critical,digitalSignature\n"
      "extendedKeyUsage = critical,timeStamping\n"
      "[ tsa ]\ndefault_tsa = tsa_config\n"
      "[ tsa_config ]\nserial = tsa.serial\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
      "digests = sha256, sha1\ness_cert_id_alg = sha256\n";

  void Serve() {
    for (;;) {
      const int connection = ::accept(listening_, nullptr, nullptr);
      if (connection < 0) return;
      Answer(connection);
      ::close(connection);
    }
  }

  // One request: headers, then Content-Length bytes of query.
  void Answer(int connection) {
    std::string request;
    char buffer[4096];
    size_t bodyAt = std::string::npos, wanted = 0;
    while (bodyAt == std::string::npos || request.size() < bodyAt + wanted) {
      const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, (size_t)n);
      if (bodyAt == std::string::npos && (bodyAt = request.find("\r\n\r\n")) != std::string::npos) {
        bodyAt += 4;
        const size_t field = request.find("Content-Length:");
        if (field == std::string::npos || field > bodyAt) return;
        wanted = std::strtoul(request.c_str() + field + 15, nullptr, 10);
      }
    }
    if (!WriteFile(temp_ / "query.tsq", request.substr(bodyAt, wanted))) return;
    const ToolRun reply = RunProgram(
        "/bin/sh", {"-c", "cd '" + temp_.path() + "' && openssl ts -reply -config tsa.cnf "
                          "-queryfile query.tsq -signer tsa.pem -inkey tsa.key -out reply.tsr 2>&1"});
    if (reply.code != 0) return;
    const std::string body = ReadFileOrEmpty(temp_ / "reply.tsr");
    const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: application/timestamp-reply\r\n"
                                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    if (::send(connection, response.data(), response.size(), 0) == (ssize_t)response.size()) ++answered_;
  }

  const TempFolder& temp_;
  int listening_ = -1;
  int port_ = 0;
  std::thread server_;
  std::atomic<int> answered_{0};
};

// The signature is time-stamped by the server given: the stamp verifies
// against that server's certificate. A server that cannot be reached fails
// the command with the signing exit code and leaves nothing behind.
TEST_F(MakeUpdater, TimeStampsTheSignature) {
  if (!OnPath("osslsigncode") || !OnPath("openssl"))
    GTEST_SKIP() << "osslsigncode or openssl is not installed (tools/setup.sh installs them)";
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  const std::string cert = temp_ / "cert.pem", key = temp_ / "key.pem";
  const ToolRun made =
      RunProgram("/bin/sh", {"-c", "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key +
                                       "' -out '" + cert + "' -days 1 -subj /CN=qk2-test 2>&1"});
  ASSERT_EQ(made.code, 0) << made.Shown();
  LocalTimestampServer tsa(temp_);
  ASSERT_EQ(tsa.Start(), "");

  const std::string exe = temp_ / "Stamped.exe";
  const ToolRun run = Make(exe, {"--sign", "--cert", cert, "--key", key, "--timestamp", tsa.Url()});
  ASSERT_EQ(run.code, 0) << run.Shown();
  EXPECT_EQ(tsa.Answered(), 1);
  const ToolRun check =
      RunProgram("/bin/sh", {"-c", "osslsigncode verify -CAfile '" + cert + "' -TSA-CAfile '" +
                                       tsa.Certificate() + "' -in '" + exe + "' 2>&1"});
  EXPECT_EQ(check.code, 0) << check.Shown();
  EXPECT_NE(check.out.find("Timestamp Server Signature verification: ok"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("Signature verification: ok"), std::string::npos) << check.out;

  // Port 1 of the loopback: nobody listens there.
  const std::string unreachable = "http://127.0.0.1:1/";
  const std::string failed = temp_ / "Unstamped.exe";
  const ToolRun refused = Make(failed, {"--sign", "--cert", cert, "--key", key, "--timestamp", unreachable});
  EXPECT_EQ(refused.code, 4) << refused.Shown();
  EXPECT_NE(refused.err.find("qk2: make-updater: osslsigncode could not sign"), std::string::npos)
      << refused.err;
  EXPECT_FALSE(FileExists(failed));
  EXPECT_FALSE(FileExists(failed + ".partial"));
  EXPECT_FALSE(FileExists(failed + ".signed"));
}

TEST_F(MakeUpdater, SigningWithoutOsslsigncodeSaysSo) {
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  const std::string exe = temp_ / "Update.exe";
  // No PATH that holds osslsigncode.
  const ToolRun run =
      RunProgram("/usr/bin/env", {"PATH=" + temp_.path(), ToolPath(), "make-updater", folder_, "-o",
                                  exe, "--base", base_, "--sign", "--cert", base_, "--key", base_});
  EXPECT_EQ(run.code, 4) << run.Shown();
  EXPECT_EQ(run.err,
            "qk2: make-updater: --sign needs osslsigncode, which is not on PATH; install it "
            "(Debian: apt install osslsigncode), or make the updater without --sign and sign it "
            "with your own tools\n");
  EXPECT_FALSE(FileExists(exe));
}
#else
TEST_F(MakeUpdater, SigningWithoutOsslsigncodeSaysSo) {
  WriteUpdateFolder(folder_, StandardIniLines(), StandardFiles());
  const std::string exe = temp_ / "Update.exe";
  const ToolRun run = Make(exe, {"--sign", "--cert", base_, "--key", base_});
  EXPECT_EQ(run.code, 4) << run.Shown();
  EXPECT_EQ(run.err,
            "qk2: make-updater: --sign needs osslsigncode, which is not on PATH; install it "
            "(Debian: apt install osslsigncode), or make the updater without --sign and sign it "
            "with your own tools\n");
  EXPECT_FALSE(FileExists(exe));
}
#endif

// ------------------------------------------ the whole run (host simulation)

#if !defined(_WIN32)
class MadeUpdaterRun : public HostTest {};

// The made updater's resources installed in the simulation, the wizard
// clicked through with the agreement accepted: the update places exactly
// the folder's update files, with their time stamps.
TEST_F(MadeUpdaterRun, PlacesExactlyTheFolderFiles) {
  if (!HaveFixtureBase()) GTEST_SKIP() << "no test image to make a base from";
  TempFolder temp;
  const std::string folder = temp / "update", base = temp / "base.exe", exe = temp / "Update.exe";
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteFixtureBase(base));
  WriteUpdateFolder(folder, StandardIniLines(), StandardFiles());
  const ToolRun run = RunQk2({"make-updater", folder, "-o", exe, "--base", base});
  ASSERT_EQ(run.code, 0) << run.Shown();
  const std::string package = Resource(exe, kUpdateType, kPackageResourceId);
  const std::string digest = Resource(exe, kUpdateType, kPackageDigestResourceId);

  StartupEnv env(Root());
  env.dataPath = At("save");
  env.InstallTempFolder();
  env.InstallRegistry();
  env.InstallGame();
  ASSERT_TRUE(MakeTestFolder(env.dataPath));
  HostSetResource(kPackageResourceType, kPackageResourceId, package.data(), (u32)package.size());
  HostSetResource(kPackageResourceType, kPackageDigestResourceId, digest.data(),
                  (u32)digest.size());
  std::string agreement;
  HostSetDialogScript([&agreement](WindowHandle dialog) {
    agreement = HostDialogControl(kIdAgreementBox) ? HostDialogControl(kIdAgreementBox)->text : "";
    HostClick(dialog, kIdAgree);
    for (int press = 0; press < 3; ++press) HostClick(dialog, kIdNext);
  });
  EXPECT_EQ(UpdaterMain(HostModule()), 1);
  EXPECT_TRUE(HostMessageBoxes().empty()) << HostMessageBoxes().front().text;
  EXPECT_EQ(agreement, kAgreementText);

  auto names = [](const std::string& windowsFolder) {
    return FolderNames(HostPath(windowsFolder.c_str()));
  };
  // The simulation names files with the updater's cp932 bytes.
  EXPECT_EQ(names(env.installFolder),
            (std::vector<std::string>{"GAME.DAT", "SETUP.INI", "ステージ.DAT"}));
  EXPECT_EQ(names(env.dataPath), std::vector<std::string>{"SAVE.DAT"});
  EXPECT_TRUE(env.TempFiles().empty());
  const std::pair<std::string, std::string> placed[] = {
      {env.installFolder + "\\GAME.DAT", "GAME.DAT"},
      {env.installFolder + "\\ステージ.DAT", NATIVE("ステージ.DAT")},
      {env.dataPath + "\\SAVE.DAT", "SAVE.DAT"}};
  for (const auto& file : placed) {
    const std::string native = HostPath(file.first.c_str());
    EXPECT_EQ(ReadFileOrEmpty(native), ReadFileOrEmpty(PathIn(folder, file.second))) << file.second;
    EXPECT_EQ(Modified(native), kFolderTime) << file.second;
  }
}
#endif

}  // namespace
}  // namespace qk2test
