#include "platform/tool_text.h"

#include <iconv.h>

namespace {

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The UTF-8 of `length` cp932 bytes, or false when they are no cp932.
bool Convert(const char* bytes, size_t length, std::string* out) {
  iconv_t convert = iconv_open("UTF-8", "CP932");
  if (convert == (iconv_t)-1) return false;
  char buffer[16];
  char* in = const_cast<char*>(bytes);
  size_t inLeft = length;
  char* to = buffer;
  size_t toLeft = sizeof buffer;
  const bool ok = iconv(convert, &in, &inLeft, &to, &toLeft) != (size_t)-1 && inLeft == 0 &&
                  iconv(convert, nullptr, nullptr, &to, &toLeft) != (size_t)-1;
  iconv_close(convert);
  if (ok) out->assign(buffer, (size_t)(to - buffer));
  return ok;
}

}  // namespace

bool IsCp932Character(const char* bytes, size_t length) {
  std::string ignored;
  return length && length <= 2 && Convert(bytes, length, &ignored);
}

std::string Cp932ToUtf8(const std::string& cp932) {
  std::string out;
  for (size_t i = 0; i < cp932.size();) {
    const size_t n = IsLeadByte((unsigned char)cp932[i]) && i + 1 < cp932.size() ? 2 : 1;
    std::string piece;
    out += Convert(cp932.data() + i, n, &piece) ? piece : "\xEF\xBF\xBD";
    i += n;
  }
  return out;
}
