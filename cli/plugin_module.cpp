#include "plugin_module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "errors.h"

namespace qv::cli {

namespace {

// Sanity bounds on a descriptor read from an unknown module.
constexpr int32_t kMaxSliders = 64;

// dlerror() texts repeat the path; keep the part after it.
std::string LoaderReason(const std::string& path) {
    const char* error = dlerror();
    std::string reason = error != nullptr ? error : "unknown loader error";
    const std::string prefix = path + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0) reason.erase(0, prefix.size());
    return reason;
}

void CheckReadableFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw FilterError("cannot load the filter module " + path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) throw FilterError("cannot load the filter module " + path + ": it is a folder");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FilterError("cannot read the filter module " + path + ": " + std::strerror(errno));
    ::close(fd);
}

void CheckDescriptor(const std::string& path, const FilterDescriptor* d) {
    if (d == nullptr) throw FilterError(path + ": GetFilterTable returned no filter descriptor");
    const auto bad = [&](const char* what) {
        throw FilterError(path + ": the filter descriptor is unusable (" + what + ")");
    };
    if (d->name == nullptr) bad("no name");
    if (d->sliderCount < 0 || d->sliderCount > kMaxSliders) bad("slider count out of range");
    if (d->sliderCount > 0 && (d->sliderNames == nullptr || d->sliderDefaults == nullptr ||
                               d->sliderMinimums == nullptr || d->sliderMaximums == nullptr)) {
        bad("slider tables missing");
    }
    for (int32_t i = 0; i < d->sliderCount; ++i) {
        if (d->sliderNames[i] == nullptr) bad("a slider without a name");
    }
    if (d->process == nullptr) bad("no process callback");
}

}  // namespace

std::string PluginModule::ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "./";
    return exe.parent_path().string() + "/";
}

std::string PluginModule::DefaultPath() { return ExecutableFolder() + kModuleFileName; }

PluginModule::PluginModule(const std::string& path) : path_(path) {
    CheckReadableFile(path);
    // dlopen searches the library path for a bare name; a file name means that file.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    // RTLD_NODELETE: the module's render thread is detached and may still be returning through
    // the module's code when the exit callback has returned; the code stays mapped after dlclose.
    handle_ = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle_ == nullptr) {
        throw FilterError(path + " is not a loadable filter module: " + LoaderReason(openPath));
    }
    dlerror();
    void* entry = dlsym(handle_, kModuleEntrySymbol);
    if (entry == nullptr) {
        dlclose(handle_);
        throw FilterError(path + " is not a filter module: it has no " + kModuleEntrySymbol + " export");
    }
    using GetFilterTableFn = FilterDescriptor* (*)();
    descriptor_ = reinterpret_cast<GetFilterTableFn>(entry)();
    try {
        CheckDescriptor(path, descriptor_);
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

PluginModule::~PluginModule() {
    if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace qv::cli
