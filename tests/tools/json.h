// A strict JSON reader for checking qk2's --json output: the whole text
// must be one value, strings must be UTF-8 without raw control characters,
// and nothing may follow the value. (No escapes of characters beyond the
// basic plane: qk2 writes none.)
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qk2test {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // UTF-8
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // The member `key` of an object; a null value when there is none.
  const Json& operator[](const std::string& key) const;
  bool Has(const std::string& key) const { return members.count(key) != 0; }
};

// False, with the byte offset and what was wrong in `*error`, for anything
// that is not exactly one JSON value (blanks around it allowed).
bool ParseJson(const std::string& text, Json* value, std::string* error);

}  // namespace qk2test
