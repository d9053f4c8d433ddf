#include "packer/encoding.h"

#if !defined(_WIN32)
#include <iconv.h>

bool ConvertText(const char* to, const char* from, const std::string& text, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  // Four bytes of output per input byte cover every conversion between the
  // two, and the rest of the block leaves room for a closing sequence.
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
#endif
