#include "packer/update_ini_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "flow/update_plan.h"
#include "packer/encoding.h"
#include "packer/entry_names.h"
#include "platform/ini.h"
#include "platform/tool_files.h"
#include "platform/tool_text.h"
#include "settings/settings.h"


namespace {

// Limits of the updater's buffers (terminator not counted).
constexpr size_t kMaxName = 259;         // paths, tokens, copy lines, agreement names
constexpr size_t kMaxUpdateLine = 1023;  // an UpdateFile value
constexpr int kLastLineNumber = 15;

const char* const kAgreementKeys[] = {"AgreementText", "AgreementTitle"};

// ------------------------------------------------------------ cp932 text

// Bytes that stand for no character in cp932 on any system.
bool IsUnusedSingleByte(unsigned char c) { return c == 0x80 || c == 0xA0 || c >= 0xFD; }

// Byte length of the character at `at`: a lead byte takes the next byte
// with it, whatever that is, as the updater's own scans do.
size_t CharLength(const std::string& s, size_t at) {
  return IsCp932LeadByte((unsigned char)s[at]) && at + 1 < s.size() ? 2 : 1;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

// Equal without regard to the case of ASCII letters; the bytes of a
// double-byte character compare exactly, so a trail byte that happens to
// be a letter is never folded.
bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size();) {
    const size_t n = CharLength(a, i);
    if (n == 2) {
      if (a.compare(i, 2, b, i, 2) != 0) return false;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
    i += n;
  }
  return true;
}

std::string FoldKey(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size();) {
    const size_t n = CharLength(out, i);
    if (n == 1) out[i] = FoldAscii(out[i]);
    i += n;
  }
  return out;
}

#if defined(_WIN32)
// File names and messages already are in the ANSI code page (cp932).
std::string Display(const std::string& cp932) { return cp932; }
#else
// Names in messages as the terminal shows them.
std::string Display(const std::string& cp932) {
  std::string utf8;
  return ConvertText("UTF-8", "CP932", cp932, &utf8) ? utf8 : cp932;
}
#endif

// Byte index of the first byte that starts no valid cp932 character, or
// npos when the whole text is valid.
size_t FirstInvalidCp932(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = (unsigned char)s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (IsUnusedSingleByte(c)) return i;
    const size_t n = IsCp932LeadByte(c) ? 2 : 1;
    if (i + n > s.size() || !IsCp932Character(s.data() + i, n)) return i;
    i += n;
  }
  return std::string::npos;
}

bool HasNonAscii(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return (unsigned char)c >= 0x80; });
}

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = (unsigned char)s[i];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!n || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if (((unsigned char)s[i + k] >> 6) != 2) return false;
    i += n;
  }
  return true;
}

// --------------------------------------------------------- INI reading

// Blanks that the system's INI reader drops around names and values.
bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string Trim(const std::string& s) {
  size_t from = 0, to = s.size();
  while (from < to && IsIniBlank(s[from])) ++from;
  while (to > from && IsIniBlank(s[to - 1])) --to;
  return s.substr(from, to - from);
}

// Index of the first (or last) character `c`, stepping whole characters.
size_t FindChar(const std::string& s, char c, bool last) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) {
    if (s[i] != c) continue;
    found = i;
    if (!last) break;
  }
  return found;
}

struct IniKey {
  int line;
  std::string name;   // as written
  std::string value;  // trimmed, outer quotes removed, cut at a NUL
};

struct IniSection {
  int line;
  std::string name;
  std::vector<IniKey> keys;

  // The first line of the key, as the system's reader finds it.
  const IniKey* Find(const std::string& key) const {
    for (const IniKey& k : keys)
      if (SameNoCase(k.name, key)) return &k;
    return nullptr;
  }
  // A key is set when it has a value; an empty value reads as absent.
  const IniKey* FindSet(const std::string& key) const {
    const IniKey* k = Find(key);
    return k && !k->value.empty() ? k : nullptr;
  }
};

struct IniFile {
  std::vector<std::string> lines;  // without their line ends
  std::vector<IniSection> sections;

  const IniSection* Find(const std::string& name) const {
    for (const IniSection& s : sections)
      if (SameNoCase(s.name, name)) return &s;
    return nullptr;
  }
};

// Lines end at LF, CR or CR LF. A ';' opens a comment line; '[' opens a
// section header when a ']' follows (the last one closes the name); every
// other line is a key, with or without '='. Lines before the first header
// belong to a section without a name.
IniFile ParseIni(const std::string& bytes) {
  IniFile ini;
  std::string current;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      ini.lines.push_back(current);
      current.clear();
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      current += bytes[i];
    }
  }
  if (!current.empty()) ini.lines.push_back(current);

  ini.sections.push_back(IniSection{0, "", {}});
  for (size_t n = 0; n < ini.lines.size(); ++n) {
    const int number = (int)n + 1;
    const std::string line = Trim(ini.lines[n]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = FindChar(line, ']', true);
      if (close != std::string::npos) {
        ini.sections.push_back(IniSection{number, Trim(line.substr(1, close - 1)), {}});
        continue;
      }
    }
    IniKey key{number, line, ""};
    const size_t equals = FindChar(line, '=', false);
    if (equals != std::string::npos) {
      key.name = Trim(line.substr(0, equals));
      std::string value = Trim(line.substr(equals + 1));
      value = value.substr(0, value.find('\0'));
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
      key.value = value;
    }
    ini.sections.back().keys.push_back(key);
  }
  return ini;
}

// ------------------------------------------------------ the line syntax

// The length of the list token of `value` that starts with `token` (the
// plan reader's copy of it, perhaps cut), up to its terminator.
size_t WrittenTokenLength(const std::string& value, const std::string& token) {
  const size_t at = token.empty() ? std::string::npos : value.find(token);
  if (at == std::string::npos) return token.size();
  const size_t end = value.find_first_of(",\r\n", at);
  return (end == std::string::npos ? value.size() : end) - at;
}

std::string Quoted(const std::string& cp932) { return "'" + Display(cp932) + "'"; }

// Line numbers as the updater's key names spell them ("%02i" of 0 to 15).
std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// ------------------------------------------------------ the update folder

struct FolderFile {
  std::string name;  // as the file system spells it
  std::string path;
};

#if defined(_WIN32)
const char kSeparator = '\\';

// The name an entry has in the file system's spelling.
bool NativeName(const std::string& cp932, std::string* native) {
  *native = cp932;
  return true;
}

bool SameNativeNoCase(const std::string& a, const std::string& b) { return SameNoCase(a, b); }
#else
const char kSeparator = '/';

bool NativeName(const std::string& cp932, std::string* native) {
  return ConvertText("UTF-8", "CP932", cp932, native);
}

// UTF-8 has no ASCII byte inside a multibyte character, so folding byte by
// byte is safe here (cp932 needs SameNoCase).
bool SameNativeNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}
#endif

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return (last == '/' || last == kSeparator) ? folder + name : folder + kSeparator + name;
}

// The plain files of the folder, by their names and paths.
std::vector<FolderFile> ListFolder(const std::string& folder, bool* ok) {
  std::vector<std::string> names;
  *ok = FolderFileNames(folder, &names);
  std::vector<FolderFile> files;
  for (const std::string& name : names) files.push_back(FolderFile{name, JoinFolder(folder, name)});
  return files;
}

enum class Lookup { kFound, kMissing, kAmbiguous };

// A file of the folder for an entry name: the one spelled the same, else
// the one that differs only in the case of ASCII letters (the updater looks
// entries up without regard to case).
Lookup FindFile(const std::vector<FolderFile>& files, const std::string& cp932, FolderFile* out) {
  std::string native;
  if (!NativeName(cp932, &native)) return Lookup::kMissing;
  const FolderFile* match = nullptr;
  int matches = 0;
  for (const FolderFile& f : files) {
    if (f.name == native) {
      *out = f;
      return Lookup::kFound;
    }
    if (SameNativeNoCase(f.name, native)) {
      match = &f;
      ++matches;
    }
  }
  if (matches > 1) return Lookup::kAmbiguous;
  if (!matches) return Lookup::kMissing;
  *out = *match;
  return Lookup::kFound;
}

// ------------------------------------------------------------ the check

class Checker {
 public:
  Checker(const std::string& folder, UpdateFolderCheck* result)
      : folder_(folder), result_(result) {}

  void Run() {
    bool listed = false;
    files_ = ListFolder(folder_, &listed);
    FolderFile ini;
    iniPath_ = JoinFolder(folder_, "UPDATE.INI");
    if (!listed) return Report(0, "cannot list the update folder");
    if (FindFile(files_, "UPDATE.INI", &ini) != Lookup::kFound)
      return Report(0, "no UPDATE.INI in the update folder");
    iniPath_ = ini.path;
    std::error_code noPath;
    absoluteIni_ = std::filesystem::absolute(ini.path, noPath).string();
    std::ifstream in(ini.path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return Report(0, "cannot read the file");
    Add(PlannedEntry{"UPDATE.INI", ini.path, "UPDATE.INI", true});

    byteOrderMark_ = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (byteOrderMark_)
      Report(1,
             "starts with a UTF-8 byte order mark; the updater reads cp932 and does not "
             "see the first line as written");
    ini_ = ParseIni(bytes);
    CheckText();
    CheckSetup();
    CheckUpdate();
    for (const PlannedEntry& e : agreements_) Add(e);
    WarnUnknown();
    WarnDiskSpace(ini_.Find("UPDATE"));
    WarnDataFolder(ini_.Find("SETUP"));
    char dataFolder[kPathSize] = {};
    OsReadIniString("SETUP", "DataFolder", "", dataFolder, kPathSize, absoluteIni_.c_str());
    result_->dataFolder = dataFolder;
    WarnLines(ini_.Find("UPDATE"), result_->lines);
    WarnUnnamedFiles();
    std::stable_sort(result_->warnings.begin(), result_->warnings.end(),
                     [](const IniProblem& a, const IniProblem& b) { return a.line < b.line; });
    std::stable_sort(result_->problems.begin(), result_->problems.end(),
                     [](const IniProblem& a, const IniProblem& b) { return a.line < b.line; });
  }

 private:
  void Report(int line, const std::string& message) {
    result_->problems.push_back(IniProblem{iniPath_, line, message, "error", 0});
  }

  void Warn(int line, const char* code, const std::string& message, int column = 0) {
    result_->warnings.push_back(IniProblem{iniPath_, line, message, code, column});
  }

  // ---- warnings: what the updater reads otherwise than it was meant

  // Keys and sections the updater does not know, with the nearest it does
  // when a slip of a letter or two explains the difference.
  void WarnUnknown() {
    static const char* const kSections[] = {"SETUP", "UPDATE"};
    static const char* const kSetupKeys[] = {
        "CompanyName", "GameTitle",   "GameClass",     "GameDir",
        "GameTitleA",  "UpdaterVersion", "UpdaterTitle", "DataFolder",
        "UpdateMessage", "ModeTextUpdateOrInstall", "AgreementText", "AgreementTitle"};
    static const char* const kUpdateKeys[] = {"RequiredDiskSpace", "OverwriteOnly"};
    for (const IniSection& section : ini_.sections) {
      if (section.line == 0) {
        for (const IniKey& k : section.keys)
          Warn(k.line, "key-outside-section",
               k.name + " stands before any section; the updater never reads it");
        continue;
      }
      const bool setup = SameNoCase(section.name, "SETUP");
      const bool update = SameNoCase(section.name, "UPDATE");
      if (!setup && !update) {
        Warn(section.line, "unknown-section",
             "[" + Display(section.name) + "] is no section the updater reads" +
                 Suggest(section.name, std::vector<std::string>(std::begin(kSections),
                                                                std::end(kSections)),
                         "[", "]"));
        continue;
      }
      std::vector<std::string> known;
      if (setup) known.assign(std::begin(kSetupKeys), std::end(kSetupKeys));
      else known.assign(std::begin(kUpdateKeys), std::end(kUpdateKeys));
      for (const IniKey& k : section.keys) {
        if (k.name.empty() || k.name[0] == ';' || IsKnown(k.name, known, update)) continue;
        std::vector<std::string> candidates = known;
        // A misspelt line key keeps its number: UpdateFiel02 is UpdateFile02.
        const size_t digits = k.name.find_first_of("0123456789");
        if (update && digits != std::string::npos)
          for (const char* prefix : {"UpdateFile", "CopyFile"})
            candidates.push_back(prefix + k.name.substr(digits));
        Warn(k.line, "unknown-key",
             Display(k.name) + " is no key of [" + Display(section.name) +
                 "] the updater reads" + Suggest(k.name, candidates, "", ""));
      }
    }
  }

  static bool IsKnown(const std::string& key, const std::vector<std::string>& known, bool update) {
    for (const std::string& k : known)
      if (SameNoCase(k, key)) return true;
    if (!update) return false;
    for (const std::string prefix : {"UpdateFile", "CopyFile"})
      if (key.size() > prefix.size() && SameNoCase(key.substr(0, prefix.size()), prefix) &&
          key.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
        return true;
    return false;
  }

  // "; did you mean X?" for the known name nearest to `name` (at most two
  // letters apart, ignoring case), else nothing.
  static std::string Suggest(const std::string& name, const std::vector<std::string>& known,
                             const std::string& open, const std::string& close) {
    size_t best = 3;
    std::string found;
    for (const std::string& k : known) {
      const size_t d = Distance(FoldKey(name), FoldKey(k));
      if (d < best) {
        best = d;
        found = k;
      }
    }
    return found.empty() ? "" : "; did you mean " + open + found + close + "?";
  }

  // Edits (insert, delete, replace, swap of neighbours) from `a` to `b`.
  static size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
      for (size_t j = 1; j <= b.size(); ++j) {
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                            d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    return d[a.size()][b.size()];
  }

  // RequiredDiskSpace as the updater converts it: leading digits only,
  // clamped to the 32-bit range.
  void WarnDiskSpace(const IniSection* update) {
    const IniKey* k = update ? update->FindSet("RequiredDiskSpace") : nullptr;
    if (!k) return;
    const std::string& v = k->value;
    const i32 read = TextToInt32(v.c_str());
    const bool plain = v.find_first_not_of("0123456789") == std::string::npos;
    if (!plain)
      Warn(k->line, "disk-space-not-a-number",
           "RequiredDiskSpace '" + Display(v) + "' is not a plain number of bytes; the updater "
           "reads it as " + std::to_string(read) +
               (v.find_first_of("KkMmGgBb") != std::string::npos ? " (no unit is understood)"
                                                                  : ""));
    else if (v.size() > 10 || std::stoull(v) > 2147483647ull)
      Warn(k->line, "disk-space-too-large",
           "RequiredDiskSpace " + v + " is above 2147483647; the updater reads it as " +
               std::to_string(read));
  }

  // A path that leaves the folder it is below: a ".." component, a drive,
  // a UNC or root path.
  static bool LeavesFolder(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return true;
    if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); i += i < path.size() ? CharLength(path, i) : 1) {
      if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
      if (path.compare(start, i - start, "..") == 0 && i - start == 2) return true;
      start = i + 1;
    }
    return false;
  }

  void WarnLines(const IniSection* update, const std::vector<LineAccount>& lines) {
    std::map<std::string, const LineAccount*> sources;
    for (const LineAccount& a : lines) {
      const IniKey* k = update ? update->Find(a.key) : nullptr;
      const std::string written = k ? k->value : "";
      if (!a.copy) {
        const std::vector<std::string> tokens = WrittenTokens(written);
        if (!tokens.empty() && tokens[0].size() >= 2 &&
            tokens[0].find_first_not_of("0123456789") == std::string::npos)
          Warn(a.line, "mode-two-digits",
               a.key + ": '" + tokens[0] + "' is no mode (a mode is one digit); the updater "
               "takes it as the file name and places the line in every mode");
        for (const std::string& t : tokens)
          if (!t.empty() && (t.back() == ' ' || t.back() == '\t')) {
            Warn(a.line, "blank-before-comma",
                 a.key + ": '" + Display(t) + "' ends in a blank before its comma; the blank "
                 "is part of what the updater reads" +
                     (t.size() == 2 && std::strchr("dDuUoO", t[0]) ? " (no kind letter)" : ""));
            break;
          }
      } else {
        const std::string rest = written.size() >= 2 && written[1] == ',' ? written.substr(2)
                                                                         : written;
        const size_t colon = rest.find(':');
        if (colon >= 2 && colon != std::string::npos &&
            rest.find_first_not_of("0123456789") == colon)
          Warn(a.line, "disk-two-digits",
               a.key + ": '" + rest.substr(0, colon + 1) + "' is no disk prefix (a disk is one "
               "digit); the updater takes it as part of the path");
        auto first = sources.emplace(FoldKey(a.path), &a);
        if (!first.second)
          Warn(a.line, "copy-twice",
               a.key + " copies '" + Display(a.path) + "' again (" + first.first->second->key +
                   " on line " + std::to_string(first.first->second->line) + " copies it first)");
      }
      if (a.path.find('/') != std::string::npos)
        Warn(a.line, "forward-slash",
             a.key + ": '/' separates no folders for the updater; write '\\'");
      if (LeavesFolder(a.path))
        Warn(a.line, "leaves-folder",
             a.key + ": '" + Display(a.path) + "' leaves the " +
                 (a.copy ? "disk's root and the installation folder"
                         : a.dataRoot ? "data folder" : "installation folder"));
    }
  }

  // The list tokens of an UpdateFile value as written (blanks before each
  // skipped, as the updater skips them).
  static std::vector<std::string> WrittenTokens(const std::string& value) {
    std::vector<std::string> tokens;
    size_t at = 0;
    while (tokens.size() < 3) {
      while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
      if (at >= value.size() || value[at] == ',') break;
      const size_t end = value.find(',', at);
      tokens.push_back(value.substr(at, end == std::string::npos ? std::string::npos : end - at));
      if (end == std::string::npos) break;
      at = end + 1;
    }
    return tokens;
  }

  void WarnDataFolder(const IniSection* setup) {
    const IniKey* k = setup ? setup->FindSet("DataFolder") : nullptr;
    if (k && LeavesFolder(k->value))
      Warn(k->line, "leaves-folder",
           "DataFolder '" + Display(k->value) +
               "' leaves the installation and data folders it is joined below");
  }

  void WarnUnnamedFiles() {
    for (const FolderFile& f : files_) {
      bool packed = false;
      for (const PlannedEntry& e : result_->entries) packed = packed || e.path == f.path;
      if (!packed)
        Warn(0, "file-not-named",
             f.name + " is in the update folder, but UPDATE.INI names it nowhere; it is left out");
    }
  }

  // Adds an entry, or merges it with the one of the same name.
  void Add(const PlannedEntry& entry) {
    for (PlannedEntry& e : result_->entries)
      if (SameNoCase(e.name, entry.name)) {
        e.scramble = e.scramble && entry.scramble;
        return;
      }
    result_->entries.push_back(entry);
  }

  void CheckText() {
    for (size_t n = 0; n < ini_.lines.size(); ++n) {
      // The byte order mark has a message of its own.
      const size_t from = n == 0 && byteOrderMark_ ? 3 : 0;
      const std::string line = ini_.lines[n].substr(from);
      const size_t bad = FirstInvalidCp932(line);
      if (bad == std::string::npos) continue;
      badLines_.push_back((int)n + 1);
      char where[64];
      std::snprintf(where, sizeof where, "column %zu (byte 0x%02X)", from + bad + 1,
                    (unsigned)(unsigned char)line[bad]);
      std::string message = std::string("not valid cp932 (Shift-JIS) text at ") + where;
      if (HasNonAscii(line) && IsUtf8(line))
        message += "; the line is UTF-8, but the updater reads UPDATE.INI as cp932";
      Report((int)n + 1, message);
    }
  }

  bool IsBadLine(int line) const {
    return std::find(badLines_.begin(), badLines_.end(), line) != badLines_.end();
  }

  // Keys that appear twice in a section: only the first counts.
  void CheckRepeats(const IniSection& section) {
    for (const IniSection& other : ini_.sections)
      if (&other != &section && other.line > section.line && SameNoCase(other.name, section.name))
        Report(other.line, "section [" + section.name +
                               "] appears again; the updater reads only the first one, on line " +
                               std::to_string(section.line));
    std::map<std::string, int> first;
    for (const IniKey& k : section.keys) {
      auto seen = first.emplace(FoldKey(k.name), k.line);
      if (!seen.second)
        Report(k.line, k.name + " is set again; the updater reads only the first value, on line " +
                           std::to_string(seen.first->second));
    }
  }

  void CheckSetup() {
    const IniSection* setup = ini_.Find("SETUP");
    if (!setup)
      return Report(0,
                    "no section [SETUP]; the updater needs its CompanyName, GameTitle, "
                    "GameClass and GameDir");
    CheckRepeats(*setup);
    for (const char* key : kRequiredSetupKeys) {
      const IniKey* k = setup->Find(key);
      if (!k)
        Report(setup->line,
               "[SETUP] has no " + std::string(key) + "; the updater stops at start-up without it");
      else if (k->value.empty())
        Report(k->line, "[SETUP] " + std::string(key) +
                            " is empty; the updater stops at start-up without it");
    }
    for (const char* key : kAgreementKeys) {
      const IniKey* k = setup->FindSet(key);
      if (!k || IsBadLine(k->line)) continue;
      const std::string& name = k->value;
      if (name.size() > kMaxName) {
        Report(k->line, std::string(key) + " is " + std::to_string(name.size()) +
                            " bytes long; at most 259 bytes fit");
      } else if (!IsBareEntryName(name)) {
        Report(k->line, std::string(key) + ": " + Quoted(name) +
                            " is not a plain file name; the updater looks it up as an entry name");
      } else {
        FolderFile file;
        if (Find(name, k->line, key, &file))
          agreements_.push_back(PlannedEntry{name, file.path, key, false});
      }
    }
  }

  // The folder's file for entry `name` named on `line` by `key`; reports it
  // when there is none.
  bool Find(const std::string& name, int line, const std::string& key, FolderFile* file) {
    switch (FindFile(files_, name, file)) {
      case Lookup::kFound:
        return true;
      case Lookup::kMissing:
        Report(line, key + " names " + Quoted(name) + ", which is not in the update folder");
        return false;
      case Lookup::kAmbiguous:
        Report(line, key + " names " + Quoted(name) +
                         ", which matches several files of the update folder that differ only "
                         "in case");
        return false;
    }
    return false;
  }

  // The lines the updater reads (from 00 up to the first missing or empty
  // number, at most 15): their keys by number, each line's first key.
  std::vector<const IniKey*> ReadLines(const IniSection& section, const std::string& prefix) {
    std::vector<const IniKey*> slots(kLastLineNumber + 1, nullptr);
    std::vector<const IniKey*> numbered;  // every key of the form prefix + digits
    for (const IniKey& k : section.keys) {
      if (k.name.size() <= prefix.size() || !SameNoCase(k.name.substr(0, prefix.size()), prefix))
        continue;
      const std::string digits = k.name.substr(prefix.size());
      if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
      const long number = digits.size() > 6 ? 1000000 : std::stol(digits);
      if (number > kLastLineNumber) {
        Report(k.line, k.name + " is never read: lines are numbered 00 to 15");
      } else if (digits.size() != 2) {
        Report(k.line, k.name + " is never read: line numbers have two digits (" + prefix +
                           TwoDigits((int)number) + ")");
      } else if (!slots[(size_t)number]) {
        slots[(size_t)number] = &k;
      }
    }
    std::vector<const IniKey*> read;
    int gap = -1;
    for (int n = 0; n <= kLastLineNumber; ++n) {
      const IniKey* k = slots[(size_t)n];
      if (gap < 0 && k && !k->value.empty()) {
        read.push_back(k);
      } else if (gap < 0) {
        gap = n;
      } else if (k) {
        const IniKey* missing = slots[(size_t)gap];
        Report(k->line, prefix + TwoDigits(n) + " is never read: the updater stops at " + prefix +
                            TwoDigits(gap) + ", which is " + (missing ? "empty" : "missing"));
      }
    }
    return read;
  }

  static bool SameLines(const std::vector<LineAccount>& a, const std::vector<LineAccount>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i].key != b[i].key || a[i].path != b[i].path || a[i].mode != b[i].mode ||
          a[i].kind != b[i].kind || a[i].disk != b[i].disk)
        return false;
    return true;
  }

  // The lines the updater reads, as it reads them: its INI reader takes each
  // value from UpdateFile00 (or CopyFile00) up to the first one missing or
  // empty, and its plan reader takes the value apart. The line of each key
  // is the first that sets it in `section`.
  std::vector<LineAccount> ReadAccounts(const IniSection* section, const std::string& prefix) {
    const bool copy = prefix == "CopyFile";
    std::vector<LineAccount> accounts;
    for (int n = 0; n <= kLastLineNumber; ++n) {
      LineAccount a;
      a.key = prefix + TwoDigits(n);
      a.copy = copy;
      // Zero-filled first, as the updater's key reads fill it: a value cut
      // inside a double-byte character leaves the bytes after its last whole
      // character as they were.
      char value[kTextSize] = {};
      if (!OsReadIniString("UPDATE", a.key.c_str(), "", value, copy ? (u32)kPathSize : (u32)kTextSize,
                           absoluteIni_.c_str()))
        break;
      const IniKey* k = section ? section->Find(a.key) : nullptr;
      a.line = k ? k->line : 0;
      if (copy) {
        CopyLine parsed;
        ParseCopyLine(value, &parsed);
        a.mode = parsed.hasMode ? parsed.mode : -1;
        a.disk = parsed.item.diskNumber;
        a.refused = parsed.diskRefused != 0;
        a.path = parsed.item.sourcePath;
      } else {
        UpdateLine parsed;
        ParseUpdateLine(value, &parsed);
        a.mode = parsed.hasMode ? parsed.mode : -1;
        a.kind = parsed.item.kind;
        a.dataRoot = parsed.item.kind == KindData;
        a.path = parsed.item.relativePath;
        a.entry = a.path.substr((size_t)parsed.item.fileNameOffset);
      }
      accounts.push_back(a);
    }
    return accounts;
  }

  void CheckUpdate() {
    const IniSection* update = ini_.Find("UPDATE");
    if (update) {
      CheckRepeats(*update);
      // What the numbering keeps the updater from reading.
      ReadLines(*update, "UpdateFile");
      ReadLines(*update, "CopyFile");
    }
    const std::vector<LineAccount> updateLines = ReadAccounts(update, "UpdateFile");
    const std::vector<LineAccount> copyLines = ReadAccounts(update, "CopyFile");
    // The INI reader (the system's, as the updater's) cannot tell a read of
    // the file that failed from a key that is not there, and a list cut
    // short that way would leave files out of the package: the lines are
    // read a second time, and two readings that differ make nothing.
    if (!SameLines(updateLines, ReadAccounts(update, "UpdateFile")) ||
        !SameLines(copyLines, ReadAccounts(update, "CopyFile")))
      return Report(0, "cannot read the file: its lines read differently twice");
    result_->lines = updateLines;
    result_->lines.insert(result_->lines.end(), copyLines.begin(), copyLines.end());
    if (updateLines.empty() && copyLines.empty())
      Report(update ? update->line : 0,
             "neither UpdateFile00 nor CopyFile00 is set; the updater stops with \"No "
             "'UpdateFileXX' and 'CopyFileXX'\"");

    std::map<std::string, const LineAccount*> named;  // folded entry name -> first line naming it
    for (const LineAccount& a : updateLines) {
      const IniKey* k = update ? update->Find(a.key) : nullptr;
      if (k && k->value.size() > kMaxUpdateLine)
        Report(a.line, a.key + " is " + std::to_string(k->value.size()) +
                           " bytes long; the updater reads only the first 1023");
      if (IsBadLine(a.line)) continue;
      if (a.path.empty()) {
        Report(a.line, a.key + " names no file");
        continue;
      }
      // The plan reader's token slots cut a path at 259 bytes; the text as
      // written tells how long it really is.
      const size_t written = WrittenTokenLength(k ? k->value : a.path, a.path);
      if (written > kMaxName) {
        Report(a.line, a.key + ": the path is " + std::to_string(written) +
                           " bytes long; at most 259 bytes fit");
        continue;
      }
      if (a.entry.empty()) {
        Report(a.line, a.key + ": " + Quoted(a.path) + " ends in a backslash and names no file");
        continue;
      }
      if (!IsBareEntryName(a.entry)) {
        Report(a.line, a.key + ": " + Quoted(a.entry) +
                           " is no file name Windows can make (a character it refuses, or a "
                           "device name); the updater could not write it");
        continue;
      }
      auto first = named.emplace(FoldKey(a.entry), &a);
      if (!first.second) {
        const LineAccount& earlier = *first.first->second;
        Report(a.line, a.key + " names the entry " + Quoted(a.entry) + " again (" + earlier.key +
                           " on line " + std::to_string(earlier.line) +
                           " names it first); the package holds one entry of a name, so both "
                           "lines place the same file");
        continue;
      }
      FolderFile file;
      if (Find(a.entry, a.line, a.key, &file)) Add(PlannedEntry{a.entry, file.path, a.key, true});
    }

    for (const LineAccount& a : copyLines) {
      const IniKey* k = update ? update->Find(a.key) : nullptr;
      if (k && k->value.size() > kMaxName)
        Report(a.line, a.key + " is " + std::to_string(k->value.size()) +
                           " bytes long; the updater reads only the first 259");
      if (a.refused)
        Report(a.line, a.key + ": the disk prefix '" + Display(std::string(1, (char)(a.disk + '0'))) +
                           ":' reads as disk " + std::to_string(a.disk) +
                           "; disks are numbered 1 to 9");
    }
  }

  std::string folder_;
  UpdateFolderCheck* result_;
  std::vector<FolderFile> files_;
  std::string iniPath_;
  std::string absoluteIni_;  // for the system's INI reader, which wants a whole path
  IniFile ini_;
  std::vector<int> badLines_;
  bool byteOrderMark_ = false;
  std::vector<PlannedEntry> agreements_;  // listed after the update lines' entries
};

}  // namespace

UpdateFolderCheck CheckUpdateFolder(const std::string& folder) {
  UpdateFolderCheck result;
  Checker(folder, &result).Run();
  return result;
}

std::string FormatIniProblem(const IniProblem& problem, bool warning) {
  const std::string message = (warning ? "warning: " : "") + problem.message;
  if (problem.line <= 0) return problem.file + ": " + message;
  return problem.file + ":" + std::to_string(problem.line) + ": " + message;
}
