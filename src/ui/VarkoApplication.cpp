#include "ui/VarkoApplication.h"

#include "core/Exceptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace varko {

std::function<void(const std::string&, const std::string&, const std::string&)>
    TVarkoApplication::gOnException;

TVarkoApplication::TVarkoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

std::string SenderClassName(const QObject* receiver) {
    if (receiver == nullptr) {
        return "TApplication";
    }
    for (const QObject* o = receiver; o != nullptr; o = o->parent()) {
        const std::string name = o->metaObject()->className();
        constexpr const char* Prefix = "varko::";
        if (name.rfind(Prefix, 0) == 0) {
            return name.substr(std::strlen(Prefix));
        }
    }
    return receiver->metaObject()->className();
}

bool TVarkoApplication::notify(QObject* receiver, QEvent* event) {
    TExceptionInfo info;
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        info = CurrentException();
    }
    const std::string& cls = info.Class;
    const std::string& message = info.Message;
    const std::string sender = SenderClassName(receiver);
    if (gOnException) {
        gOnException(cls, sender, message);
    } else {
        std::fprintf(stderr, "%s@%s: %s\n", cls.c_str(), sender.c_str(), message.c_str());
        std::_Exit(EXIT_FAILURE);
    }
    return true;
}

} // namespace varko
