#include "core/Exceptions.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace varko {

std::string DemangledName(const char* mangled) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

TExceptionInfo CurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        return {DemangledName(typeid(e).name()), e.what()};
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return {type != nullptr ? DemangledName(type->name()) : "unknown", {}};
    }
}

} // namespace varko
