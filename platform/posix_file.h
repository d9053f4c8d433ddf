// The record behind a FileHandle of the POSIX layer: the entry points of
// dynlib_posix.cpp open it, files_posix.cpp reads and closes it.
#pragma once

struct PosixFile {
  int fd;
};
