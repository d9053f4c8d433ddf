// Key reads of the two INI files with the program's one missing-key report,
// decimal conversion, comma lists with a disk prefix, and path joining.
#include "settings/settings.h"

#include <string.h>

#include "runtime/run_state.h"
#include "platform/format.h"
#include "platform/ini.h"
#include "platform/messagebox.h"
#include "platform/text.h"
#include "texts.h"

char SetupIniPath[kPathSize];
char UpdateIniPath[kPathSize];
int ReportMissingKeys = 1;
i32 CurrentDiskNumber;

namespace {

const char kSetupSection[] = "SETUP";

int IsListBlank(char c) { return c == ' ' || c == '\t'; }
int IsListTerminator(char c) { return c == 0 || c == '\n' || c == '\r' || c == ','; }
int IsDecimalBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads into a zero-filled buffer. The buffer is cleared again after a
// failed read, so a failure leaves only zero bytes whatever the reader did.
int ReadKey(const char* section, const char* key, char* out, u32 size, const char* path) {
  if (!out || !size) return 0;
  memset(out, 0, size);
  if (OsReadIniString(section, key, "", out, size, path)) return 1;
  memset(out, 0, size);
  return 0;
}

// The magnitude of the leading decimal number of `text`, stopped at `limit`
// (so no overflow can happen), with the sign in `*negative`.
u64 DecimalMagnitude(const char* text, u64 limitPositive, int* negative) {
  const char* p = text ? text : "";
  while (IsDecimalBlank(*p)) ++p;
  *negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  const u64 limit = *negative ? limitPositive + 1 : limitPositive;
  u64 value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const u64 digit = (u64)(*p - '0');
    if (value > (limit - digit) / 10) return limit;
    value = value * 10 + digit;
  }
  return value;
}
}  // namespace

/* ReadSetupKey: key `key` of section "SETUP" of SetupIniPath into `out`.
 * Returns 1 when the value is not empty, else 0 with `out` all zero bytes,
 * after the missing-key message while ReportMissingKeys is on.
 * Protects against: values longer than `size` (cut to size - 1 bytes and
 * terminated), a missing or unreadable file, a null or empty buffer. */
int ReadSetupKey(const char* key, char* out, u32 size) {
  if (ReadKey(kSetupSection, key, out, size, SetupIniPath)) return 1;
  if (ReportMissingKeys) {
    char text[kTextSize];
    OsFormat(text, sizeof text, kTextSetupKeyMissing, key);
    ShowSetupError(text);
  }
  return 0;
}

/* ReadUpdateKey: key `key` of `section` of UpdateIniPath, with the rules of
 * ReadSetupKey and the message naming the section and the key. */
int ReadUpdateKey(const char* section, const char* key, char* out, u32 size) {
  if (ReadKey(section, key, out, size, UpdateIniPath)) return 1;
  if (ReportMissingKeys) {
    char text[kTextSize];
    OsFormat(text, sizeof text, kTextUpdateKeyMissing, section, key);
    ShowSetupError(text);
  }
  return 0;
}

/* ReadSetupInt: the key as a signed 32-bit decimal into `*value`. Returns 1
 * after storing it, or 0 with `*value` untouched when the key cannot be read
 * (the message as for ReadSetupKey). Text that is no number stores 0. */
int ReadSetupInt(const char* key, i32* value) {
  char text[kPathSize];
  if (!ReadSetupKey(key, text, sizeof text)) return 0;
  *value = TextToInt32(text);
  return 1;
}

/* TextToInt32: leading blanks, one optional sign, then decimal digits up to
 * the first other character; 0 when no digit follows. A number beyond the
 * 32-bit range gives the nearest limit, computed without overflow. */
i32 TextToInt32(const char* text) {
  int negative = 0;
  const u64 magnitude = DecimalMagnitude(text, (u64)INT32_MAX, &negative);
  if (negative) return magnitude > (u64)INT32_MAX ? INT32_MIN : -(i32)magnitude;
  return (i32)magnitude;
}

/* TextToInt64: as TextToInt32 for the signed 64-bit range. */
i64 TextToInt64(const char* text) {
  int negative = 0;
  const u64 magnitude = DecimalMagnitude(text, (u64)INT64_MAX, &negative);
  if (negative) return magnitude > (u64)INT64_MAX ? INT64_MIN : -(i64)magnitude;
  return (i64)magnitude;
}

/* NextListToken: the next token of the list at `*cursor` into `token`, a
 * kPathSize slot. Returns 1 with the cursor past the token's terminator (or
 * on the final NUL), or 0 with the cursor on the terminator that came first
 * (after any blanks) and `token` untouched. A token longer than the slot is
 * cut to kPathSize - 1 bytes and the rest of it skipped, so nothing is ever
 * written past the slot and the next token starts where it should. */
int NextListToken(char* token, const char** cursor) {
  const char* p = *cursor;
  while (IsListBlank(*p)) ++p;
  *cursor = p;
  if (IsListTerminator(*p)) return 0;
  if (p[1] == ':') {
    CurrentDiskNumber = (*p >= '0' && *p <= '9') ? *p - '0' : 0;
    p += 2;
  }
  u32 length = 0;
  for (; !IsListTerminator(*p); ++p)
    if (length < kPathSize - 1) token[length++] = *p;
  token[length] = 0;
  if (*p) ++p;
  *cursor = p;
  return 1;
}

/* EndsInSeparator: 1 when the last character of `path` is a one-byte '\\'
 * or '/'. Looked at character by character: the trail byte of a double-byte
 * character such as "ソ" or "能" is 0x5C too, and a folder whose name ends in
 * one still needs its backslash. */
static int EndsInSeparator(const char* path) {
  const char* last = nullptr;
  const char* p = path;
  while (*p) {
    last = p;
    p = OsCharNext(p);
  }
  return last && p - last == 1 && (*last == '\\' || *last == '/');
}

/* JoinPath: appends `component` to `path` (a kPathSize buffer), with one
 * backslash between them unless `path` is empty or ends in '\\' or '/', and
 * writes a second NUL after the result. Returns 1, or 0 with `path`
 * unchanged when the result and both NULs would not fit kPathSize bytes or
 * `path` holds no terminator. */
int JoinPath(char* path, const char* component) {
  const size_t length = strnlen(path, kPathSize);
  const size_t add = strnlen(component, kPathSize);
  if (length >= kPathSize || add >= kPathSize) return 0;
  const int separator = length && !EndsInSeparator(path);
  if (length + separator + add + 2 > kPathSize) return 0;
  char* end = path + length;
  if (separator) *end++ = '\\';
  memcpy(end, component, add);
  end[add] = 0;
  end[add + 1] = 0;
  return 1;
}

/* ShowSetupError: `text` in an error box with caption "INSTCMMN" and one OK
 * button, owned by the wizard while it exists. Returns when it is closed. */
void ShowSetupError(const char* text) {
  OsMessageBox(WizardWindow, text, kTextSetupCaption, kMbOk | kMbIconError);
}
