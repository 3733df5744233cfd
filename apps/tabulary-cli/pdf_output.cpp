#include "pdf_output.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "printing/text_printer.h"
#include "tabulary/writers/text_documents.h"

namespace tab::cli {

Status printRowsToPdf(writers::TableRows& rows, const std::string& path) {
    // The printer reads the workspace's tab-separated document, so the PDF
    // is the one the window prints.
    writers::OutputStream document;
    if (auto st = writers::writeDocument(writers::DocumentKind::GridText, rows, document); !st.ok())
        return st;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tabulary-cli";
    static char* argv[] = {name, nullptr};
    // Qt's notes about the session (no runtime folder, say) are not ours to
    // print; real failures come back as `error`.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QGuiApplication app(argc, argv);
    QString error;
    if (!printing::printTabSeparatedToPdf(QByteArray::fromStdString(document.buffer()),
                                          QString::fromStdString(path), error))
        return Error(Errc::Io, error.toStdString());
    return {};
}

}  // namespace tab::cli
