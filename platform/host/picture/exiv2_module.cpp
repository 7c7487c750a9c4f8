#include "platform/host/picture/exiv2_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

namespace host {

namespace {

constexpr char kModuleName[] = "libphotomap-exiv2.so";

// The folder of the running program, from the kernel: not from argv or
// the environment, which its caller chooses.
std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/'));
}

}  // namespace

bool LoadExiv2Module(Exiv2Module* module) {
    const std::string folder = ProgramFolder();
    if (folder.empty()) return false;
    // Installed: PREFIX/bin/photomap and PREFIX/lib/photomap/plugins/. Built:
    // build/host/photomap (and build/host/tests/...) beside build/host/lib.
    for (const char* relative : {"/../lib/photomap/plugins/", "/lib/photomap/plugins/"}) {
        const std::string path = folder + relative + kModuleName;
        if (access(path.c_str(), R_OK) != 0) continue;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return false;
        module->prepare = reinterpret_cast<decltype(module->prepare)>(
            dlsym(handle, "PhotomapPrepareExiv2Reading"));
        module->read =
            reinterpret_cast<decltype(module->read)>(dlsym(handle, "PhotomapReadGpsWithExiv2"));
        return module->prepare != nullptr && module->read != nullptr;
    }
    return false;
}

}  // namespace host
