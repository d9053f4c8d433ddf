// FILETIME and POSIX time stamps, for the POSIX layer (and the tests'
// simulation over it). Times before 1970 are taken as 1970.
#pragma once
#if !defined(_WIN32)
#include <time.h>

#include "platform/base.h"

enum : u64 { kUnixEpochAsFileTime = 116444736000000000ull };

static inline FileTime FileTimeFromTimespec(const struct timespec& t) {
  return MakeFileTime(kUnixEpochAsFileTime + (u64)t.tv_sec * 10000000ull + (u64)t.tv_nsec / 100);
}

static inline struct timespec TimespecFromFileTime(const FileTime* time) {
  struct timespec t;
  u64 value = FileTimeValue(time);
  if (value < kUnixEpochAsFileTime) value = kUnixEpochAsFileTime;
  value -= kUnixEpochAsFileTime;
  t.tv_sec = (time_t)(value / 10000000ull);
  t.tv_nsec = (long)(value % 10000000ull) * 100;
  return t;
}
#endif
