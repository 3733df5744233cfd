// A failure of one statement of the program: what a component reported, with
// the number it gave. Raised by procedures without a guard of their own and
// caught by the nearest guarded caller, which reports it and goes on.
#pragma once

#include <QString>
#include <exception>

#include "tabulary/base/error.h"

namespace tab::gui {

class Failure : public std::exception {
public:
    explicit Failure(QString description, long number = 0)
        : m_description(std::move(description)), m_number(number), m_what(m_description.toUtf8()) {}

    const QString& description() const { return m_description; }
    long number() const { return m_number; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    long m_number;
    QByteArray m_what;
};

// Engine results cross into the program here: an error becomes a Failure
// carrying the engine's message.
[[noreturn]] inline void raise(const Error& error) {
    throw Failure(QString::fromStdString(error.message()));
}
inline void check(const Status& status) {
    if (!status) raise(status.error());
}
template <class T>
T take(Result<T> result) {
    if (!result) raise(result.error());
    return std::move(result).value();
}

}  // namespace tab::gui
