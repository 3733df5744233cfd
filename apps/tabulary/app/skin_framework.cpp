#include "app/skin_framework.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <QWidget>

#include "app/failure.h"

namespace tab::gui {

namespace {

// A style sheet of a few screens of rules; anything far bigger is not ours.
constexpr qint64 kMaxSkinBytes = 256 * 1024;

const QString kSignature = QStringLiteral("/* Tabulary skin 1 */");
const QString kSectionStart = QStringLiteral("/* @section ");
const QString kSectionEnd = QStringLiteral(" */");

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

[[noreturn]] void notASkin(const QString& path, const QString& why) {
    throw Failure(
        QStringLiteral("The skin file %1 is not a Tabulary skin: %2.").arg(shown(path), why));
}

QByteArray readBounded(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure(QStringLiteral("The skin file %1 cannot be read: %2.")
                          .arg(shown(path), file.errorString()));
    }
    const QByteArray data = file.read(kMaxSkinBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        throw Failure(QStringLiteral("The skin file %1 cannot be read: %2.")
                          .arg(shown(path), file.errorString()));
    }
    if (data.size() > kMaxSkinBytes) {
        notASkin(path, QStringLiteral("it is bigger than %1 bytes").arg(kMaxSkinBytes));
    }
    return data;
}

}  // namespace

// The file's first line is the signature. Marker lines "/* @section NAME */"
// (NAME: children, hover or focus) start a section that runs to the next
// marker or the end; what precedes the first marker is the base sheet.
// The skin has a single variant, so `iniName` is accepted and ignored: a
// caller asking for a named variant gets the default look.
void SkinFramework::loadSkin(const QString& path, const QString& iniName) {
    Q_UNUSED(iniName);
    const QByteArray data = readBounded(path);
    if (data.isEmpty()) notASkin(path, QStringLiteral("it is empty"));
    if (data.contains('\0')) notASkin(path, QStringLiteral("it holds binary data"));
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString text = decoder(data);
    if (decoder.hasError()) notASkin(path, QStringLiteral("it is not UTF-8 text"));

    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    }
    if (lines.first() != kSignature) {
        notASkin(path, QStringLiteral("its first line is not %1").arg(kSignature));
    }

    QString base;
    QString children;
    QString hover;
    QString focus;
    bool seenChildren = false;
    bool seenHover = false;
    bool seenFocus = false;
    QString* current = &base;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(kSectionStart) && trimmed.endsWith(kSectionEnd)) {
            const QString name = trimmed.mid(
                kSectionStart.size(), trimmed.size() - kSectionStart.size() - kSectionEnd.size());
            bool* seen = nullptr;
            if (name == QLatin1String("children")) {
                current = &children;
                seen = &seenChildren;
            } else if (name == QLatin1String("hover")) {
                current = &hover;
                seen = &seenHover;
            } else if (name == QLatin1String("focus")) {
                current = &focus;
                seen = &seenFocus;
            } else {
                notASkin(
                    path,
                    QStringLiteral("line %1 names an unknown section \"%2\"").arg(i + 1).arg(name));
            }
            if (*seen) {
                notASkin(path,
                         QStringLiteral("line %1 repeats the section \"%2\"").arg(i + 1).arg(name));
            }
            *seen = true;
            continue;
        }
        current->append(line);
        current->append(QLatin1Char('\n'));
    }

    // Kept only once the whole file is known to be good.
    m_sheet = base;
    m_children = children;
    m_hover = hover;
    m_focus = focus;
    m_loaded = true;
}

QString SkinFramework::styleSheet() const {
    if (!m_loaded) return {};
    QString sheet = m_sheet;
    if (m_options & kSkinChildControls) sheet += m_children;
    if (m_hoverEffects) sheet += m_hover;
    if (m_focusFrames) sheet += m_focus;
    return sheet;
}

void SkinFramework::applyWindow(QWidget* window) const {
    if (!m_loaded) throw Failure(QStringLiteral("No skin is loaded, so none can be applied."));
    if (window == nullptr)
        throw Failure(QStringLiteral("There is no window to apply the skin to."));
    window->setStyleSheet(styleSheet());
}

}  // namespace tab::gui
