// qk2: builds, lists and extracts update packages.
//
//   qk2 pack [--store] [--no-scramble] [--plain-directory] OUT.pkg FILE...
//   qk2 list PKG
//   qk2 extract PKG [NAME...] [-C FOLDER]
//
// Entry names are cp932 inside a package. On Linux the command line and the
// terminal speak UTF-8, so names are converted with iconv on the way in and
// out; on Windows the ANSI code page already is cp932.
//
// `extract` writes through the updater's own code (OpenPackage and
// ExtractPackageEntry over the package bytes in memory), so it exercises the
// real reader, decoder and file placement. Everything that would make the
// updater show an error box is checked here first and reported on stderr;
// on Linux any box the updater still shows is recorded and printed too.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "flow/run_state.h"
#include "package/extract.h"
#include "package/format.h"
#include "package/package.h"
#include "packer/package_writer.h"
#include "platform/text.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/messagebox.h"
#endif

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage:\n"
    "  qk2 pack [options] OUT.pkg FILE...   build a package from files\n"
    "      --store            keep every entry uncompressed\n"
    "      --no-scramble      do not scramble the stored bytes\n"
    "      --plain-directory  store the directory uncompressed\n"
    "  qk2 list PKG                         show the entries of a package\n"
    "  qk2 extract PKG [NAME...] [-C DIR]   write entries (all when no NAME) into DIR\n"
    "  qk2 --help                           this text\n"
    "Entry names are the files' names, at most 259 bytes in cp932.\n"
    "Exit code: 0 success, 1 failure, 2 wrong usage.\n";

enum { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

int Fail(const std::string& message) {
  std::fprintf(stderr, "qk2: %s\n", message.c_str());
  return kExitFailure;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "qk2: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

// ---- text: command line and terminal <-> cp932 ----

#if defined(_WIN32)
bool ToCp932(const std::string& text, std::string* out) {
  *out = text;
  return true;
}
std::string FromCp932(const std::string& text) { return text; }
#else
bool Convert(const char* to, const char* from, const std::string& text, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string result(text.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* put = &result[0];
  size_t outLeft = result.size();
  const bool ok = iconv(cd, &in, &inLeft, &put, &outLeft) != (size_t)-1 && inLeft == 0;
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - outLeft);
  *out = result;
  return true;
}
bool ToCp932(const std::string& text, std::string* out) {
  return Convert("CP932", "UTF-8", text, out);
}
std::string FromCp932(const std::string& text) {
  std::string out;
  return Convert("UTF-8", "CP932", text, &out) ? out : text;
}
#endif

// Checks an entry name given in the terminal's encoding and returns it in
// cp932, or false after an error message.
bool EntryName(const std::string& given, std::string* name) {
  if (!ToCp932(given, name)) {
    Fail("'" + given + "': name cannot be written in cp932 (Shift-JIS)");
    return false;
  }
  if (name->empty() || name->size() > kMaxEntryNameLength) {
    Fail("'" + given + "': entry name must be 1 to 259 bytes in cp932, it is " +
         std::to_string(name->size()));
    return false;
  }
  return true;
}

// An entry name must stay inside the folder it is extracted to.
bool IsBareName(const std::string& name) {
  if (name == "." || name == "..") return false;
  for (const char* p = name.c_str(); *p; p = OsCharNext(p))
    if (*p == '\\' || *p == '/' || *p == ':') return false;
  return true;
}

// The last component of a path as typed (cp932-aware on Windows, where a
// trail byte may equal the backslash).
std::string BaseName(const std::string& path) {
  const char* start = path.c_str();
  for (const char* p = path.c_str(); *p; p = OsCharNext(p))
    if (*p == '/' || *p == '\\') start = p + 1;
  return start;
}

// ---- files ----

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
  out.close();
  return !out.fail();
}

// Last-write time of a file as a FILETIME.
bool FileModified(const std::string& path, FileTime* time) {
#if defined(_WIN32)
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  time->low = data.ftLastWriteTime.dwLowDateTime;
  time->high = data.ftLastWriteTime.dwHighDateTime;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  const int64_t units = ((int64_t)st.st_mtim.tv_sec + 11644473600LL) * 10000000LL +
                        st.st_mtim.tv_nsec / 100;
  *time = MakeFileTime(units < 0 ? 0 : (u64)units);
#endif
  return true;
}

// A FILETIME as "YYYY-MM-DDTHH:MM:SS.fffffffZ".
std::string IsoTime(const FileTime& time) {
  const u64 units = FileTimeValue(&time);
  const int64_t seconds = (int64_t)(units / 10000000) - 11644473600LL;
  const int64_t fraction = (int64_t)(units % 10000000);
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t inDay = seconds - days * 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%07lldZ",
                (long long)year, (long long)month, (long long)day, (long long)(inDay / 3600),
                (long long)(inDay / 60 % 60), (long long)(inDay % 60), (long long)fraction);
  return text;
}

// ---- the package through the updater's reader ----

// The package file's bytes, opened as the updater opens its resource.
// Stays alive for the whole run: PackageSource points into it.
std::vector<uint8_t> packageBytes;

bool OpenPackageFile(const std::string& path) {
  if (!ReadWholeFile(path, &packageBytes)) {
    Fail(path + ": cannot read the file");
    return false;
  }
  if (packageBytes.empty() || (uint64_t)packageBytes.size() >= 0xFFFFFFFFull) {
    Fail(path + ": not a package (size " + std::to_string(packageBytes.size()) + ")");
    return false;
  }
  ResolveDynamicApi();
  PackageSource = packageBytes.data();
  PackageSize = (u32)packageBytes.size();
  if (!OpenPackage()) {
    Fail(path + ": damaged package (header or directory cannot be read)");
    return false;
  }
  return true;
}

// The record named `name` (cp932) and its content, or false after a message.
bool CheckedEntry(const std::string& name, const PackageEntry** record,
                  std::vector<uint8_t>* content) {
  u32 dataOffset = 0;
  *record = FindPackageRecord(name.c_str(), &dataOffset);
  if (!*record) {
    Fail("'" + FromCp932(name) + "': not in the package");
    return false;
  }
  std::string error;
  if (!ExpandPackageEntry(packageBytes.data(), packageBytes.size(), **record, dataOffset,
                          content, &error)) {
    Fail("'" + FromCp932(name) + "': damaged entry: " + error);
    return false;
  }
  return true;
}

// Error boxes the updater's code showed since `from` (Linux records them).
void PrintErrorBoxes(size_t* from) {
#if !defined(_WIN32)
  const std::vector<HostMessageBox>& boxes = HostMessageBoxes();
  for (; *from < boxes.size(); ++*from)
    std::fprintf(stderr, "qk2: updater says: %s\n", FromCp932(boxes[*from].text).c_str());
#else
  (void)from;
#endif
}

std::string FlagText(const PackageEntry& record) {
  std::string text = (record.flags & kEntryFlagCompressed) ? "compressed" : "stored";
  if (record.scrambled == kEntryScrambled) text += ",scrambled";
  return text;
}

// ---- subcommands ----

int CommandPack(const std::vector<std::string>& args) {
  PackOptions options;
  EntryCompression compression = EntryCompression::kIfSmaller;
  bool scramble = true;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "--store") compression = EntryCompression::kNever;
    else if (arg == "--no-scramble") scramble = false;
    else if (arg == "--plain-directory") options.compressDirectory = false;
    else if (arg.size() > 1 && arg[0] == '-') return Usage("pack: unknown option " + arg);
    else paths.push_back(arg);
  }
  if (paths.size() < 2) return Usage("pack: give the package and at least one file");
  std::vector<PackInput> inputs;
  for (size_t i = 1; i < paths.size(); ++i) {
    PackInput input;
    if (!EntryName(BaseName(paths[i]), &input.name)) return kExitFailure;
    for (const PackInput& earlier : inputs)
      if (OsCompareNoCase(earlier.name.c_str(), input.name.c_str()) == 0)
        return Fail("'" + paths[i] + "': a file of the same name is already in the package");
    if (!ReadWholeFile(paths[i], &input.content) || !FileModified(paths[i], &input.modified))
      return Fail(paths[i] + ": cannot read the file");
    input.compression = compression;
    input.scramble = scramble;
    inputs.push_back(std::move(input));
  }
  std::vector<uint8_t> package;
  std::string error;
  if (!BuildPackage(inputs, options, &package, &error)) return Fail(error);
  if (!WriteWholeFile(paths[0], package)) return Fail(paths[0] + ": cannot write the package");
  std::printf("%s: %zu entries, %zu bytes\n", paths[0].c_str(), inputs.size(), package.size());
  return kExitOk;
}

int CommandList(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("list: give one package");
  if (!OpenPackageFile(args[0])) return kExitFailure;
  int status = kExitOk;
  // The name goes last: cp932 names have no fixed width in a terminal.
  std::printf("%-20s %10s %10s  %-28s  %s\n", "flags", "content", "stored", "modified (UTC)",
              "name");
  u32 dataOffset = kPackageHeaderSize;
  for (u32 i = 0; i < CurrentPackage->header.entryCount; ++i) {
    const PackageEntry& record = CurrentPackage->entries[i];
    std::vector<uint8_t> content;
    std::string error;
    const bool sound = ExpandPackageEntry(packageBytes.data(), packageBytes.size(), record,
                                          dataOffset, &content, &error);
    if (!sound) status = Fail("'" + FromCp932(record.name) + "': damaged entry: " + error);
    dataOffset += AlignedStoredSize(record.storedSize);
    std::printf("%-20s %10u %10u  %-28s  %s%s\n", FlagText(record).c_str(),
                (unsigned)record.contentSize, (unsigned)record.storedSize,
                IsoTime(FileTime{record.modifiedLow, record.modifiedHigh}).c_str(),
                FromCp932(record.name).c_str(), sound ? "" : "  (damaged)");
  }
  return status;
}

// Where an entry goes: on Windows the folder itself; on Linux drive Q: is
// mapped to it so the updater's Windows paths work.
std::string DestinationFor(const std::string& folder, const std::string& name) {
#if defined(_WIN32)
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + name;
#else
  (void)folder;
  return "Q:\\" + name;
#endif
}

int ExtractOne(const std::string& folder, const std::string& name, size_t* boxesSeen) {
  const PackageEntry* record = nullptr;
  std::vector<uint8_t> content;
  if (!CheckedEntry(name, &record, &content)) return kExitFailure;
  if (!IsBareName(record->name))
    return Fail("'" + FromCp932(name) + "': entry name is not a plain file name");
  const std::string destination = DestinationFor(folder, record->name);
  if (destination.size() >= kPathSize)
    return Fail("'" + FromCp932(name) + "': path longer than 259 bytes");
  if (!ExtractPackageEntry(name.c_str(), destination.c_str(), 0)) {
    PrintErrorBoxes(boxesSeen);
    return Fail("'" + FromCp932(name) + "': cannot write " + FromCp932(destination));
  }
#if !defined(_WIN32)
  // Linux names files in UTF-8; the updater wrote the cp932 bytes.
  const std::string utf8 = FromCp932(record->name);
  if (utf8 != record->name) {
    std::error_code failed;
    fs::rename(fs::path(folder) / record->name, fs::path(folder) / utf8, failed);
    if (failed) return Fail(utf8 + ": cannot rename: " + failed.message());
  }
#endif
  std::printf("%s\n", FromCp932(record->name).c_str());
  return kExitOk;
}

int CommandExtract(const std::vector<std::string>& args) {
  std::string folder = ".";
  std::vector<std::string> given;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-C") {
      if (++i == args.size()) return Usage("extract: -C needs a folder");
      folder = args[i];
    } else {
      given.push_back(args[i]);
    }
  }
  if (given.empty()) return Usage("extract: give the package");
  std::vector<std::string> names;
  for (size_t i = 1; i < given.size(); ++i) {
    std::string name;
    if (!EntryName(given[i], &name)) return kExitFailure;
    names.push_back(name);
  }
  if (!OpenPackageFile(given[0])) return kExitFailure;
  if (names.empty())
    for (u32 i = 0; i < CurrentPackage->header.entryCount; ++i)
      names.push_back(CurrentPackage->entries[i].name);
  std::error_code failed;
  fs::create_directories(folder, failed);
  if (!fs::is_directory(folder, failed)) return Fail(folder + ": not a folder");
#if !defined(_WIN32)
  HostMapDrive('Q', fs::absolute(folder).string().c_str());
#endif
  size_t boxesSeen = 0;
  for (const std::string& name : names)
    if (ExtractOne(folder, name, &boxesSeen) != kExitOk) return kExitFailure;
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "pack") return CommandPack(args);
  if (command == "list") return CommandList(args);
  if (command == "extract") return CommandExtract(args);
  return Usage("unknown command " + command);
}
