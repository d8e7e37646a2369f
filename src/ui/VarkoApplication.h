// The application object: every exception that escapes an event handler ends here instead of
// unwinding through Qt's event loop.
#pragma once

#include <QApplication>

#include <functional>
#include <string>

namespace varko {

class TVarkoApplication : public QApplication {
    Q_OBJECT
public:
    TVarkoApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The application-wide handler: exception class, sender class, message. Without one the
    // text goes to stderr and the program ends.
    static std::function<void(const std::string& exceptionClass, const std::string& senderClass,
                              const std::string& message)>
        gOnException;
};

// The class that stands for the receiver of an event: the nearest of it and its parents that
// is one of Varko's own (namespace stripped, "TMainWindow"), else its Qt class name.
std::string SenderClassName(const QObject* receiver);

} // namespace varko
