// Checks that every #include points down the layers. The allowed order is
// written once, in the README's Layout table: each folder's row names the
// folders it may include ("may include" column). This program reads that
// table (a row that may include "any" folder is not checked), then every
// source of the other folders, and reports
//   FILE:LINE: `folder/` may not include "other/x.h"
// for an include against the order, and
//   FILE:LINE: include cycle: a -> b -> a
// for modules (foo.h with foo.cpp, foo_win.cpp, ...) that reach themselves
// again, inside a folder or across folders. Exit code 0 when all is in order.
//
//   include_order SOURCE_DIR
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Include {
  std::string file;  // relative to the source folder
  int line;
  std::string target;  // as written between the quotes
};

// Folder rows of the README's Layout table: `folder/` -> folders it may include.
std::map<std::string, std::set<std::string>> ReadOrder(const fs::path& readme, std::string* error) {
  std::ifstream in(readme);
  std::map<std::string, std::set<std::string>> order;
  if (!in) {
    *error = readme.string() + ": cannot read";
    return order;
  }
  const std::regex folder("`([a-z0-9_]+)/`");
  std::string line;
  bool inLayout = false;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inLayout = line == "## Layout";
    if (!inLayout || line.rfind("| `", 0) != 0) continue;
    // | `folder/` | `a/`, `b/` | holds |
    std::vector<std::string> cells;
    std::stringstream row(line.substr(1));
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    if (cells.size() < 3 || cells[1].find("any") != std::string::npos) continue;
    std::smatch m;
    std::vector<std::string> owners;
    for (auto it = std::sregex_iterator(cells[0].begin(), cells[0].end(), folder);
         it != std::sregex_iterator(); ++it)
      owners.push_back((*it)[1]);
    std::set<std::string> allowed;
    for (auto it = std::sregex_iterator(cells[1].begin(), cells[1].end(), folder);
         it != std::sregex_iterator(); ++it)
      allowed.insert((*it)[1]);
    for (const std::string& owner : owners) order[owner] = allowed;
  }
  if (order.empty()) *error = readme.string() + ": no Layout table with a `folder/` row";
  return order;
}

bool IsSource(const fs::path& p) {
  const std::string e = p.extension().string();
  return e == ".h" || e == ".cpp" || e == ".c";
}

std::vector<Include> ReadIncludes(const fs::path& root, const fs::path& file) {
  std::vector<Include> includes;
  std::ifstream in(file);
  const std::regex directive(R"re(^\s*#\s*include\s*"([^"]+)")re");
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    std::smatch m;
    if (std::regex_search(line, m, directive))
      includes.push_back({fs::relative(file, root).generic_string(), n, m[1]});
  }
  return includes;
}

// The folder an include belongs to. "texts.h" is generated from
// resources/texts.def.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find('/');
  if (slash == std::string::npos) return path == "texts.h" ? "resources" : "";
  return path.substr(0, slash);
}

// A module: a header and its sources, named without extension and without
// the platform suffix ("platform/files" for files.h, files_win.cpp).
std::string ModuleOf(const std::string& path) {
  std::string stem = path.substr(0, path.rfind('.'));
  for (const char* suffix : {"_win", "_posix"}) {
    const std::string s = suffix;
    if (stem.size() > s.size() && stem.compare(stem.size() - s.size(), s.size(), s) == 0)
      return stem.substr(0, stem.size() - s.size());
  }
  return stem;
}

// One cycle through `start`, if any, as "a -> b -> a".
bool FindCycle(const std::map<std::string, std::set<std::string>>& graph, const std::string& node,
               std::vector<std::string>* path, std::set<std::string>* done) {
  if (std::find(path->begin(), path->end(), node) != path->end()) {
    path->push_back(node);
    return true;
  }
  if (done->count(node)) return false;
  path->push_back(node);
  const auto edges = graph.find(node);
  if (edges != graph.end())
    for (const std::string& next : edges->second)
      if (FindCycle(graph, next, path, done)) return true;
  path->pop_back();
  done->insert(node);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: include_order SOURCE_DIR\n";
    return 2;
  }
  const fs::path root = argv[1];
  std::string error;
  const auto order = ReadOrder(root / "README.md", &error);
  if (!error.empty()) {
    std::cerr << error << "\n";
    return 1;
  }
  int faults = 0;
  std::map<std::string, std::set<std::string>> modules;
  std::map<std::pair<std::string, std::string>, Include> firstEdge;
  for (const auto& [folder, allowed] : order) {
    if (!fs::is_directory(root / folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
      for (const Include& inc : ReadIncludes(root, entry.path())) {
        const std::string target = FolderOf(inc.target);
        if (target.empty()) continue;  // a header beside the file
        if (target != folder && !allowed.count(target)) {
          std::cout << inc.file << ":" << inc.line << ": `" << folder << "/` may not include \""
                    << inc.target << "\"\n";
          ++faults;
        }
        const std::string from = ModuleOf(inc.file), to = ModuleOf(inc.target);
        if (from == to) continue;
        modules[from].insert(to);
        firstEdge.emplace(std::make_pair(from, to), inc);
      }
    }
  }
  std::set<std::string> done;
  for (const auto& [module, edges] : modules) {
    std::vector<std::string> path;
    if (!FindCycle(modules, module, &path, &done)) continue;
    const auto start = std::find(path.begin(), path.end(), path.back());
    const Include& at = firstEdge.at({*start, *(start + 1)});
    std::cout << at.file << ":" << at.line << ": include cycle:";
    for (auto it = start; it != path.end(); ++it) std::cout << (it == start ? " " : " -> ") << *it;
    std::cout << "\n";
    ++faults;
    // Each module's cycles are reported once: it is done now.
    for (auto it = start; it != path.end(); ++it) done.insert(*it);
  }
  if (faults) std::cout << faults << (faults == 1 ? " include" : " includes")
                        << " against the order of the README's Layout table\n";
  return faults ? 1 : 0;
}
