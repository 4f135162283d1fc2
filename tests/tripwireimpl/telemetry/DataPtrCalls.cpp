#include "DataPtrCalls.h"

#include <foundation/feature/management/process/DataPtr.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace halvexconnector::tripwireimpl::test {
namespace {

std::mutex callsMutex;
std::map<std::string, int> calls;

using GetDataPtr = foundation::feature::detail::State* (*)(const std::string&);

GetDataPtr libraryGetDataPtr() {
    // The module's references resolve to the definition below when the test program is linked;
    // the feature library's own one is the next in the lookup order.
    static const GetDataPtr real = [] {
        void* symbol =
            ::dlsym(RTLD_NEXT, "_ZN10foundation7feature10management7process10getDataPtrERK"
                               "NSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");
        if (symbol == nullptr) {
            std::fprintf(stderr, "feature library's getDataPtr not found: %s\n", ::dlerror());
            std::abort();
        }
        return reinterpret_cast<GetDataPtr>(symbol);
    }();
    return real;
}

} // namespace

int dataPtrCalls(const std::string& name) {
    std::lock_guard<std::mutex> lock(callsMutex);
    const auto found = calls.find(name);
    return found == calls.end() ? 0 : found->second;
}

} // namespace halvexconnector::tripwireimpl::test

namespace foundation::feature::management::process {

detail::State* getDataPtr(const std::string& name) {
    using namespace halvexconnector::tripwireimpl::test;
    {
        std::lock_guard<std::mutex> lock(callsMutex);
        ++calls[name];
    }
    return libraryGetDataPtr()(name);
}

} // namespace foundation::feature::management::process
