#include "tools/qk2_make_updater.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "package/format.h"
#include "package/package.h"
#include "package/sha256.h"
#include "packer/pe_resources.h"
#include "packer/update_ini_check.h"
#if defined(QK2_PATCH_MAKER)
#include "packer/patch_maker.h"
#endif
#include "resources/resource_ids.h"
#include "tools/qk2_common.h"
#include "tools/qk2_package.h"
#include "platform/tool_process.h"
#include "tools/qk2_verify.h"

const char kMakeUpdaterUsage[] =
    "usage: qk2 make-updater UPDATE_FOLDER -o NAME.exe [options]\n"
    "Checks UPDATE_FOLDER and its UPDATE.INI, packs UPDATE.INI and every file it\n"
    "names, and writes NAME.exe: a copy of the base Updater.exe that carries the\n"
    "package as resource \"UPDATE\" 102 and its SHA-256 as resource \"UPDATE\" 103.\n"
    "  -o, --output NAME.exe  the updater to write (an existing one is replaced)\n"
    "  --base Updater.exe     the base image; by default Updater.exe beside qk2\n"
    "  -1                     compress fast instead of best\n"
    "  --patch-from OLD_DIR   an earlier installation (may be given more than once):\n"
    "                         each file of an UpdateFile line (not \"d\") found there\n"
    "                         at its path travels as a patch from every distinct old\n"
    "                         version to the new file, when that is smaller\n"
    "  --keep-whole           with --patch-from: carry each patched file whole too, for\n"
    "                         installations that match no old version\n"
    "  --werror               warnings of the folder check count as errors\n"
    "  -q, --quiet            print errors only: no warnings, no progress, no summary\n"
    "  -v, --verbose          print each entry as it is packed: sizes and how stored\n"
    "  --progress             show the progress bar even when stderr is no terminal\n"
    "  --sign                 sign NAME.exe with Authenticode (osslsigncode), last\n"
    "  --cert FILE            with --sign: the certificate (PEM or DER)\n"
    "  --key FILE             with --sign: its private key\n"
    "  --pass PASSWORD        with --sign: the key's password\n"
    "  --timestamp URL        with --sign: have the signature time-stamped by this\n"
    "                         RFC 3161 server, so that it stays valid after the\n"
    "                         certificate expires\n"
    "The folder is checked first, as qk2 check checks it: every error is printed as\n"
    "FILE:LINE: message, and then no updater is written; warnings are printed as\n"
    "FILE:LINE: warning: message when the updater is written (qk2 check shows\n"
    "them always).\n";

const char kCheckUsage[] =
    "usage: qk2 check UPDATE_FOLDER [--werror] [--json] [-q] [--patch-from OLD_DIR ...]\n"
    "Checks UPDATE_FOLDER and its UPDATE.INI as make-updater does, and writes\n"
    "nothing. UPDATE.INI is read with the updater's own INI reader and plan\n"
    "reader. Errors (the updater would fail, or the folder lacks a file) are\n"
    "printed as FILE:LINE: message; warnings (keys and sections the updater does\n"
    "not know, values it reads otherwise than written, paths that leave the\n"
    "installation, files no line names) as FILE:LINE: warning: message.\n"
    "  --werror  warnings count as errors\n"
    "  --json    print every diagnostic as a JSON object (file, line, column,\n"
    "            severity, code, message) in one array on stdout\n"
    "  -q        print errors only\n"
    "  --patch-from OLD_DIR  also say, for each UpdateFile line, whether an earlier\n"
    "            installation holds its file, as make-updater --patch-from looks\n";

namespace {

constexpr uint16_t kDialogType = 5;  // RT_DIALOG
const char kSigner[] = "osslsigncode";

struct MakeOptions {
  std::string folder;
  std::string output;
  std::string base;
  bool fast = false;
  bool progress = false;
  bool quiet = false;
  bool verbose = false;
  bool werror = false;
  bool sign = false;
  std::string cert;
  std::string key;
  std::string pass;
  bool hasPass = false;
  std::string timestamp;  // RFC 3161 server URL, or empty
  std::vector<std::string> patchFrom;  // earlier installations to patch from
  bool keepWhole = false;
};

int Usage(const std::string& message) {
  return UsageError("make-updater: " + message, kMakeUpdaterUsage);
}

int ParseOptions(const std::vector<std::string>& args, MakeOptions* o) {
  std::vector<std::string> folders;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // Options that take the next argument.
    std::string* value = arg == "-o" || arg == "--output" ? &o->output
                         : arg == "--base"                ? &o->base
                         : arg == "--cert"                ? &o->cert
                         : arg == "--key"                 ? &o->key
                         : arg == "--pass"                ? &o->pass
                         : arg == "--timestamp"           ? &o->timestamp
                                                          : nullptr;
    if (arg == "--patch-from") {
      if (++i == args.size() || args[i].empty()) return Usage(arg + " needs a value");
      std::error_code error;
      if (!std::filesystem::is_directory(args[i], error))
        return Report(kExitIo, args[i] + ": no such folder");
      o->patchFrom.push_back(args[i]);
    } else if (value) {
      if (++i == args.size()) return Usage(arg + " needs a value");
      if (!value->empty()) return Usage(arg + " is given twice");
      *value = args[i];
      if (value->empty()) return Usage(arg + " needs a value");
      if (value == &o->pass) o->hasPass = true;
    } else if (arg == "-1") {
      o->fast = true;
    } else if (arg == "--progress") {
      o->progress = true;
    } else if (arg == "--werror") {
      o->werror = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      o->verbose = true;
    } else if (arg == "--sign") {
      o->sign = true;
    } else if (arg == "--keep-whole") {
      o->keepWhole = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      folders.push_back(arg);
    }
  }
  if (folders.size() != 1) return Usage("give exactly one update folder");
  o->folder = folders[0];
  if (o->output.empty()) return Usage("give the updater to write with -o NAME.exe");
  if (o->sign && (o->cert.empty() || o->key.empty())) return Usage("--sign needs --cert and --key");
  if (!o->sign && (!o->cert.empty() || !o->key.empty() || o->hasPass || !o->timestamp.empty()))
    return Usage("--cert, --key, --pass and --timestamp belong to --sign");
  if (o->quiet && (o->verbose || o->progress)) return Usage("-q cannot go with -v or --progress");
  if (o->keepWhole && o->patchFrom.empty()) return Usage("--keep-whole belongs to --patch-from");
  return kExitOk;
}

// Where the base image is looked for when --base is not given.
std::vector<std::string> DefaultBases() {
  const std::string folder = ExecutableFolder();
  std::vector<std::string> bases;
  if (folder.empty()) return bases;
  // Installed, qk2 and Updater.exe sit side by side.
  bases.push_back(PathIn(folder, "Updater.exe"));
#if !defined(_WIN32)
  // In a build tree, the Linux qk2 of build/<preset> finds the Windows build
  // in build/win32.
  bases.push_back(PathIn(folder, "../win32/Updater.exe"));
#endif
  return bases;
}

int FindBase(MakeOptions* o) {
  if (!o->base.empty()) return kExitOk;
  const std::vector<std::string> bases = DefaultBases();
  for (const std::string& base : bases)
    if (IsExistingFile(base)) {
      o->base = base;
      return kExitOk;
    }
  std::string looked;
  for (const std::string& base : bases) looked += (looked.empty() ? "" : ", ") + base;
  return Report(kExitUsage, "make-updater: no base Updater.exe" +
                                (looked.empty() ? std::string() : " (looked for " + looked + ")") +
                                "; give it with --base");
}

// The base image loaded, checked to be an updater, and without any earlier
// package or digest resource.
int LoadBase(const std::string& path, PeResourceEditor* editor) {
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFile(path, &image, &error)) return Report(kExitIo, error);
  if (!editor->Load(std::move(image), &error))
    return Report(kExitProblem, path + ": not a PE32 image: " + error);
  for (uint16_t dialog : {uint16_t{IDD_WIZARD}, uint16_t{IDD_WIZARD_AGREEMENT}})
    if (!editor->FindAnyLanguage(kDialogType, dialog))
      return Report(kExitProblem, path + ": not an updater base image: it has no wizard dialog " +
                                      std::to_string(dialog));
  const ResourceKey type = ResourceKey::Name(std::string(kPackageResourceType));
  // An image that already carries a package (an updater made earlier) is a
  // fine base; its package and digest go, in whatever language they are.
  editor->RemoveAllLanguages(type, kPackageResourceId);
  editor->RemoveAllLanguages(type, kPackageDigestResourceId);
  return kExitOk;
}

// The check's diagnostics on stderr, errors first, each as FILE:LINE:
// message (warnings marked so, and counted as errors with `werror`); with
// `json`, one JSON array of them on stdout instead. Returns how many fail.
size_t PrintFolderCheck(const UpdateFolderCheck& check, bool json, bool werror, bool quiet) {
  struct Shown {
    const IniProblem* problem;
    bool warning;
  };
  std::vector<Shown> all;
  for (const IniProblem& p : check.problems) all.push_back({&p, false});
  for (const IniProblem& p : check.warnings) all.push_back({&p, !werror});
  if (json) {
    std::printf("[");
    for (size_t i = 0; i < all.size(); ++i) {
      const IniProblem& p = *all[i].problem;
      std::printf("%s\n  {\"file\": %s, \"line\": %d, \"column\": %d, \"severity\": \"%s\", "
                  "\"code\": %s, \"message\": %s}",
                  i ? "," : "", JsonString(TerminalToUtf8(p.file)).c_str(), p.line, p.column,
                  all[i].warning ? "warning" : "error", JsonString(p.code).c_str(),
                  JsonString(TerminalToUtf8(p.message)).c_str());
    }
    std::printf("%s]\n", all.empty() ? "" : "\n");
  } else {
    for (const Shown& shown : all)
      if (!quiet || !shown.warning)
        std::fprintf(stderr, "%s\n", FormatIniProblem(*shown.problem, shown.warning).c_str());
  }
  return check.problems.size() + (werror ? check.warnings.size() : 0);
}

// The output (and the files written on the way to it) must not be any
// input: the base image, UPDATE.INI, any file of the update folder, also
// through a link or a second name. Refused before anything is written.
int RefuseOutputOverInput(const MakeOptions& o, const UpdateFolderCheck& check) {
  std::vector<std::string> inputs = {o.base};
  std::vector<std::string> names;
  FolderFileNames(o.folder, &names);
  for (const std::string& name : names) inputs.push_back(PathIn(o.folder, name));
  for (const PlannedEntry& entry : check.entries) inputs.push_back(entry.path);
  for (const std::string& written : {o.output, o.output + ".partial", o.output + ".signed"})
    for (const std::string& input : inputs)
      if (SameExistingFile(written, input))
        return Report(kExitUsage, "make-updater: " + written + " is " + input +
                                      ", an input of this command; nothing was written");
  return kExitOk;
}

int ReadEntries(const UpdateFolderCheck& check, std::vector<PackInput>* inputs,
                uint64_t* totalBytes) {
  *totalBytes = 0;
  for (const PlannedEntry& entry : check.entries) {
    PackInput input;
    input.name = entry.name;
    input.compression = EntryCompression::kIfSmaller;
    // The updater reads the agreement texts in place, without descrambling.
    input.scramble = entry.scramble;
    std::string error;
    if (!ReadPackInput(entry.path, &input, &error)) return Report(kExitIo, error);
    *totalBytes += input.content.size();
    inputs->push_back(std::move(input));
  }
  return kExitOk;
}

// ---- patch entries

// What one entry became, for the summary.
struct PatchNote {
  std::string name;
  size_t versions;
  size_t patchBytes;
  size_t wholeBytes;  // the whole file as it would be stored
  bool used;
};

// Where an earlier installation `oldFolder` holds the file of UpdateFile
// `line`: its path below DataFolder, as the updater places it.
std::string OldVersionPath(const UpdateFolderCheck& check, const LineAccount& line,
                           const std::string& oldFolder) {
  return NativePathBelow(oldFolder, check.dataFolder.empty()
                                        ? line.path
                                        : check.dataFolder + "\\" + line.path);
}

#if defined(QK2_PATCH_MAKER)
// The UpdateFile line that places entry `name` below the installation
// folder (data files are the player's: they travel whole), or null.
const LineAccount* InstallLineOf(const UpdateFolderCheck& check, const std::string& name) {
  for (const LineAccount& line : check.lines)
    if (!line.copy && !line.dataRoot && WindowsFileKey(line.entry) == WindowsFileKey(name))
      return &line;
  return nullptr;
}

// The stored size of `content` as a whole entry: compressed when that pays.
// A compressed stream is never below 1/91 of its content, so a patch that
// small needs no trial compression to be known smaller.
size_t WholeStoredSize(const std::vector<uint8_t>& content, size_t patchBytes,
                       CompressEffort effort) {
  if (patchBytes * 91 < content.size()) return content.size() / 91 + 1;
  const size_t compressed = CompressBlock(content.data(), content.size(), effort).size();
  return CompressionPays(compressed, content.size()) ? compressed : content.size();
}

// Turns each entry whose file is found in an --patch-from folder into a
// patch from every distinct old version, when the patch is smaller than
// the whole entry; with --keep-whole the whole file stays as
// "<name>|whole", the updater's fallback.
int AddPatches(const MakeOptions& o, const UpdateFolderCheck& check,
               std::vector<PackInput>* inputs, std::vector<PatchNote>* notes) {
  const CompressEffort effort = o.fast ? CompressEffort::kFast : CompressEffort::kBest;
  std::vector<PackInput> wholes;
  for (PackInput& input : *inputs) {
    const LineAccount* line = InstallLineOf(check, input.name);
    if (!line || input.content.size() >= 0x7FFFFFFFull) continue;
    std::vector<std::vector<uint8_t>> olds;
    for (const std::string& folder : o.patchFrom) {
      const std::string old = OldVersionPath(check, *line, folder);
      if (!IsExistingFile(old)) continue;
      std::string error;
      olds.emplace_back();
      if (!ReadWholeFile(old, &olds.back(), &error)) return Report(kExitIo, error);
      if (olds.back().size() >= 0x7FFFFFFFull) olds.pop_back();
    }
    if (olds.empty()) continue;
    std::vector<PatchOldVersion> versions;
    for (const std::vector<uint8_t>& old : olds) versions.push_back({old.data(), old.size()});
    PatchMakeReport report;
    std::vector<uint8_t> patch =
        MakePatch(versions, input.content.data(), input.content.size(), effort, &report);
    PatchNote note{input.name, report.sources, patch.size(),
                   WholeStoredSize(input.content, patch.size(), effort), false};
    note.used = patch.size() < note.wholeBytes;
    notes->push_back(note);
    if (!note.used) continue;
    if (o.keepWhole) {
      PackInput whole = input;
      whole.name += kWholeCopySuffix;
      if (whole.name.size() > kMaxEntryNameLength)
        return Report(kExitProblem, "make-updater: --keep-whole: " + ShownName(whole.name) +
                                        " is longer than 259 bytes");
      wholes.push_back(std::move(whole));
    }
    input.content = std::move(patch);
    input.patch = true;
    input.scramble = false;  // read where it lies
    input.compression = EntryCompression::kNever;
  }
  for (PackInput& whole : wholes) inputs->push_back(std::move(whole));
  return kExitOk;
}
#else
int AddPatches(const MakeOptions&, const UpdateFolderCheck&, std::vector<PackInput>*,
               std::vector<PatchNote>*) {
  return Report(kExitUsage,
                "make-updater: --patch-from needs the patch maker, which this qk2 was built "
                "without (libdivsufsort); make patch updates with the Linux qk2");
}
#endif

void PrintPatchNotes(const std::vector<PatchNote>& notes) {
  for (const PatchNote& n : notes)
    std::printf(n.used ? "patch %s: from %zu old version%s, %zu bytes instead of %zu whole\n"
                       : "patch %s: from %zu old version%s, %zu bytes, not smaller than the "
                         "whole file (%zu bytes stored): carried whole\n",
                ShownName(n.name).c_str(), n.versions, n.versions == 1 ? "" : "s", n.patchBytes,
                n.wholeBytes);
}

int Sign(const MakeOptions& o, const std::string& unsignedPath, const std::string& signedPath) {
  std::vector<std::string> args = {"sign", "-certs", o.cert, "-key", o.key};
  if (o.hasPass) args.insert(args.end(), {"-pass", o.pass});
  if (!o.timestamp.empty()) args.insert(args.end(), {"-ts", o.timestamp});
  args.insert(args.end(), {"-h", "sha256", "-in", unsignedPath, "-out", signedPath});
  bool notFound = false;
  std::string error;
  RemoveFileQuietly(signedPath);  // osslsigncode does not write over a file
  const int code = RunProgram(kSigner, args, &notFound, &error);
  if (code < 0) return Report(kExitSigning, "make-updater: --sign: " + error);
  if (code != 0)
    return Report(kExitSigning, "make-updater: osslsigncode could not sign (exit code " +
                                    std::to_string(code) + ")");
  return kExitOk;
}

// The finished file checked once more as the updater will read it.
int CheckWritten(const std::string& path, bool signedImage) {
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFile(path, &image, &error)) return Report(kExitIo, error);
  Verification v;
  VerifyExecutable(image, &v);
  if (!v.digest && v.ok()) v.problems.push_back("no digest resource \"UPDATE\" 103");
  if (signedImage && !v.signature) v.problems.push_back("no Authenticode signature");
  for (const std::string& problem : v.problems) Report(kExitProblem, path + ": " + problem);
  return v.ok() ? kExitOk : kExitProblem;
}

std::string Mib(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MiB", (double)bytes / (1024.0 * 1024.0));
  return text;
}

// The closing summary: what went in, what the package holds, how long it
// took; with `verbose`, every entry first.
void PrintSummary(const std::vector<uint8_t>& packageBytes, uint64_t inputBytes,
                  std::chrono::steady_clock::time_point start, bool verbose) {
  Package package = {};
  package.source = packageBytes.data();
  package.size = (u32)packageBytes.size();
  if (!OpenPackage(&package)) return;
  size_t compressed = 0;
  for (u32 i = 0; i < package.image->header.entryCount; ++i) {
    const PackageEntry& e = package.image->entries[i];
    const bool isCompressed = (e.flags & kEntryFlagCompressed) != 0;
    compressed += isCompressed;
    if (verbose)
      std::printf("  %s: %u bytes, %s%s: %u bytes in the package\n", ShownName(e.name).c_str(),
                  (unsigned)e.contentSize, isCompressed ? "compressed" : "as it is",
                  e.scrambled == kEntryScrambled ? ", scrambled" : "", (unsigned)e.storedSize);
  }
  const size_t entries = package.image->header.entryCount;
  ReleasePackage(&package);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("in %llu bytes (%s), package %zu bytes (%s, %.1f%%); %zu entries: %zu compressed, "
              "%zu stored; %.2f s\n",
              (unsigned long long)inputBytes, Mib(inputBytes).c_str(), packageBytes.size(),
              Mib(packageBytes.size()).c_str(),
              inputBytes ? 100.0 * (double)packageBytes.size() / (double)inputBytes : 100.0,
              entries, compressed, entries - compressed, seconds);
}

}  // namespace

int CommandMakeUpdater(const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  MakeOptions o;
  if (const int code = ParseOptions(args, &o)) return code;

  // The folder first: it is what the publisher works on.
  const UpdateFolderCheck check = CheckUpdateFolder(o.folder);
  // When errors stop it, make-updater names them alone; qk2 check shows
  // the warnings beside them.
  const bool stopped = !check.ok() || (o.werror && !check.warnings.empty());
  const size_t failing = PrintFolderCheck(check, false, o.werror, o.quiet || (stopped && !o.werror));
  if (failing)
    return Report(kExitProblem, "make-updater: " + std::to_string(failing) +
                                    (failing == 1 ? " problem" : " problems") + " in " + o.folder +
                                    "; no updater was written");

  if (const int code = FindBase(&o)) return code;
  if (const int code = RefuseOutputOverInput(o, check)) return code;
  // Looked for now, so that a missing signer costs no packing.
  std::string signerPath;
  if (o.sign && !FindProgram(kSigner, &signerPath))
    return Report(kExitSigning,
                  std::string("make-updater: --sign needs osslsigncode, which is not on "
                              "PATH; install it (Debian: apt install osslsigncode), "
                              "or make the updater without --sign and sign it with "
                              "your own tools"));
  for (const std::string* file : {&o.cert, &o.key})
    if (o.sign && !IsExistingFile(*file)) return Report(kExitIo, *file + ": no such file");
  PeResourceEditor editor;
  if (const int code = LoadBase(o.base, &editor)) return code;

  std::vector<PackInput> inputs;
  uint64_t totalBytes = 0;
  if (const int code = ReadEntries(check, &inputs, &totalBytes)) return code;
  std::vector<PatchNote> patchNotes;
  if (!o.patchFrom.empty())
    if (const int code = AddPatches(o, check, &inputs, &patchNotes)) return code;
  PackOptions options;
  options.effort = o.fast ? CompressEffort::kFast : CompressEffort::kBest;
  PackProgress progress(inputs.size(), totalBytes,
                        o.progress || (!o.quiet && !o.verbose && StderrIsTerminal() &&
                                       PackingTakesAWhile(totalBytes)));
  std::vector<uint8_t> package;
  std::string error;
  const size_t entryCount = inputs.size();
  const bool packed = AssemblePackage(std::move(inputs), options, &progress, &package, &error);
  progress.Finish();
  if (!packed) return Report(kExitProblem, "make-updater: " + error);

  u8 digest[kSha256Size];
  Sha256(package.data(), (u32)package.size(), digest);
  const ResourceKey type = ResourceKey::Name(std::string(kPackageResourceType));
  editor.Set(type, kPackageResourceId, 0, package);
  editor.Set(type, kPackageDigestResourceId, 0, std::vector<uint8_t>(digest, digest + kSha256Size));
  std::vector<uint8_t> image;
  if (!editor.Write(&image, &error))
    return Report(kExitProblem, o.base + ": cannot place the package: " + error);

  // Written beside the output and moved over it at the end, so that a
  // failure leaves no half-made updater under the name.
  const std::string partial = o.output + ".partial";
  if (!WriteWholeFile(partial, image, &error)) return Report(kExitIo, error);
  std::string finished = partial;
  if (o.sign) {
    finished = o.output + ".signed";
    const int code = Sign(o, partial, finished);
    RemoveFileQuietly(partial);
    if (code) {
      RemoveFileQuietly(finished);
      return code;
    }
  }
  if (const int code = CheckWritten(finished, o.sign)) {
    RemoveFileQuietly(finished);
    return code;
  }
  if (!MoveOver(finished, o.output, &error)) {
    RemoveFileQuietly(finished);
    return Report(kExitIo, error);
  }
  if (o.quiet) return kExitOk;
  std::printf("%s: %zu entries, package %zu bytes, SHA-256 %s%s (base %s)\n", o.output.c_str(),
              entryCount, package.size(), Hex(digest, kSha256Size).c_str(),
              o.sign ? ", signed" : "", o.base.c_str());
  PrintPatchNotes(patchNotes);
  PrintSummary(package, totalBytes, start, o.verbose);
  return kExitOk;
}

namespace {
// With --patch-from: which UpdateFile lines find an old version to patch
// from, as make-updater looks for them.
void PrintPatchSources(const UpdateFolderCheck& check, const std::vector<std::string>& olds,
                       const std::string& folder) {
  const std::string ini = PathIn(folder, "UPDATE.INI");
  for (const LineAccount& line : check.lines) {
    if (line.copy) continue;
    const std::string where = ini + ":" + std::to_string(line.line) + ": note: " + line.key;
    if (line.dataRoot) {
      std::printf("%s: a \"d\" line: the player's file travels whole\n", where.c_str());
      continue;
    }
    size_t found = 0;
    for (const std::string& old : olds) found += IsExistingFile(OldVersionPath(check, line, old));
    std::printf(found ? "%s: old version in %zu of %zu --patch-from folders: a patch when smaller\n"
                      : "%s: no old version in the %zu --patch-from folders: travels whole\n",
                where.c_str(), found ? found : olds.size(), olds.size());
  }
}
}  // namespace

int CommandCheck(const std::vector<std::string>& args) {
  bool werror = false, json = false, quiet = false;
  std::vector<std::string> folders, olds;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--patch-from") {
      if (++i == args.size() || args[i].empty())
        return UsageError("check: --patch-from needs a value", kCheckUsage);
      olds.push_back(args[i]);
    } else if (arg == "--werror") {
      werror = true;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("check: unknown option " + arg, kCheckUsage);
    } else {
      folders.push_back(arg);
    }
  }
  if (folders.size() != 1) return UsageError("check: give exactly one update folder", kCheckUsage);
  const UpdateFolderCheck check = CheckUpdateFolder(folders[0]);
  const size_t failing = PrintFolderCheck(check, json, werror, quiet);
  if (json) return failing ? kExitProblem : kExitOk;
  if (failing)
    return Report(kExitProblem, "check: " + std::to_string(failing) +
                                    (failing == 1 ? " problem" : " problems") + " in " + folders[0]);
  if (!quiet && !olds.empty()) PrintPatchSources(check, olds, folders[0]);
  if (!quiet)
    std::printf("%s: ok: %zu entries, %zu lines read, %zu warnings\n", folders[0].c_str(),
                check.entries.size(), check.lines.size(), check.warnings.size());
  return kExitOk;
}
