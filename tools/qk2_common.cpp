#include "tools/qk2_common.h"

#include <cstdio>
#include <cstring>

#include "package/format.h"
#include "package/sha256.h"
#include "packer/encoding.h"
#include "packer/pe_resources.h"
#include "platform/text.h"
#include "resources/resource_ids.h"


int Report(int code, const std::string& message) {
  std::fprintf(stderr, "qk2: %s\n", message.c_str());
  return code;
}

const char kExitCodesHelp[] =
    "Exit codes:\n"
    "  0  success\n"
    "  1  a problem with the input: the update folder does not pass its check,\n"
    "     a package or updater is damaged, the base image is no updater\n"
    "  2  wrong usage\n"
    "  3  a file could not be read or written\n"
    "  4  signing failed: osslsigncode is missing or did not sign\n";

int UsageError(const std::string& message, const char* usage) {
  const char* end = std::strchr(usage, '\n');
  const std::string first(usage, end ? (size_t)(end - usage) : std::strlen(usage));
  // "usage: qk2 list ..." names the command whose help to point at.
  std::string command = first.substr(first.rfind("qk2 ", 10) + 4);
  command = command.substr(0, command.find(' '));
  const std::string help = command == "COMMAND" ? "qk2 --help" : "qk2 " + command + " --help";
  std::fprintf(stderr, "qk2: %s\n%s\n(%s lists every option)\n", message.c_str(), first.c_str(),
               help.c_str());
  return kExitUsage;
}

std::string VersionText() { return std::string("qk2 ") + UPDATER_VERSION_TEXT; }

// ---- text

#if defined(_WIN32)
bool ToCp932(const std::string& terminal, std::string* cp932) {
  *cp932 = terminal;
  return true;
}

std::string FromCp932(const std::string& cp932) { return cp932; }

#else

bool ToCp932(const std::string& terminal, std::string* cp932) {
  return ConvertText("CP932", "UTF-8", terminal, cp932);
}

std::string FromCp932(const std::string& cp932) {
  std::string out;
  return ConvertText("UTF-8", "CP932", cp932, &out) ? out : cp932;
}

#endif

std::string TerminalToUtf8(const std::string& text) {
#if defined(_WIN32)
  return Cp932ToUtf8(text);
#else
  return text;
#endif
}

std::string ShownName(const std::string& cp932) {
#if defined(_WIN32)
  const std::string text = cp932;
#else
  const std::string text = Cp932ToUtf8(cp932);
#endif
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = (unsigned char)text[i];
    unsigned escaped = 0x100;
    if (c < 0x20 || c == 0x7F) escaped = c;
#if !defined(_WIN32)
    // U+0080 to U+009F: C2 80 to C2 9F.
    if (c == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
        (unsigned char)text[i + 1] <= 0x9F)
      escaped = (unsigned char)text[++i];
#endif
    if (escaped == 0x100) {
      shown += (char)c;
      continue;
    }
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", escaped);
    shown += code;
  }
  return shown;
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const unsigned char u = (unsigned char)c;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// ---- files

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
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
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

std::string Hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string PathIn(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
#if defined(_WIN32)
  // A cp932 trail byte may be 0x5C, so a final backslash is checked by characters.
  const char* end = folder.c_str();
  for (const char* p = folder.c_str(); *p; p = OsCharNext(p)) end = p;
  if (*end == '\\' || *end == '/') return folder + name;
  return folder + "\\" + name;
#else
  return folder.back() == '/' ? folder + name : folder + "/" + name;
#endif
}

std::string BaseName(const std::string& path) {
  const char* start = path.c_str();
#if defined(_WIN32)
  for (const char* p = path.c_str(); *p; p = OsCharNext(p))
#else
  for (const char* p = path.c_str(); *p; ++p)
#endif
    if (*p == '/' || *p == '\\') start = p + 1;
  return start;
}

// ---- package input

bool LooksLikeExecutable(const uint8_t* bytes, size_t size) {
  return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

int LoadPackageInput(const std::string& path, PackageInput* input) {
  std::string error;
  if (!input->mapped.Open(path, &error)) return Report(kExitIo, error);
  const uint8_t* bytes = input->mapped.data();
  const size_t size = (size_t)input->mapped.size();
  input->executable = LooksLikeExecutable(bytes, size);
  input->data = bytes;
  input->size = size;
  if (!input->executable) return kExitOk;
  PeResourceEditor editor;
  if (!editor.Load(std::vector<uint8_t>(bytes, bytes + size), &error))
    return Report(kExitProblem, path + ": not a PE image: " + error);
  const ResourceKey type = ResourceKey::Name(std::string(kPackageResourceType));
  for (const uint16_t id : {uint16_t{kPackageResourceId}, uint16_t{kPackageDigestResourceId}}) {
    const size_t languages = editor.Languages(type, id).size();
    if (languages > 1)
      return Report(kExitProblem, path + ": resource \"UPDATE\" " + std::to_string(id) +
                                      " is there in " + std::to_string(languages) +
                                      " languages; the updater takes one by the system's "
                                      "language, so which package it runs cannot be told");
  }
  const ResourceData* package = editor.FindAnyLanguage(type, kPackageResourceId);
  if (!package) return Report(kExitProblem, path + ": no package resource \"UPDATE\" 102");
  input->resource = package->bytes;
  if (const ResourceData* digest = editor.FindAnyLanguage(type, kPackageDigestResourceId))
    input->digest = digest->bytes;
  input->data = input->resource.data();
  input->size = input->resource.size();
  return kExitOk;
}

bool DigestMatches(const PackageInput& input) {
  if (input.digest.empty()) return true;
  u8 actual[kSha256Size];
  Sha256(input.data, (u32)input.size, actual);
  return input.digest.size() == kSha256Size &&
         std::memcmp(actual, input.digest.data(), kSha256Size) == 0;
}

std::string NativePathBelow(const std::string& root, const std::string& tail) {
  std::string native = root;
  size_t start = 0;
  for (size_t i = 0; i <= tail.size();) {
    if (i == tail.size() || tail[i] == '\\' || tail[i] == '/') {
      if (i > start) native = PathIn(native, FromCp932(tail.substr(start, i - start)));
      start = ++i;
      continue;
    }
    i += OsIsLeadByte((u8)tail[i]) && i + 1 < tail.size() ? 2 : 1;
  }
  return native;
}

bool WholeCopyOf(const std::string& cp932, std::string* patchName) {
  const std::string suffix = kWholeCopySuffix;
  if (cp932.size() <= suffix.size() ||
      cp932.compare(cp932.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  *patchName = cp932.substr(0, cp932.size() - suffix.size());
  return IsBareEntryName(*patchName);
}
