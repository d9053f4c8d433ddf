// qk2: the publisher's tool. Makes ready updaters from update folders, and
// builds, checks, lists and extracts update packages.
//
//   qk2 make-updater UPDATE_FOLDER -o NAME.exe [options]
//   qk2 verify FILE
//   qk2 list [--json] FILE
//   qk2 extract FILE [NAME...] [-C FOLDER]
//   qk2 pack [options] OUT.pkg FILE...
//
// FILE is a package file or an executable that carries one. `extract` and
// `list` read through the updater's own reader (OpenPackage over the mapped
// package, and for extract its windowed content pieces), so they exercise
// the real reader and decoder; every problem is reported on stderr in
// English. `verify` checks more than the updater does: everything qk2
// itself guarantees of what it writes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/entry_content.h"
#include "package/format.h"
#include "package/package.h"
#include "packer/package_writer.h"
#include "platform/text.h"
#include "tools/qk2_common.h"
#include "tools/qk2_make_updater.h"
#include "tools/qk2_package.h"
#include "tools/qk2_preview.h"
#include "tools/qk2_verify.h"


namespace {

const char kUsage[] =
    "usage: qk2 COMMAND [ARGUMENTS]\n"
    "  qk2 make-updater UPDATE_FOLDER -o NAME.exe [--base Updater.exe] [-1]\n"
    "                   [--sign --cert C --key K [--pass P]]\n"
    "                                  check an update folder, write the updater\n"
    "  qk2 check UPDATE_FOLDER [--werror] [--json]\n"
    "                                  check an update folder, write nothing\n"
    "  qk2 preview UPDATE_FOLDER|FILE --install DIR [--data DIR] [--mode N]\n"
    "              [--disk N=DIR ...] [--json]\n"
    "                                  what the update would do to an installation\n"
    "  qk2 verify FILE                 check a package or an updater thoroughly\n"
    "  qk2 list [--json] [--no-verify] FILE\n"
    "                                  show the entries of a package or an updater\n"
    "  qk2 extract FILE [NAME...] [-C DIR] [--no-verify]\n"
    "                                  write entries (all when no NAME) into DIR\n"
    "  qk2 pack [options] OUT.pkg FILE...\n"
    "                                  build a bare package from files\n"
    "  qk2 help [COMMAND]              this text, or a command's (or COMMAND --help)\n"
    "  qk2 --version, -V               the version of qk2 and of the updater it makes\n"
    "FILE is a package file or an executable that carries a package as resource\n"
    "\"UPDATE\" 102. Entry names are at most 259 bytes in cp932.\n";

const char kPackUsage[] =
    "usage: qk2 pack [options] OUT.pkg FILE...\n"
    "Builds a package of the files, each entry named by its file name, compressed\n"
    "where that pays and scrambled. (An updater needs more: see make-updater.)\n"
    "  --store            keep every entry uncompressed\n"
    "  --no-scramble      do not scramble the stored bytes\n"
    "  --plain-directory  store the directory uncompressed\n"
    "  -1                 compress fast instead of best\n"
    "  --progress         show the progress bar even when stderr is no terminal\n";

const char kListUsage[] =
    "usage: qk2 list [--json] [--no-verify] FILE\n"
    "Shows each entry of the package in FILE (a package or an updater): flags,\n"
    "content and stored sizes, time stamp (UTC) and name. With --json, one JSON\n"
    "object on stdout, UTF-8:\n"
    "  {\"executable\": bool, \"packageSize\": n, \"compressedDirectory\": bool,\n"
    "   \"entries\": [{\"name\", \"flags\", \"compressed\", \"scrambled\", \"contentSize\",\n"
    "                \"storedSize\", \"modified\", \"damaged\"[, \"error\"]}]}\n"
    "An updater whose package does not match its digest is refused (exit 1);\n"
    "--no-verify lists it anyway.\n";

const char kExtractUsage[] =
    "usage: qk2 extract FILE [NAME...] [-C DIR] [--no-verify]\n"
    "Writes the named entries (all when no NAME is given) of the package in FILE\n"
    "(a package or an updater) into DIR (default: the current folder), with their\n"
    "time stamps, a window at a time through the updater's own reader. Each file\n"
    "is written beside its destination and replaces it once whole. A name that is\n"
    "no plain file name, or that names the same file as one written before, is\n"
    "reported and skipped (exit 1). An updater whose package does not match its\n"
    "digest is refused, nothing written (exit 1); --no-verify extracts it anyway.\n";

const char kVerifyUsage[] =
    "usage: qk2 verify FILE\n"
    "Checks the package in FILE (a package or an updater): the header, the 16-byte\n"
    "alignment and zero padding, the directory, every entry's stream decoding to\n"
    "exactly its content size and using exactly its stored bytes, names terminated\n"
    "and unique; for an updater also the package resource \"UPDATE\" 102 and the\n"
    "digest resource \"UPDATE\" 103 matching it. Prints each problem as\n"
    "FILE: problem on stderr; exit code 1 when there is any.\n";

int Usage(const std::string& message, const char* usage = kUsage) {
  return UsageError(message, usage);
}

// A command's whole help: its usage, its options, the exit codes.
void PrintHelp(const char* usage) {
  std::fputs(usage, stdout);
  std::fputs(kExitCodesHelp, stdout);
}

// Checks an entry name given in the terminal's encoding and returns it in
// cp932, or false after an error message.
bool EntryName(const std::string& given, std::string* name) {
  if (!ToCp932(given, name)) {
    Report(kExitUsage, "'" + given + "': name cannot be written in cp932 (Shift-JIS)");
    return false;
  }
  if (name->empty() || name->size() > kMaxEntryNameLength) {
    Report(kExitUsage, "'" + given + "': entry name must be 1 to 259 bytes in cp932, it is " +
                           std::to_string(name->size()));
    return false;
  }
  return true;
}

// ---- the package through the updater's reader

// The package's bytes, opened as the updater opens its resource. Stays
// alive for the whole run: `opened` points into it.
PackageInput input;
Package opened;

// Opens the package of `path`. An updater whose package does not match its
// digest is refused before anything is read from it, unless `unchecked`
// (--no-verify), which says so.
int OpenPackageFile(const std::string& path, bool unchecked) {
  if (const int code = LoadPackageInput(path, &input)) return code;
  if (!DigestMatches(input)) {
    if (!unchecked)
      return Report(kExitProblem, path +
                                      ": the package does not match its digest resource "
                                      "\"UPDATE\" 103: it is damaged or was changed, and the "
                                      "updater would refuse it (--no-verify reads it anyway)");
    Report(kExitOk, "warning: " + path +
                        ": the package does not match its digest; read anyway (--no-verify)");
  }
  if (!input.size || (uint64_t)input.size >= 0xFFFFFFFFull)
    return Report(kExitProblem, path + ": not a package (size " + std::to_string(input.size) + ")");
  opened.source = input.data;
  opened.size = (u32)input.size;
  if (!OpenPackage(&opened))
    return Report(kExitProblem, path + ": damaged package (header or directory cannot be read)");
  return kExitOk;
}

// Why the content of an entry could not be made.
std::string PiecesFailure(const ContentPieces& pieces) {
  if (pieces.failure == kPiecesNoMemory) return "not enough memory";
  return (pieces.record->flags & kEntryFlagCompressed) ? "damaged compressed stream"
                                                       : "stored bytes run past the package";
}

// Whether the content of `record` can be made, a window at a time as the
// updater makes it: nothing of it is kept.
bool EntrySound(const PackageEntry& record, u32 dataOffset, std::string* error) {
  ContentPieces pieces;
  bool sound = OpenContentPieces(&opened, &record, dataOffset, &pieces);
  while (sound && pieces.remaining) sound = NextContentPiece(&pieces);
  CloseContentPieces(&pieces);
  if (!sound) *error = PiecesFailure(pieces);
  return sound;
}

std::string FlagText(const PackageEntry& record) {
  std::string text = (record.flags & kEntryFlagCompressed) ? "compressed"
                     : (record.flags & kEntryFlagPatch)    ? "patch"
                                                           : "stored";
  if (record.scrambled == kEntryScrambled) text += ",scrambled";
  return text;
}

const char* JsonBool(bool value) { return value ? "true" : "false"; }

// ---- commands

int CommandPack(const std::vector<std::string>& args) {
  PackOptions options;
  EntryCompression compression = EntryCompression::kIfSmaller;
  bool scramble = true;
  bool progressWanted = false;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "--store")
      compression = EntryCompression::kNever;
    else if (arg == "--no-scramble")
      scramble = false;
    else if (arg == "--plain-directory")
      options.compressDirectory = false;
    else if (arg == "-1")
      options.effort = CompressEffort::kFast;
    else if (arg == "--progress")
      progressWanted = true;
    else if (arg.size() > 1 && arg[0] == '-')
      return Usage("pack: unknown option " + arg, kPackUsage);
    else
      paths.push_back(arg);
  }
  if (paths.size() < 2) return Usage("pack: give the package and at least one file", kPackUsage);
  for (size_t i = 1; i < paths.size(); ++i)
    if (SameExistingFile(paths[0], paths[i]))
      return Report(kExitUsage, "pack: " + paths[0] + " is " + paths[i] +
                                    ", one of the files to pack; nothing was written");
  std::vector<PackInput> inputs;
  uint64_t totalBytes = 0;
  for (size_t i = 1; i < paths.size(); ++i) {
    PackInput entry;
    if (!EntryName(BaseName(paths[i]), &entry.name)) return kExitUsage;
    for (const PackInput& earlier : inputs)
      if (OsCompareNoCase(earlier.name.c_str(), entry.name.c_str()) == 0)
        return Report(kExitUsage,
                      "'" + paths[i] + "': a file of the same name is already in the package");
    std::string error;
    if (!ReadPackInput(paths[i], &entry, &error)) return Report(kExitIo, error);
    entry.compression = compression;
    entry.scramble = scramble;
    totalBytes += entry.content.size();
    inputs.push_back(std::move(entry));
  }
  const size_t count = inputs.size();
  PackProgress progress(count, totalBytes,
                        progressWanted || (StderrIsTerminal() && PackingTakesAWhile(totalBytes)));
  std::vector<uint8_t> package;
  std::string error;
  const bool packed = AssemblePackage(std::move(inputs), options, &progress, &package, &error);
  progress.Finish();
  if (!packed) return Report(kExitProblem, "pack: " + error);
  if (!WriteWholeFile(paths[0], package, &error)) return Report(kExitIo, error);
  std::printf("%s: %zu entries, %zu bytes\n", paths[0].c_str(), count, package.size());
  return kExitOk;
}

int CommandList(const std::vector<std::string>& args) {
  bool json = false;
  bool unchecked = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "--json")
      json = true;
    else if (arg == "--no-verify")
      unchecked = true;
    else if (arg.size() > 1 && arg[0] == '-')
      return Usage("list: unknown option " + arg, kListUsage);
    else
      files.push_back(arg);
  }
  if (files.size() != 1) return Usage("list: give one package or updater", kListUsage);
  if (const int code = OpenPackageFile(files[0], unchecked)) return code;
  int status = kExitOk;
  const PackageHeader& header = opened.image->header;
  if (json) {
    std::printf(
        "{\"executable\": %s, \"packageSize\": %zu, \"compressedDirectory\": %s, "
        "\"entries\": [",
        JsonBool(input.executable), input.size,
        JsonBool((header.flags & kPackageFlagCompressedDirectory) != 0));
  } else {
    // The name goes last: cp932 names have no fixed width in a terminal.
    std::printf("%-20s %10s %10s  %-28s  %s\n", "flags", "content", "stored", "modified (UTC)",
                "name");
  }
  u32 dataOffset = kPackageHeaderSize;
  for (u32 i = 0; i < header.entryCount; ++i) {
    const PackageEntry& record = opened.image->entries[i];
    std::string error;
    const bool sound = EntrySound(record, dataOffset, &error);

    if (!sound)
      status = Report(kExitProblem, "'" + ShownName(record.name) + "': damaged entry: " + error);
    dataOffset += AlignedStoredSize(record.storedSize);
    const std::string modified = IsoTime(FileTime{record.modifiedLow, record.modifiedHigh});
    // OpenPackage has made sure that every name ends within its field.
    const std::string name(record.name, strnlen(record.name, sizeof record.name));
    if (json) {
      std::printf(
          "%s\n  {\"name\": %s, \"flags\": %u, \"compressed\": %s, \"scrambled\": %s, "
          "\"contentSize\": %u, \"storedSize\": %u, \"modified\": \"%s\", \"damaged\": %s",
          i ? "," : "", JsonString(Cp932ToUtf8(name)).c_str(), (unsigned)record.flags,
          JsonBool((record.flags & kEntryFlagCompressed) != 0),
          JsonBool(record.scrambled == kEntryScrambled), (unsigned)record.contentSize,
          (unsigned)record.storedSize, modified.c_str(), JsonBool(!sound));
      if (!sound) std::printf(", \"error\": %s", JsonString(error).c_str());
      std::printf("}");
    } else {
      std::printf("%-20s %10u %10u  %-28s  %s%s\n", FlagText(record).c_str(),
                  (unsigned)record.contentSize, (unsigned)record.storedSize, modified.c_str(),
                  ShownName(name).c_str(), sound ? "" : "  (damaged)");
    }
  }
  if (json) std::printf("%s]}\n", header.entryCount ? "\n" : "");
  return status;
}

// The name an entry gets in the folder: on Linux its cp932 name in UTF-8,
// character by character, so that the trail byte of a double-byte
// character is never taken for a separator.
std::string LocalName(const std::string& cp932) {
#if defined(_WIN32)
  return cp932;
#else
  return Cp932ToUtf8(cp932);
#endif
}


// The first `count` stored bytes of the entry at `dataOffset` have been
// read: their pages of the mapped package may go.
void ReleaseRead(u32 dataOffset, u32 count) {
  if (!input.executable) input.mapped.Release(dataOffset, count);
}

// Writes the content of `record` to `file` a piece at a time, as the
// updater places an entry: a temporary file beside it that takes its place
// once whole, with the entry's time stamp. Pages of the package already
// read are handed back as the pieces go by.
int WriteEntry(const PackageEntry& record, u32 dataOffset, const std::string& file) {
  const std::string shown = "'" + ShownName(record.name) + "'";
  ContentPieces pieces;
  if (!OpenContentPieces(&opened, &record, dataOffset, &pieces))
    return Report(kExitProblem, shown + ": damaged entry: " + PiecesFailure(pieces));
  OutputFile out;
  std::string error;
  bool ok = out.Open(file, &error);
  for (bool more = true; ok && more;) {
    // A stored entry is one piece as long as the entry: it goes out in
    // windows, each handed back once written.
    for (u32 done = 0; ok && done < pieces.pieceLength; done += kContentPieceSize) {
      const u32 length = std::min<u32>(kContentPieceSize, pieces.pieceLength - done);
      ok = out.Write(pieces.piece + done, length, &error);
      if (!pieces.window && !pieces.input) ReleaseRead(dataOffset, done + length);
    }
    if (pieces.input) ReleaseRead(dataOffset, pieces.fed);
    else if (pieces.window) ReleaseRead(dataOffset, StreamBytesConsumed(&pieces.decoder));
    more = ok && pieces.remaining;
    if (more && !NextContentPiece(&pieces)) {
      CloseContentPieces(&pieces);
      return Report(kExitProblem, shown + ": damaged entry: " + PiecesFailure(pieces));
    }
  }
  CloseContentPieces(&pieces);
  ReleaseRead(dataOffset, record.storedSize);
  const FileTime modified = {record.modifiedLow, record.modifiedHigh};
  if (!ok || !out.Commit(&modified, false, &error)) return Report(kExitIo, error);
  return kExitOk;
}

struct Extraction {
  std::string package;  // the file being read
  std::string folder;
  std::set<std::string> written;  // WindowsFileKey of each name written
};

// Writes entry `name`. A name that would leave the folder, that names a
// file written before (as Windows sees names), or whose file is the package
// itself is refused with a message; the others go on.
int ExtractOne(Extraction* run, const std::string& name) {
  u32 dataOffset = 0;
  const PackageEntry* record = FindPackageRecord(&opened, name.c_str(), &dataOffset);
  const std::string shown = "'" + ShownName(name) + "'";
  if (!record) return Report(kExitProblem, shown + ": not in the package");
  // A patch is no file: it needs the installed one. Its whole copy, when the
  // package has one, is written under the patch's name instead.
  if (record->flags & kEntryFlagPatch) {
    if (FindPackageRecord(&opened, (name + kWholeCopySuffix).c_str(), &dataOffset)) return kExitOk;
    return Report(kExitProblem, shown + ": a patch, which needs the installed file; skipped");
  }
  std::string fileName = record->name;
  WholeCopyOf(record->name, &fileName);
  if (!IsBareEntryName(fileName))
    return Report(kExitProblem, shown + ": not a plain file name; skipped");
  if (!run->written.insert(WindowsFileKey(fileName)).second)
    return Report(kExitProblem, shown + ": the same file as an entry written before; skipped");
  const std::string file = PathIn(run->folder, LocalName(fileName));
  if (SameExistingFile(file, run->package))
    return Report(kExitProblem, shown + ": would replace the package being read; skipped");
  if (const int code = WriteEntry(*record, dataOffset, file)) return code;
  std::printf("%s\n", ShownName(fileName).c_str());
  return kExitOk;
}

int CommandExtract(const std::vector<std::string>& args) {
  std::string folder = ".";
  bool unchecked = false;
  std::vector<std::string> given;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--no-verify") {
      unchecked = true;
    } else if (args[i] == "-C") {
      if (++i == args.size()) return Usage("extract: -C needs a folder", kExtractUsage);
      folder = args[i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Usage("extract: unknown option " + args[i], kExtractUsage);
    } else {
      given.push_back(args[i]);
    }
  }
  if (given.empty()) return Usage("extract: give the package or updater", kExtractUsage);
  std::vector<std::string> names;
  for (size_t i = 1; i < given.size(); ++i) {
    std::string name;
    if (!EntryName(given[i], &name)) return kExitUsage;
    names.push_back(name);
  }
  if (const int code = OpenPackageFile(given[0], unchecked)) return code;
  if (names.empty())
    for (u32 i = 0; i < opened.image->header.entryCount; ++i)
      names.push_back(opened.image->entries[i].name);
  std::string error;
  if (!MakeFolders(folder, &error)) return Report(kExitIo, error);
  Extraction run{given[0], folder, {}};
  int status = kExitOk;
  for (const std::string& name : names) {
    const int code = ExtractOne(&run, name);
    if (code == kExitIo) return code;
    if (code) status = code;
  }
  return status;
}

int CommandVerify(const std::vector<std::string>& args) {
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-'))
    return Usage("verify: give one package or updater", kVerifyUsage);
  const std::string& path = args[0];
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(path, &bytes, &error)) return Report(kExitIo, error);
  Verification v;
  if (LooksLikeExecutable(bytes.data(), bytes.size()))
    VerifyExecutable(bytes, &v);
  else
    VerifyPackage(bytes.data(), bytes.size(), &v);
  for (const std::string& note : v.notes) std::printf("%s: note: %s\n", path.c_str(), note.c_str());
  for (const std::string& problem : v.problems)
    std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
  if (!v.ok())
    return Report(kExitProblem, path + ": " + std::to_string(v.problems.size()) +
                                    (v.problems.size() == 1 ? " problem" : " problems"));
  std::printf("%s: ok: %s%u entries, package %zu bytes%s%s\n", path.c_str(),
              v.executable ? "updater, " : "", (unsigned)v.entries, v.packageSize,
              v.digest ? ", digest matches" : "", v.signature ? ", signed" : "");
  return kExitOk;
}

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
  const char* usage;
};

const Command kCommands[] = {
    {"make-updater", CommandMakeUpdater, kMakeUpdaterUsage},
    {"check", CommandCheck, kCheckUsage},
    {"preview", CommandPreview, kPreviewUsage},
    {"verify", CommandVerify, kVerifyUsage},
    {"list", CommandList, kListUsage},
    {"extract", CommandExtract, kExtractUsage},
    {"pack", CommandPack, kPackUsage},
};

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

}  // namespace

namespace {
int Run(int argc, char** argv) {
  UseBinaryStandardStreams();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  const std::string name = args[0];
  args.erase(args.begin());
  if (name == "--version" || name == "-V") {
    std::printf("%s\n", VersionText().c_str());
    return kExitOk;
  }
  if (IsHelp(name) || name == "help") {
    if (args.empty()) {
      PrintHelp(kUsage);
      return kExitOk;
    }
    const Command* command = FindCommand(args[0]);
    if (!command) return Usage("unknown command " + args[0]);
    PrintHelp(command->usage);
    return kExitOk;
  }
  const Command* command = FindCommand(name);
  if (!command) return Usage(name.size() > 1 && name[0] == '-' ? "unknown option " + name
                                                               : "unknown command " + name);
  for (const std::string& arg : args)
    if (IsHelp(arg)) {
      PrintHelp(command->usage);
      return kExitOk;
    }
  return command->run(args);
}
}  // namespace

// Whatever a command meets, qk2 ends with a message and an exit code of its
// own, never an abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Report(kExitProblem, "not enough memory for this input");
  } catch (const std::exception& e) {
    return Report(kExitProblem, std::string("cannot go on: ") + e.what());
  }
}
