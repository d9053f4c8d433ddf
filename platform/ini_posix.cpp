// The INI reader of the POSIX build: the results that GetPrivateProfileStringA
// gives in the Japanese code page, case by case as measured under Wine 8.
//
// The system reader turns the whole file into UTF-16 first and parses that,
// so its rules are rules about characters, not bytes:
//   - a cp932 lead byte always takes the next byte with it; a pair that is not
//     a valid lead/trail pair (a line end or a NUL included) reads as one
//     middle dot (81 45), so such a byte can merge two lines;
//   - lines end at LF or CR; blanks (tab, LF, VT, FF, CR, space, ^Z) around
//     lines, names and values are dropped; names compare with ASCII letters
//     folded; a NUL ends a name or a value where it stands;
//   - "[" starts a header when the line holds a "]" (the last one closes the
//     name), otherwise the line is an ordinary key line;
//   - keys before the first header belong to a section without a name; only
//     the first section of a name is searched, and in it the first line of
//     the key wins, also when it has no "=" (then the default is given);
//   - a value in matching single or double quotes loses them;
//   - the result is cut to size - 1 bytes without splitting a double-byte
//     character; when the value did not fit, the count is size - 1 and the
//     bytes between the last whole character and the terminator stay as the
//     caller left them.
// Comment lines need no rule of their own: ";Key=x" defines the key ";Key",
// which no caller asks for.
//
// The file is read once from front to back in fixed chunks and the reader
// keeps no copy of any line; only the first bytes of the wanted value are
// kept, so a file of many megabytes or a line far longer than any buffer
// costs time in proportion to its size and memory in proportion to `size`.
#include "platform/ini.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <string>


namespace {

const u8 kMiddleDot[2] = {0x81, 0x45};

bool IsLeadByte(u8 c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrailByte(u8 c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
// Line ends are handled before blanks, so CR and LF never reach this test.
bool IsBlank(u8 c) { return c == 0x09 || c == 0x0B || c == 0x0C || c == 0x20 || c == 0x1A; }
bool IsSpaceForQuery(u8 c) { return IsBlank(c) || c == '\n' || c == '\r'; }
u8 FoldAscii(u8 c) { return (c >= 'a' && c <= 'z') ? (u8)(c - 'a' + 'A') : c; }

// One character: one byte, or two for a double-byte character.
struct Unit {
  u8 b[2];
  u8 n;
  bool Is(u8 c) const { return n == 1 && b[0] == c; }
  bool Blank() const { return n == 1 && IsBlank(b[0]); }
};

// A name given by the caller, without the blanks around it.
struct Wanted {
  const u8* text;
  size_t length;
};

Wanted TrimQuery(const char* name) {
  const u8* p = (const u8*)name;
  size_t n = strlen(name);
  while (n && IsSpaceForQuery(*p)) ++p, --n;
  while (n && IsSpaceForQuery(p[n - 1])) --n;
  return Wanted{p, n};
}

// A name arriving one character at a time, compared with a wanted name the
// way the system compares them: blanks before the name are skipped, blanks
// at its end do not count (they stay pending until something follows), and
// a NUL ends the name. No copy of the name is kept.
struct NameMatch {
  Wanted want;
  size_t matched;  // bytes of `want` matched by characters known to be in the name
  size_t blanks;   // pending blanks, not yet known to be inside the name
  bool blanksMatch;
  bool started;
  bool differs;
  bool cut;

  void Start(Wanted wanted) {
    want = wanted;
    matched = blanks = 0;
    blanksMatch = true;
    started = differs = cut = false;
  }
  bool Settled() const { return differs || cut; }
  void Blank(u8 c) {
    if (Settled() || !started) return;
    size_t at = matched + blanks;
    if (at >= want.length || want.text[at] != c) blanksMatch = false;
    if (blanks < want.length + 1) ++blanks;  // enough to know it is too long
  }
  void CommitBlanks() {
    if (!blanks) return;
    if (!blanksMatch) differs = true;
    matched += blanks;
    blanks = 0;
    blanksMatch = true;
  }
  void Char(const Unit& u) {
    if (Settled()) return;
    started = true;
    CommitBlanks();
    if (differs) return;
    if (matched + u.n > want.length) {
      differs = true;
      return;
    }
    const u8* w = want.text + matched;
    bool same = u.n == 1 ? FoldAscii(w[0]) == FoldAscii(u.b[0]) : (w[0] == u.b[0] && w[1] == u.b[1]);
    if (!same) differs = true;
    matched += u.n;
  }
  void Nul() {
    if (Settled()) return;
    started = true;
    CommitBlanks();
    cut = true;
  }
  bool Equal() const { return !differs && matched == want.length; }
  void Take(const Unit& u) {
    if (u.Is(0)) Nul();
    else if (u.Blank()) Blank(u.b[0]);
    else Char(u);
  }
};

// The value of the wanted key: its first bytes (whole characters) and what
// the quote rule and the cut need to know about the rest.
struct ValueCapture {
  std::string head;
  size_t keep;      // bytes of head worth keeping for a result of `size`
  u64 all;          // characters after the leading blanks
  u64 units;        // characters up to the last one that counts
  Unit last;        // the last character that counts
  Unit lastAny;
  bool started;
  bool cut;

  void Start(u32 size) {
    head.clear();
    keep = (size_t)size + 2;  // the opening quote, size - 1 bytes, one more to see the cut
    all = units = 0;
    started = cut = false;
  }
  void Append(const Unit& u) {
    if (head.size() + u.n <= keep) head.append((const char*)u.b, u.n);
    ++all;
    lastAny = u;
  }
  void Take(const Unit& u) {
    if (cut) return;
    if (u.Is(0)) {  // the NUL ends the value; blanks before it stay in
      cut = true;
      units = all;
      last = lastAny;
      return;
    }
    if (u.Blank()) {
      if (started) Append(u);
      return;
    }
    started = true;
    Append(u);
    units = all;
    last = u;
  }
};

// Writes the system's result for a value of `units` characters whose first
// bytes are `head`. The quote rule works on characters and drops one
// character too many when the buffer holds exactly the value and its closing
// quote, as the system does; the cut works on bytes.
u32 EmitValue(const std::string& head, u64 units, const Unit& last, char* out, u32 size) {
  const u8* h = (const u8*)head.data();
  size_t skip = 0;
  u64 take = units < size - 1 ? units : size - 1;
  if (units >= 2 && (h[0] == '"' || h[0] == '\'') && last.Is(h[0])) {
    u64 afterQuote = units - 1;
    skip = 1;
    if (size > afterQuote) take = afterQuote - 1;
    else if (size == afterQuote) take = afterQuote - 2;
    else take = size - 1;
  }
  u32 room = size - 1, written = 0;
  size_t at = skip;
  u64 done = 0;
  while (done < take && written < room && at < head.size()) {
    u32 n = IsLeadByte(h[at]) ? 2 : 1;
    if (n == 2 && written + 1 == room) break;  // never half a character
    memcpy(out + written, h + at, n);
    written += n;
    at += n;
    ++done;
  }
  if (done == take) {
    out[written] = 0;
    return written;
  }
  out[room] = 0;
  return room;
}

// The default, given when nothing is found: spaces at its end dropped, then
// the same quote rule and cut as for a value.
u32 EmitDefault(const char* defaultValue, char* out, u32 size) {
  const u8* p = (const u8*)(defaultValue ? defaultValue : "");
  size_t n = strlen((const char*)p);
  while (n && p[n - 1] == ' ') --n;
  ValueCapture value;
  value.Start(size);
  value.started = true;
  for (size_t i = 0; i < n;) {
    Unit u;
    if (IsLeadByte(p[i])) {
      if (i + 1 >= n) break;  // a lone lead byte at the end is dropped
      u = IsTrailByte(p[i + 1]) ? Unit{{p[i], p[i + 1]}, 2} : Unit{{kMiddleDot[0], kMiddleDot[1]}, 2};
      i += 2;
    } else {
      u = Unit{{p[i], 0}, 1};
      ++i;
    }
    value.Append(u);
    value.units = value.all;
    value.last = u;
  }
  return EmitValue(value.head, value.units, value.last, out, size);
}

// The scan of one file for one key of one section.
struct IniScan {
  Wanted section;
  Wanted key;
  u32 size;

  bool inTarget;  // inside the first section of the wanted name
  bool done;
  bool found;     // the key's first line was found ...
  bool hasValue;  // ... and it has an "="

  // The current line.
  bool lineStarted;
  bool bracketLine;
  bool sawBracket;
  bool bracketNameEqual;  // the name up to the last "]" seen is the wanted one
  bool sawEquals;
  bool keyEqual;
  bool capturing;
  NameMatch sectionName;
  NameMatch keyName;
  ValueCapture value;

  u8 pendingLead;
  bool hasPendingLead;

  void Start(const char* sectionText, const char* keyText, u32 outSize) {
    section = TrimQuery(sectionText);
    key = TrimQuery(keyText);
    size = outSize;
    inTarget = section.length == 0;  // the keys before the first header
    done = found = hasValue = false;
    hasPendingLead = false;
    StartLine();
  }

  void StartLine() {
    lineStarted = bracketLine = sawBracket = bracketNameEqual = false;
    sawEquals = keyEqual = capturing = false;
  }

  void EndLine() {
    if (lineStarted) {
      if (bracketLine && sawBracket) {
        if (inTarget) done = true;  // only the first section of the name counts
        else if (bracketNameEqual) inTarget = true;
      } else if (inTarget && (sawEquals ? keyEqual : keyName.Equal())) {
        found = done = true;
        hasValue = sawEquals;
      }
    }
    if (!done) StartLine();
  }

  void FirstOfLine(const Unit& u) {
    lineStarted = true;
    bracketLine = u.Is('[');
    if (bracketLine) sectionName.Start(section);
    if (inTarget) keyName.Start(key);
  }

  void TakeBracket(const Unit& u, bool first) {
    if (first) return;  // the "[" itself
    if (u.Is(']')) {
      sawBracket = true;
      bracketNameEqual = sectionName.Equal();
    }
    sectionName.Take(u);  // a "]" before the last one is part of the name
  }

  void TakeKey(const Unit& u) {
    if (capturing) {
      value.Take(u);
    } else if (!sawEquals && u.Is('=')) {
      sawEquals = true;
      keyEqual = keyName.Equal();
      capturing = keyEqual;
      if (capturing) value.Start(size);
    } else if (!sawEquals) {
      keyName.Take(u);
    }
  }

  void TakeUnit(const Unit& u) {
    if (u.Is('\n') || u.Is('\r')) {
      EndLine();
      return;
    }
    bool first = !lineStarted;
    if (first) {
      if (u.Blank()) return;
      FirstOfLine(u);
    }
    if (bracketLine) TakeBracket(u, first);
    if (inTarget) TakeKey(u);
  }

  void TakeBytes(const u8* p, size_t n) {
    for (size_t i = 0; i < n && !done; ++i) {
      u8 c = p[i];
      if (hasPendingLead) {
        hasPendingLead = false;
        TakeUnit(IsTrailByte(c) ? Unit{{pendingLead, c}, 2} : Unit{{kMiddleDot[0], kMiddleDot[1]}, 2});
      } else if (IsLeadByte(c)) {
        pendingLead = c;
        hasPendingLead = true;
      } else {
        TakeUnit(Unit{{c, 0}, 1});
      }
    }
  }

  void Finish() {
    if (done) return;
    if (hasPendingLead) {
      hasPendingLead = false;
      TakeUnit(Unit{{kMiddleDot[0], kMiddleDot[1]}, 2});
    }
    if (!done) EndLine();
  }
};

// Streams the file through the scan. 0 when the file cannot be read at all.
int ScanFile(const char* path, IniScan* scan) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  static u8 chunk[1 << 16];
  bool first = true;
  int ok = 1;
  while (!scan->done) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0) {
      ok = 0;
      break;
    }
    if (got == 0) break;
    size_t skip = 0;
    if (first && got >= 3 && chunk[0] == 0xEF && chunk[1] == 0xBB && chunk[2] == 0xBF) skip = 3;
    first = false;
    scan->TakeBytes(chunk + skip, (size_t)got - skip);
  }
  close(fd);
  if (ok) scan->Finish();
  return ok;
}

}  // namespace

/* PosixReadIniString: the value of `key` in `section` of the file at `path`
 * into `out`, with the system reader's rules above; returns the count of
 * bytes it reports. Missing file, section or key, or a key line without
 * "=", give the default. Protects against: any file content (binary, NULs,
 * broken double-byte pairs, unending lines), files of any size (one pass,
 * memory bounded by `size`), and writes past `out` (never beyond size - 1
 * bytes and the terminator; nothing at all for size 0). */
u32 PosixReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                       u32 size, const char* path) {
  if (!out || !size) return 0;
  if (size == 1) {
    out[0] = 0;
    return 0;
  }
  if (!section || !key || !path) return EmitDefault(defaultValue, out, size);
  IniScan scan;
  scan.Start(section, key, size);
  if (!ScanFile(path, &scan) || !scan.found || !scan.hasValue)
    return EmitDefault(defaultValue, out, size);
  return EmitValue(scan.value.head, scan.value.units, scan.value.last, out, size);
}
