// Naming an exception for the crash window: "class@sender: message".
#pragma once

#include <string>

namespace varko {

// A demangled type name ("std::runtime_error").
std::string DemangledName(const char* mangled);

struct TExceptionInfo {
    std::string Class;   // demangled; "unknown" when the type cannot be told
    std::string Message; // what() of a std::exception, else empty
};

// The exception being handled; call only inside a catch block.
TExceptionInfo CurrentException();

} // namespace varko
