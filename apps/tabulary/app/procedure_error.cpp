#include "app/procedure_error.h"

#include "app/failure.h"
#include "app/product.h"
#include "app/services.h"

namespace tab::gui {

QString procedureErrorText(const QString& description, const QString& source, long line) {
    return description + QStringLiteral("\r\n") + source + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + kSupportEmail;
}

void ShowProcedureError(const QString& description, const QString& source, long line) {
    services().dialogs().message({QStringLiteral("Application Error"),
                                  procedureErrorText(description, source, line), BoxIcon::Warning,
                                  BoxButtons::Ok});
}

Guard::Guard(QString procedure, const UnloadableWindow* window)
    : m_procedure(std::move(procedure)), m_window(window) {}

bool Guard::abandoned() const {
    return services().programEnded() || (m_window && m_window->unloaded());
}

QString Guard::source() const {
    return QStringLiteral("in Ravelin2021/08/31.") + m_procedure + u' ';
}

bool Guard::run(int number, const std::function<void()>& statement) {
    const int ordinal = m_ordinal++;
    QString description;
    try {
        if (GuardHooks* hooks = services().guardHooks()) {
            hooks->started(m_procedure, number);
            if (auto injected = hooks->injectFailure(m_procedure, number, ordinal))
                throw Failure(*injected);
        }
        statement();
        return true;
    } catch (const Failure& f) {
        description = f.description();
    } catch (const std::exception& e) {
        description = QString::fromUtf8(e.what());
    }
    ShowProcedureError(description, source(), number);
    return false;
}

bool Guard::line(int number, const std::function<void()>& statement) {
    if (abandoned()) return false;
    return run(number, statement);
}

bool Guard::test(int number, const std::function<bool()>& condition) {
    if (abandoned()) return false;
    bool result = true;
    run(number, [&] { result = condition(); });
    return result;
}

bool Guard::lineEvenIfUnloaded(int number, const std::function<void()>& statement) {
    if (services().programEnded()) return false;
    return run(number, statement);
}

}  // namespace tab::gui
