// Packing for the qk2 commands: the package built entry by entry, so that a
// progress display can follow a long run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/package_writer.h"

// A one-line progress bar on stderr: entries done, megabytes done, and a
// bar by bytes. Silent unless `show` (stderr is a terminal, or --progress).
class PackProgress {
 public:
  PackProgress(size_t entries, uint64_t bytes, bool show);
  // The entry `name` (for the terminal) is being packed.
  void EntryStarting(const std::string& name);
  // `done` content bytes of the entry being packed are compressed: a large
  // one takes a while.
  void EntryAdvanced(uint64_t done);
  // One more entry of `bytes` content bytes is packed.
  void EntryDone(uint64_t bytes);
  // Ends the line.
  void Finish();

  // The line as drawn for the current state, for tests and for Draw.
  std::string Line() const;

 private:
  void Draw();

  bool show_;
  bool drawn_ = false;
  size_t drawnWidth_ = 0;
  std::string current_;  // the entry being packed, empty between entries
  size_t entries_;
  size_t entriesDone_ = 0;
  uint64_t bytes_;
  uint64_t bytesDone_ = 0;
  uint64_t currentDone_ = 0;  // of the entry being packed
};

// Fills `input`'s content and time stamp from the file at `path`; false
// with the path and the system's reason in `*error`.
bool ReadPackInput(const std::string& path, PackInput* input, std::string* error);

// Whether a run over `bytes` content bytes is long enough for the bar on a
// terminal: small packs finish before a bar could say anything.
bool PackingTakesAWhile(uint64_t bytes);

// The package of `inputs` (consumed), as BuildPackage makes it, with
// `progress` (may be null) told before and after each entry. False with a
// message as BuildPackage.
bool AssemblePackage(std::vector<PackInput> inputs, const PackOptions& options,
                     PackProgress* progress, std::vector<uint8_t>* out, std::string* error);
