// The program's names and the addresses it shows or opens, in one place.
#pragma once

#include <QString>

namespace tab::gui {

inline const QString kProductTitle = QStringLiteral("Tabulary");
inline const QString kSupportEmail = QStringLiteral("support@quillmoor.example");
inline const QString kMakerSite = QStringLiteral("https://quillmoor.example/tabulary");
// The vendor's redistributable pages of the Access Database Engine.
inline const QString kEngine2010Download =
    QStringLiteral("https://www.microsoft.com/en-us/download/details.aspx?id=13255");
inline const QString kEngine2016Download =
    QStringLiteral("https://www.microsoft.com/en-us/download/details.aspx?id=54920");
inline const QString kPdfPrinterName = QStringLiteral("Quillmoor PDF Writer");

// The product title cut before its last blank, again while longer than 40
// characters; a title without blanks is kept whole.
QString applicationTitleFrom(const QString& productTitle);

// The application title: set once at start-up (SetApplicationTitle), the
// title of every message box that names none of its own.
QString applicationTitle();
void SetApplicationTitle();

}  // namespace tab::gui
