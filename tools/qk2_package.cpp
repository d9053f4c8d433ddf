#include "tools/qk2_package.h"

#include <cstdio>
#include <cstring>

#include "package/format.h"
#include "packer/compress.h"
#include "tools/qk2_common.h"

namespace {

constexpr uint64_t kMegabyte = 1024 * 1024;
constexpr int kBarWidth = 30;

}  // namespace

// ---- progress

PackProgress::PackProgress(size_t entries, uint64_t bytes, bool show)
    : show_(show), entries_(entries), bytes_(bytes) {
  Draw();
}

void PackProgress::EntryStarting(const std::string& name) {
  current_ = name;
  Draw();
}

void PackProgress::EntryAdvanced(uint64_t done) {
  currentDone_ = done;
  Draw();
}

void PackProgress::EntryDone(uint64_t bytes) {
  current_.clear();
  currentDone_ = 0;
  ++entriesDone_;
  bytesDone_ += bytes;
  Draw();
}

void PackProgress::Finish() {
  if (!drawn_) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  drawn_ = false;
}

std::string PackProgress::Line() const {
  // By bytes, which is what takes the time; by entries when all are empty.
  const uint64_t done = bytesDone_ + currentDone_;
  const double part = bytes_     ? (double)done / (double)bytes_
                      : entries_ ? (double)entriesDone_ / (double)entries_
                                 : 1.0;
  const int filled = (int)(part * kBarWidth + 0.5);
  char text[160];
  std::snprintf(text, sizeof text, "packing [%s%s] %3d%%  %zu/%zu entries  %.1f/%.1f MB",
                std::string((size_t)filled, '#').c_str(),
                std::string((size_t)(kBarWidth - filled), '-').c_str(), (int)(part * 100 + 0.5),
                entriesDone_, entries_, (double)done / (double)kMegabyte,
                (double)bytes_ / (double)kMegabyte);
  return text;
}

void PackProgress::Draw() {
  if (!show_) return;
  // Carriage return only: the line is redrawn in place on a terminal, and
  // blanks cover whatever a longer line left.
  std::string line = Line();
  if (!current_.empty()) line += "  " + current_;
  const size_t width = line.size();
  if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
  drawnWidth_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

bool ReadPackInput(const std::string& path, PackInput* input, std::string* error) {
  if (!ReadWholeFile(path, &input->content, error)) return false;
  if (FileModified(path, &input->modified)) return true;
  *error = path + ": cannot read its time stamp";
  return false;
}

bool PackingTakesAWhile(uint64_t bytes) { return bytes >= kMegabyte; }

// ---- the package, with its progress

bool AssemblePackage(std::vector<PackInput> inputs, const PackOptions& options,
                     PackProgress* progress, std::vector<uint8_t>* out, std::string* error) {
  PackOptions followed = options;
  if (progress) {
    followed.onEntry = [progress](const PackInput& entry, bool done) {
      if (done) progress->EntryDone(entry.content.size());
      else progress->EntryStarting(FromCp932(entry.name));
    };
    followed.onEntryProgress = [progress](const PackInput&, size_t done) { progress->EntryAdvanced(done); };
  }
  return BuildPackage(inputs, followed, out, error);
}
