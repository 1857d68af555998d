// The registry and library table the tests fill, behind the backend's
// optional system entries. Library handles are spaced like DLL bases so that
// a handle that was never given out is recognisably not one.
#include "platform/headless/headless_system.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <strings.h>

namespace headless::system {
namespace {

constexpr plat::Module kFirstLibrary = 0x10000000;
constexpr plat::Module kLibraryStep = 0x00010000;

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;

struct Library {
    std::string name;
    std::vector<LibraryExport> exports;
    bool alreadyLoaded;
    int references;
};

struct RegistryValue {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};

struct SystemState {
    std::vector<Library> libraries;
    // Keys by path in upper case ("" is HKEY_CURRENT_USER itself); values by
    // name in upper case.
    std::map<std::string, std::map<std::string, RegistryValue>> registry;
    std::map<plat::Key, std::string> openKeys;
    plat::Key nextKey = 0x1000;
    std::uint32_t platformId = 2;  // the NT family
    bool allocFails = false;
};

SystemState& sys() {
    static SystemState state;
    return state;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// "a\\\\b\\" and "A\\B" name the same key.
std::string keyPath(const std::string& text) {
    std::string out;
    for (char c : upper(text)) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

// The path of an open key ("" for HKEY_CURRENT_USER); false for a handle
// that is not open.
bool openKeyPath(plat::Key key, std::string* path) {
    path->clear();
    if (key == plat::HKEY_CURRENT_USER) return true;
    auto it = sys().openKeys.find(key);
    if (it == sys().openKeys.end()) return false;
    *path = it->second;
    return true;
}

std::string joinKey(const std::string& parent, const std::string& child) {
    if (parent.empty()) return child;
    if (child.empty()) return parent;
    return parent + "\\" + child;
}

Library* libraryByHandle(plat::Module module) {
    if (module < kFirstLibrary || (module - kFirstLibrary) % kLibraryStep != 0) return nullptr;
    std::size_t index = (module - kFirstLibrary) / kLibraryStep;
    auto& libs = sys().libraries;
    return index < libs.size() ? &libs[index] : nullptr;
}

plat::Module handleOf(const Library& lib) {
    return kFirstLibrary + static_cast<plat::Module>(&lib - sys().libraries.data()) * kLibraryStep;
}

// Win32 finds "mpr" as "MPR.DLL" and ignores a directory in the name.
Library* libraryByName(const char* name) {
    if (!name) return nullptr;
    std::string base = name;
    std::size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    if (base.find('.') == std::string::npos) base += ".DLL";
    for (Library& lib : sys().libraries)
        if (strcasecmp(lib.name.c_str(), base.c_str()) == 0) return &lib;
    return nullptr;
}

}  // namespace

long regOpenKey(plat::Key parent, const char* subKey, plat::Key* result) {
    if (!result) return kErrorInvalidParameter;
    std::string base;
    if (!openKeyPath(parent, &base)) return kErrorInvalidHandle;
    std::string path = joinKey(base, keyPath(subKey ? subKey : ""));
    if (path.empty() && parent == plat::HKEY_CURRENT_USER) {
        *result = plat::HKEY_CURRENT_USER;
        return kErrorSuccess;
    }
    if (!sys().registry.count(path)) return kErrorFileNotFound;
    plat::Key key = sys().nextKey++;
    sys().openKeys[key] = path;
    *result = key;
    return kErrorSuccess;
}

long regQueryValue(plat::Key key, const char* valueName, std::uint32_t* type,
                   std::uint8_t* data, std::uint32_t* dataSize) {
    std::string path;
    if (!openKeyPath(key, &path)) return kErrorInvalidHandle;
    if (data && !dataSize) return kErrorInvalidParameter;
    auto k = sys().registry.find(path);
    if (k == sys().registry.end()) return kErrorFileNotFound;
    auto v = k->second.find(upper(valueName ? valueName : ""));
    if (v == k->second.end()) return kErrorFileNotFound;
    const RegistryValue& value = v->second;
    auto size = static_cast<std::uint32_t>(value.data.size());
    if (type) *type = value.type;
    if (!data) {
        if (dataSize) *dataSize = size;
        return kErrorSuccess;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return kErrorMoreData;
    }
    if (size) std::memcpy(data, value.data.data(), size);
    *dataSize = size;
    return kErrorSuccess;
}

long regCloseKey(plat::Key key) {
    if (key == plat::HKEY_CURRENT_USER) return kErrorSuccess;
    return sys().openKeys.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

plat::Module loadedLibrary(const char* name) {
    Library* lib = libraryByName(name);
    return lib && lib->references > 0 ? handleOf(*lib) : 0;
}

plat::Module loadLibrary(const char* name) {
    Library* lib = libraryByName(name);
    if (!lib) return 0;
    ++lib->references;
    return handleOf(*lib);
}

void* libraryExport(plat::Module module, const char* name) {
    Library* lib = libraryByHandle(module);
    // Names below 0x10000 are ordinals on Win32; we export by name only.
    if (!lib || lib->references <= 0 || reinterpret_cast<std::uintptr_t>(name) < 0x10000)
        return nullptr;
    for (const LibraryExport& e : lib->exports)
        if (e.name && std::strcmp(e.name, name) == 0) return e.address;
    return nullptr;
}

bool freeLibrary(plat::Module module) {
    Library* lib = libraryByHandle(module);
    if (!lib || lib->references <= 0) return false;
    --lib->references;
    return true;
}

bool versionPlatformId(std::uint32_t* platformId) {
    if (!platformId || sys().platformId == 0) return false;
    *platformId = sys().platformId;
    return true;
}

bool refuseAllocation(std::size_t) { return sys().allocFails; }

void registerLibrary(const char* name, const LibraryExport* exports, std::size_t count,
                     bool alreadyLoaded) {
    if (!name) return;
    Library* lib = libraryByName(name);
    if (!lib) {
        sys().libraries.push_back(Library{name, {}, false, 0});
        lib = &sys().libraries.back();
    }
    lib->exports.assign(exports, exports + count);
    lib->alreadyLoaded = alreadyLoaded;
    lib->references = alreadyLoaded ? 1 : 0;
}

int libraryReferences(const char* name) {
    Library* lib = libraryByName(name);
    return lib ? lib->references : 0;
}

void setRegistryValue(const char* path, const char* name, std::uint32_t type,
                      const std::uint8_t* data, std::size_t size) {
    std::string key = keyPath(path ? path : "");
    for (std::size_t i = 0; i <= key.size(); ++i)
        if (i == key.size() || key[i] == '\\') sys().registry[key.substr(0, i)];
    sys().registry[key][upper(name ? name : "")] =
        RegistryValue{type, std::vector<std::uint8_t>(data, data + size)};
}

void setPlatformId(std::uint32_t platformId) { sys().platformId = platformId; }
void setAllocationFails(bool fails) { sys().allocFails = fails; }

void reset() { sys() = SystemState{}; }

}  // namespace headless::system
