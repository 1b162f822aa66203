// The module's resource table. Resources are registered at load by the code that carries
// them; the stand-in serves one module, so every module handle names this table. Names and
// types are numbers (MAKEINTRESOURCEA, or "#123") or strings matched without regard to case.
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <variant>

#include "platform/win32/fault_injection.h"
#include "platform/win32/win32.h"

namespace {

using ResourceId = std::variant<uintptr_t, std::string>;

ResourceId ToId(LPCSTR nameOrNumber) {
    const auto value = reinterpret_cast<uintptr_t>(nameOrNumber);
    if (value < 0x10000) return value;  // MAKEINTRESOURCEA
    std::string name(nameOrNumber);
    if (name.size() > 1 && name[0] == '#') {
        char* end = nullptr;
        const unsigned long number = std::strtoul(name.c_str() + 1, &end, 10);
        if (*end == '\0' && number < 0x10000) return static_cast<uintptr_t>(number);
    }
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

struct Resource {
    const void* data;
    DWORD size;
};

struct ResourceTable {
    std::mutex mutex;
    std::map<std::pair<ResourceId, ResourceId>, uintptr_t> tokens;  // (type, name) -> token
    std::map<uintptr_t, Resource> resources;                        // token -> resource
    uintptr_t nextToken = 0x1000;  // a token is never reused, so a stale HRSRC stays invalid
};

ResourceTable& TheTable() {
    static ResourceTable* table = new ResourceTable;
    return *table;
}

// Data of an empty resource: loading it still succeeds.
const unsigned char kEmptyResource = 0;

}  // namespace

HRSRC FindResourceA(HMODULE /*module*/, LPCSTR name, LPCSTR type) {
    if (name == nullptr || type == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (qv::win32::ShouldFail("FindResourceA")) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    ResourceTable& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const ResourceId typeId = ToId(type);
    const auto it = table.tokens.find({typeId, ToId(name)});
    if (it == table.tokens.end()) {
        const auto ofType = table.tokens.lower_bound({typeId, ResourceId{uintptr_t{0}}});
        const bool typeKnown = ofType != table.tokens.end() && ofType->first.first == typeId;
        SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(it->second);
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
    if (qv::win32::ShouldFail("LoadResource")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ResourceTable& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.resources.find(reinterpret_cast<uintptr_t>(resource));
    if (it == table.resources.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void*>(it->second.data);
}

LPVOID LockResource(HGLOBAL resource) {
    // As on Win32, the loaded resource is its data; locking only hands the address out.
    if (resource == nullptr || qv::win32::ShouldFail("LockResource")) return nullptr;
    return resource;
}

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
    if (qv::win32::ShouldFail("SizeofResource")) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    ResourceTable& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.resources.find(reinterpret_cast<uintptr_t>(resource));
    if (it == table.resources.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second.size;
}

namespace qv::win32 {

void RegisterResource(LPCSTR name, uintptr_t type, const void* data, size_t size) {
    if (name == nullptr) throw std::invalid_argument("RegisterResource: the resource has no name");
    const std::pair<ResourceId, ResourceId> key{ResourceId{type}, ToId(name)};
    ResourceTable& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto earlier = table.tokens.find(key);
    if (earlier != table.tokens.end()) table.resources.erase(earlier->second);
    const uintptr_t token = table.nextToken++;
    table.tokens[key] = token;
    table.resources[token] = {data != nullptr ? data : &kEmptyResource, static_cast<DWORD>(size)};
}

void UnregisterResource(LPCSTR name, uintptr_t type) {
    if (name == nullptr) return;
    const std::pair<ResourceId, ResourceId> key{ResourceId{type}, ToId(name)};
    ResourceTable& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.tokens.find(key);
    if (it == table.tokens.end()) return;
    table.resources.erase(it->second);
    table.tokens.erase(it);
}

}  // namespace qv::win32
