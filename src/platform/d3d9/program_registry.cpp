#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/d3d9/pixel_program.h"

namespace qv::gfx {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, PixelProgram> programs;
};

Registry& TheRegistry() {
    static Registry registry;  // built on first use: registrations run from static initialisers
    return registry;
}

}  // namespace

void RegisterPixelProgram(const PixelProgram& program) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.programs[program.name] = program;
}

const PixelProgram* FindPixelProgram(std::string_view name) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.programs.find(std::string(name));
    return it == r.programs.end() ? nullptr : &it->second;
}

}  // namespace qv::gfx
