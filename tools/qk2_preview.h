// qk2 preview: what an update would do to one installation, decided by the
// updater's own readers and placement rules, with nothing changed.
#pragma once

#include <string>
#include <vector>

extern const char kPreviewUsage[];

// `qk2 preview FOLDER|FILE --install DIR [...]`; returns the exit code.
int CommandPreview(const std::vector<std::string>& args);
