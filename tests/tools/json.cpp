#include "json.h"

#include <cstdlib>
#include <cstring>

namespace qk2test {

const Json& Json::operator[](const std::string& key) const {
  static const Json kNone;
  const auto found = members.find(key);
  return found == members.end() ? kNone : found->second;
}

namespace {

struct Reader {
  const std::string& s;
  size_t at = 0;
  const char* why = "";

  bool Fail(const char* reason) { return why = reason, false; }
  char Peek() { return at < s.size() ? s[at] : '\0'; }
  void Blank() {
    while (at < s.size() && std::strchr(" \t\r\n", s[at])) ++at;
  }
  bool Eat(char c) {
    Blank();
    return Peek() == c && (++at, true);
  }
  size_t Digits() {
    const size_t from = at;
    while (Peek() >= '0' && Peek() <= '9') ++at;
    return at - from;
  }

  bool Value(Json* v, int depth) {
    Blank();
    if (depth > 64) return Fail("nested too deep");
    for (const char* word : {"true", "false", "null"})
      if (s.compare(at, std::strlen(word), word) == 0) {
        at += std::strlen(word);
        v->kind = *word == 'n' ? Json::kNull : Json::kBool;
        v->boolean = *word == 't';
        return true;
      }
    if (Eat('"')) return v->kind = Json::kString, String(&v->text);
    if (Eat('[')) {
      v->kind = Json::kArray;
      if (Eat(']')) return true;
      do {
        v->items.emplace_back();
        if (!Value(&v->items.back(), depth + 1)) return false;
      } while (Eat(','));
      return Eat(']') || Fail("',' or ']' expected");
    }
    if (Eat('{')) {
      v->kind = Json::kObject;
      if (Eat('}')) return true;
      do {
        std::string key;
        if (!Eat('"') || !String(&key)) return Fail("member name expected");
        if (v->members.count(key)) return Fail("member name repeated");
        if (!Eat(':')) return Fail("':' expected");
        if (!Value(&v->members[key], depth + 1)) return false;
      } while (Eat(','));
      return Eat('}') || Fail("',' or '}' expected");
    }
    const size_t from = at;
    if (Peek() == '-') ++at;
    const size_t whole = Digits();
    if (whole == 0 || (whole > 1 && s[at - whole] == '0')) return Fail("no value");
    if (Peek() == '.' && (++at, Digits() == 0)) return Fail("bad fraction");
    if (Peek() == 'e' || Peek() == 'E') {
      ++at;
      if (Peek() == '+' || Peek() == '-') ++at;
      if (Digits() == 0) return Fail("bad exponent");
    }
    v->kind = Json::kNumber;
    v->number = std::strtod(s.substr(from, at - from).c_str(), nullptr);
    return true;
  }

  // After the opening quote. Escapes other than \uXXXX of the basic plane
  // are left out: qk2 writes none.
  bool String(std::string* out) {
    for (;;) {
      const unsigned char c = (unsigned char)Peek();
      if (at >= s.size()) return Fail("unterminated string");
      if (c < 0x20) return Fail("raw control character in a string");
      ++at;
      if (c == '"') return true;
      if (c == '\\') {
        const char e = Peek();
        ++at;
        const char* escapes = "\"\"\\\\//b\bf\fn\nr\rt\t";
        const char* found = e ? std::strchr(escapes, e) : nullptr;
        if (found && (found - escapes) % 2 == 0) {
          *out += found[1];
        } else if (e == 'u' && at + 4 <= s.size() &&
                   s.substr(at, 4).find_first_not_of("0123456789abcdefABCDEF") ==
                       std::string::npos) {
          const unsigned code = (unsigned)std::strtoul(s.substr(at, 4).c_str(), nullptr, 16);
          at += 4;
          if (code >= 0xD800 && code < 0xE000) return Fail("surrogate escape");
          if (code < 0x80)
            *out += (char)code;
          else if (code < 0x800)
            *out += {(char)(0xC0 | code >> 6), (char)(0x80 | (code & 63))};
          else
            *out += {(char)(0xE0 | code >> 12), (char)(0x80 | ((code >> 6) & 63)),
                     (char)(0x80 | (code & 63))};
        } else {
          return Fail("bad escape");
        }
        continue;
      }
      // The rest of a UTF-8 sequence, checked.
      const size_t n = c < 0x80         ? 0
                       : (c >> 5) == 6  ? 1
                       : (c >> 4) == 14 ? 2
                       : (c >> 3) == 30 ? 3
                                        : 9;
      if (n == 9 || at + n > s.size()) return Fail("not UTF-8");
      *out += (char)c;
      for (size_t k = 0; k < n; ++k, ++at) {
        if (((unsigned char)s[at] >> 6) != 2) return Fail("not UTF-8");
        *out += s[at];
      }
    }
  }
};

}  // namespace

bool ParseJson(const std::string& text, Json* value, std::string* error) {
  *value = Json();
  Reader reader{text};
  bool ok = reader.Value(value, 0);
  reader.Blank();
  if (ok && reader.at != text.size()) ok = reader.Fail("text after the value");
  if (!ok) *error = "at byte " + std::to_string(reader.at) + ": " + reader.why;
  return ok;
}

}  // namespace qk2test
