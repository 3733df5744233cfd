#include "db/engine_check.h"

#include "app/product.h"
#include "app/services.h"
#include "tabulary/ado/connection.h"

namespace tab::gui {

QString missingProviderText() {
    const QString crlf2 = QStringLiteral("\r\n\r\n");
    return QStringLiteral(
               "Error #3706: Provider cannot be found. It may not be properly installed.") +
           crlf2 + QStringLiteral("You are getting this error because:") + crlf2 +
           QStringLiteral("1. Microsoft Access is not installed on your computer.") + crlf2 +
           QStringLiteral(
               "2. A set of Microsoft components to transfer data is not installed on your "
               "computer.") +
           crlf2 +
           QStringLiteral(
               "You need to download and install Microsoft Access Database Engine 2010 or 2016 "
               "to solve this problem.") +
           crlf2 +
           QStringLiteral("Would you like me to open the Microsoft site now so you can do this?") +
           crlf2 +
           QStringLiteral(
               "(If you have any further questions please email a screenshot of this error "
               "message to ") +
           kSupportEmail + u')';
}

bool IsDatabaseEngineAvailable() {
    CreationFailure failure;
    std::unique_ptr<ado::Connection> connection;
    try {
        connection = services().connections().create(failure);
    } catch (const std::exception& e) {
        failure = {0, QString::fromUtf8(e.what())};
    }
    if (connection) return true;
    const bool providerMissing =
        failure.description.contains(QStringLiteral("provider cannot be found"),
                                     Qt::CaseInsensitive) ||
        failure.number == 3706;
    if (!providerMissing) return false;
    const BoxAnswer answer = services().dialogs().message(
        {applicationTitle(), missingProviderText(), BoxIcon::None, BoxButtons::YesNo});
    if (answer != BoxAnswer::Yes) return false;
    services().browser().open(kEngine2010Download);
    services().browser().open(kEngine2016Download);
    return false;
}

}  // namespace tab::gui
