// Random section "UPDATE" texts read by the update folder check and by the
// updater's own plan reader: for every installation mode the plan must be
// exactly the checker's lines meant for that mode.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "support/one_reading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
char folderName[] = "/tmp/one-reading-fuzz-XXXXXX";

void RemoveScratch() {
  unlink((std::string(folderName) + "/UPDATE.INI").c_str());
  rmdir(folderName);
}

const std::string& Folder() {
  static const std::string folder = [] {
    if (!mkdtemp(folderName)) abort();
    atexit(RemoveScratch);
    return std::string(folderName);
  }();
  return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen((Folder() + "/UPDATE.INI").c_str(), "wb");
  if (!file) abort();
  fputs("[SETUP]\r\nCompanyName=A\r\n[UPDATE]\r\n", file);
  fwrite(data, 1, size, file);
  fclose(file);
  const std::string difference = CompareReadings(Folder());
  if (!difference.empty()) {
    fprintf(stderr, "the checker and the plan reader differ: %s\n", difference.c_str());
    abort();
  }
  return 0;
}
