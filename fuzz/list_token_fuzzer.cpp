// Random lists through NextListToken into slots of random contents with
// guard bytes after them, and random pieces through JoinPath checked against
// a plain model of the join.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "settings/settings.h"

namespace {

struct GuardedSlot {
  char slot[kPathSize];
  char guard[32];
};

void Check(bool condition) {
  if (!condition) abort();
}

bool GuardIntact(const GuardedSlot& s) {
  for (char c : s.guard)
    if (c != 0x5A) return false;
  return true;
}

void SplitList(const std::string& list, const uint8_t* fill, size_t fillSize) {
  const char* cursor = list.c_str();
  const char* const end = cursor + list.size();
  for (int calls = 0;; ++calls) {
    Check(calls <= (int)list.size() + 1);
    GuardedSlot s;
    for (size_t i = 0; i < sizeof s.slot; ++i) s.slot[i] = fillSize ? (char)fill[i % fillSize] : 'F';
    memset(s.guard, 0x5A, sizeof s.guard);
    const char* before = cursor;
    GuardedSlot untouched = s;
    int taken = NextListToken(s.slot, &cursor);
    Check(GuardIntact(s));
    Check(cursor >= before && cursor <= end);
    if (!taken) {
      Check(memcmp(&s, &untouched, sizeof s) == 0);
      const char* again = cursor;
      Check(!NextListToken(s.slot, &again) && again == cursor);
      return;
    }
    Check(cursor > before);
    Check(memchr(s.slot, 0, sizeof s.slot) != nullptr);
    Check(CurrentDiskNumber >= 0 && CurrentDiskNumber <= 9);
  }
}

void Join(const std::string& path, const std::string& component) {
  GuardedSlot s;
  memset(&s, 0x5A, sizeof s);
  std::string start = path.substr(0, kPathSize - 1);
  memcpy(s.slot, start.c_str(), start.size() + 1);
  std::string expected = start;
  if (!start.empty() && start.back() != '\\' && start.back() != '/') expected += '\\';
  expected += component;
  const bool fits = expected.size() + 2 <= kPathSize && component.size() < kPathSize;
  GuardedSlot before = s;
  int joined = JoinPath(s.slot, component.c_str());
  Check(GuardIntact(s));
  Check(joined == (fits ? 1 : 0));
  if (joined) Check(expected == s.slot && s.slot[expected.size() + 1] == 0);
  else Check(memcmp(&s, &before, sizeof s) == 0);
}

}  // namespace

// Layout: one byte giving the length of the slot filling, the filling, then
// the list; the list is also cut at its first NUL into a path and a
// component for the join.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!size) return 0;
  size_t fillSize = data[0] < size - 1 ? data[0] : size - 1;
  const uint8_t* fill = data + 1;
  std::string rest((const char*)data + 1 + fillSize, size - 1 - fillSize);
  CurrentDiskNumber = 0;
  SplitList(rest.c_str(), fill, fillSize);
  size_t cut = rest.find('\0');
  if (cut != std::string::npos) {
    std::string component = rest.substr(cut + 1);
    Join(rest.substr(0, cut), component.c_str());
  } else {
    Join(rest, "x");
  }
  return 0;
}
