#include "EntryPoints.hpp"

#include "ComponentMetadata.hpp"

#include <dlfcn.h>

#include <stdexcept>

namespace cppmicroservices::scrimpl {

namespace {

void* findSymbol(void* library, const std::string& name, const std::string& libraryPath) {
    dlerror();
    void* sym = dlsym(library, name.c_str());
    if (!sym) {
        const char* err = dlerror();
        throw std::runtime_error("symbol " + name + " not found in " + libraryPath +
                                 (err ? std::string(": ") + err : std::string()));
    }
    return sym;
}

} // namespace

EntryPoints ResolveEntryPoints(void* library, const std::string& implementationClass,
                               const std::string& libraryPath) {
    EntryPoints entry;
    entry.create = reinterpret_cast<NewInstanceFn>(
        findSymbol(library, FactorySymbol(implementationClass), libraryPath));
    entry.dispose = reinterpret_cast<DeleteInstanceFn>(
        findSymbol(library, DisposerSymbol(implementationClass), libraryPath));
    return entry;
}

} // namespace cppmicroservices::scrimpl
