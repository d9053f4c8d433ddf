// A key tree under HKEY_CURRENT_USER for the host simulation.

#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "sim/entry_points_sim.h"
#include "sim/faults_sim.h"
#include "sim/sim.h"

namespace {
struct Value {
  u32 type;
  std::vector<u8> data;
};
struct Key {
  std::map<std::string, Value> values;  // by upper-cased name
};
std::map<std::string, Key> keys;  // by upper-cased path
std::set<Key*> openKeys;

std::string Upper(const char* s) {
  std::string u(s ? s : "");
  for (char& c : u) c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  return u;
}

const long kErrorFileNotFound = 2;
const long kErrorInvalidHandle = 6;
const long kErrorMoreData = 234;
const long kErrorRegistryIoFailed = 1016;
}  // namespace

void HostRegistrySetValue(const char* keyPath, const char* name, u32 type, const void* data,
                          u32 size) {
  const u8* p = (const u8*)data;
  keys[Upper(keyPath)].values[Upper(name)] = Value{type, std::vector<u8>(p, p + size)};
}

void HostRegistrySetString(const char* keyPath, const char* name, const char* value) {
  HostRegistrySetValue(keyPath, name, kRegSz, value, (u32)strlen(value) + 1);
}

void HostRegistrySetDword(const char* keyPath, const char* name, u32 value) {
  HostRegistrySetValue(keyPath, name, kRegDword, &value, sizeof value);
}

void HostRegistryCreateKey(const char* keyPath) { keys[Upper(keyPath)]; }

void HostRegistryReset() {
  keys.clear();
  openKeys.clear();
}

int HostRegistryOpenKeys() { return (int)openKeys.size(); }

long HostRegOpenKeyExA(RegistryKey key, const char* subKey, u32 options, u32 access,
                       RegistryKey* result) {
  (void)options;
  (void)access;
  if (key != kHkeyCurrentUser || !subKey || !result) return kErrorInvalidHandle;
  if (HostFaultHere(kCallRegistry, subKey)) return kErrorRegistryIoFailed;
  auto found = keys.find(Upper(subKey));
  if (found == keys.end()) return kErrorFileNotFound;
  openKeys.insert(&found->second);
  *result = (RegistryKey)&found->second;
  return kErrorSuccess;
}

// As RegQueryValueExA: the raw bytes, no type check, ERROR_MORE_DATA when
// the buffer is too small.
long HostRegQueryValueExA(RegistryKey key, const char* name, u32* reserved, u32* type, u8* data,
                          u32* size) {
  (void)reserved;
  Key* k = (Key*)key;
  if (!openKeys.count(k)) return kErrorInvalidHandle;
  if (HostFaultHere(kCallRegistry, name ? name : "")) return kErrorRegistryIoFailed;
  auto found = k->values.find(Upper(name));
  if (found == k->values.end()) return kErrorFileNotFound;
  const Value& value = found->second;
  if (type) *type = value.type;
  u32 needed = (u32)value.data.size();
  if (!size) return data ? kErrorInvalidHandle : kErrorSuccess;
  if (data && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data && needed) memcpy(data, value.data.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

long HostRegCloseKey(RegistryKey key) {
  Key* k = (Key*)key;
  if (!openKeys.erase(k)) return kErrorInvalidHandle;
  return kErrorSuccess;
}
