#include "templating/template_catalogue.h"

#include "app/failure.h"

namespace tab::gui {

const std::vector<TemplateFolder>& templateFolders() {
    static const std::vector<TemplateFolder> folders{
        {QStringLiteral("/templates/queries/select"), QStringLiteral("/queries/select")},
        {QStringLiteral("/templates/queries"), QStringLiteral("/queries")},
    };
    return folders;
}

const TemplateFolder& fragmentFolder() {
    static const TemplateFolder folder{QStringLiteral("/templates/fragments"),
                                       QStringLiteral("/fragments")};
    return folder;
}

std::vector<ListedFile> mergeListings(const QString& shippedFolder, const QStringList& shipped,
                                      const QString& ownFolder, const QStringList& own) {
    std::vector<ListedFile> files;
    files.reserve(shipped.size() + own.size());
    for (const QString& name : shipped) files.push_back({name, shippedFolder});
    for (const QString& name : own) {
        bool replaced = false;
        for (qsizetype i = 0; i < shipped.size(); ++i) {
            if (shipped[i] == name) {
                files[i].folder = ownFolder;
                replaced = true;
            }
        }
        if (!replaced) files.push_back({name, ownFolder});
    }
    return files;
}

bool isListedTemplateName(const QString& name) {
    return !name.startsWith(u'~');
}

QString templateDisplayName(const QString& name) {
    return name.section(u'.', 0, 0);
}

const CatalogueEntry& TemplateCatalogue::entry(int number) const {
    if (number < 1 || number > count()) throw Failure(QStringLiteral("Subscript out of range"), 9);
    return m_entries[static_cast<size_t>(number - 1)];
}

}  // namespace tab::gui
