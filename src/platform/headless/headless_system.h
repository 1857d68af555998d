// The headless backend's stand-ins for the system services the password path
// reaches by name: the current user's registry and run-time libraries, and
// the switches a test turns (platform family, failing allocations). The core
// reaches them through the backend table's optional entries.
//
//   registry     open, query and close keys below HKEY_CURRENT_USER
//   libraries    load, look up exports, free; a table the tests fill
//   switches     GetVersionPlatformId's answer, failing GlobalAllocFixed
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace headless::system {

// The backend entries (backend.h says what each stands for).
long regOpenKey(plat::Key parent, const char* subKey, plat::Key* result);
long regQueryValue(plat::Key key, const char* valueName, std::uint32_t* type,
                   std::uint8_t* data, std::uint32_t* dataSize);
long regCloseKey(plat::Key key);
plat::Module loadLibrary(const char* name);
plat::Module loadedLibrary(const char* name);
void* libraryExport(plat::Module module, const char* name);
bool freeLibrary(plat::Module module);
bool versionPlatformId(std::uint32_t* platformId);
bool refuseAllocation(std::size_t bytes);

// Exports are plain addresses of functions with the PLATFORM_API convention.
struct LibraryExport {
    const char* name;
    void* address;
};
// Makes `name` loadable with these exports (copied; names must outlive the
// registration). alreadyLoaded: GetModuleHandleA finds it before any load.
void registerLibrary(const char* name, const LibraryExport* exports, std::size_t count,
                     bool alreadyLoaded);
// How many LoadLibraryA references are held (plus one if already loaded).
int libraryReferences(const char* name);

// Value `name` under `path` ("\\"-separated, any letter case); every key on
// the way exists from then on.
void setRegistryValue(const char* path, const char* name, std::uint32_t type,
                      const std::uint8_t* data, std::size_t size);

// GetVersionPlatformId's answer (2, the NT family, unless set; 0: it fails).
void setPlatformId(std::uint32_t platformId);
// While set, GlobalAllocFixed fails.
void setAllocationFails(bool fails);

// No value, no library, the NT family, allocations succeed.
void reset();

}  // namespace headless::system
