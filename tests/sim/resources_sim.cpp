// A resource table for the one module the host simulation knows.

#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/entry_points_sim.h"
#include "sim/faults_sim.h"
#include "sim/sim.h"

namespace {
char moduleAnchor;
// (type, id) -> bytes
std::map<std::pair<std::string, int>, std::vector<u8>> resources;

int IsIntegerResource(const char* name) { return ((uintptr_t)name >> 16) == 0; }

std::string TypeKey(const char* type) {
  if (IsIntegerResource(type)) return "#" + std::to_string((uintptr_t)type);
  std::string key(type);
  for (char& c : key) c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  return key;
}
}  // namespace

ModuleHandle HostModule() { return (ModuleHandle)&moduleAnchor; }

void HostSetResource(const char* type, int id, const void* bytes, u32 size) {
  const u8* p = (const u8*)bytes;
  resources[{TypeKey(type), id}] = std::vector<u8>(p, p + size);
}

void HostResetResources() { resources.clear(); }

void* HostFindResourceA(ModuleHandle module, const char* name, const char* type) {
  if (module != HostModule() || !IsIntegerResource(name)) return nullptr;
  if (HostFaultHere(kCallResource, "FindResourceA " + std::to_string((uintptr_t)name)))
    return nullptr;
  auto found = resources.find({TypeKey(type), (int)(uintptr_t)name});
  return found == resources.end() ? nullptr : (void*)&*found;
}

u32 HostSizeofResource(ModuleHandle module, void* info) {
  if (module != HostModule() || !info) return 0;
  if (HostFaultHere(kCallResource, "SizeofResource")) return 0;
  auto* entry = (std::pair<const std::pair<std::string, int>, std::vector<u8>>*)info;
  return (u32)entry->second.size();
}

void* HostLoadResource(ModuleHandle module, void* info) {
  if (module != HostModule() || !info) return nullptr;
  if (HostFaultHere(kCallResource, "LoadResource")) return nullptr;
  auto* entry = (std::pair<const std::pair<std::string, int>, std::vector<u8>>*)info;
  return entry->second.empty() ? nullptr : (void*)entry->second.data();
}

void* HostLockResource(void* data) {
  if (HostFaultHere(kCallResource, "LockResource")) return nullptr;
  return data;
}
