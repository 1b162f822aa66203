// The filter module, loaded with dlopen and found through its one export, GetFilterTable.
#pragma once

#include <string>

#include "host/host_records.h"

namespace qv::cli {

inline constexpr const char* kModuleFileName = "Quillervantis.auf";
inline constexpr const char* kModuleEntrySymbol = "GetFilterTable";

class PluginModule {
public:
    // Loads the module and calls GetFilterTable. Throws FilterError with one line naming the
    // module and the reason: missing, unreadable, not a module, no GetFilterTable, or a
    // descriptor the host cannot use.
    explicit PluginModule(const std::string& path);
    ~PluginModule();  // dlclose
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    const std::string& Path() const { return path_; }
    void* Handle() const { return handle_; }
    FilterDescriptor* Descriptor() const { return descriptor_; }

    // Where the module lies by default: beside the host's executable.
    static std::string DefaultPath();
    // The folder of the running executable, with a trailing '/'.
    static std::string ExecutableFolder();

private:
    std::string path_;
    void* handle_ = nullptr;
    FilterDescriptor* descriptor_ = nullptr;
};

}  // namespace qv::cli
