#include "platform/tool_text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

bool IsCp932Character(const char* bytes, size_t length) {
  wchar_t wide[2];
  return MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, (int)length, wide, 2) > 0;
}

std::string Cp932ToUtf8(const std::string& cp932) {
  if (cp932.empty()) return cp932;
  // Without MB_ERR_INVALID_CHARS the system puts U+FFFD (or a default
  // character) in place of what is no cp932, which is what JSON needs.
  const int wide = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), nullptr, 0);
  std::wstring w((size_t)wide, L'\0');
  MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), &w[0], wide);
  const int narrow = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string utf8((size_t)narrow, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &utf8[0], narrow, nullptr, nullptr);
  return utf8;
}
