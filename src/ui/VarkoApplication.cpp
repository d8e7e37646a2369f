#include "ui/VarkoApplication.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <typeinfo>

namespace varko {

std::function<void(const std::string&, const std::string&, const std::string&)>
    TVarkoApplication::OnException;

TVarkoApplication::TVarkoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

std::string DemangledName(const char* mangled) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

std::string SenderClassName(const QObject* receiver) {
    if (receiver == nullptr) {
        return "TApplication";
    }
    for (const QObject* o = receiver; o != nullptr; o = o->parent()) {
        const std::string name = o->metaObject()->className();
        constexpr const char* prefix = "varko::";
        if (name.rfind(prefix, 0) == 0) {
            return name.substr(std::strlen(prefix));
        }
    }
    return receiver->metaObject()->className();
}

bool TVarkoApplication::notify(QObject* receiver, QEvent* event) {
    std::string cls;
    std::string message;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        cls = DemangledName(typeid(e).name());
        message = e.what();
    } catch (...) {
        const std::type_info* t = abi::__cxa_current_exception_type();
        cls = t != nullptr ? DemangledName(t->name()) : "unknown";
    }
    const std::string sender = SenderClassName(receiver);
    if (OnException) {
        OnException(cls, sender, message);
    } else {
        std::fprintf(stderr, "%s@%s: %s\n", cls.c_str(), sender.c_str(), message.c_str());
        std::_Exit(EXIT_FAILURE);
    }
    return true;
}

} // namespace varko
