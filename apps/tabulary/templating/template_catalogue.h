// The template and fragment catalogues: which folders are listed, in which
// order, and what each listed file becomes (a display name and a path).
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace tab::gui {

// One folder of a catalogue, as a path under the application folder and
// under the user's template folder ("/templates/queries/select" and
// "/queries/select").
struct TemplateFolder {
    QString shipped;
    QString own;
};

// The folders behind the template list, in listing order, and the one
// behind the fragment list.
const std::vector<TemplateFolder>& templateFolders();
const TemplateFolder& fragmentFolder();

// A file to list: its bare name and the folder it is in (no trailing "/").
struct ListedFile {
    QString name;
    QString folder;
};

// The shipped names first, then the user's; a user's file of the same name
// as a shipped one takes the shipped one's place.
std::vector<ListedFile> mergeListings(const QString& shippedFolder, const QStringList& shipped,
                                      const QString& ownFolder, const QStringList& own);

// Names starting with "~" are not listed.
bool isListedTemplateName(const QString& name);
// The name up to its first ".": "My.Query.txt" is "My", ".txt" is "".
QString templateDisplayName(const QString& name);

struct CatalogueEntry {
    QString displayName;
    QString path;
};

// Entries numbered from 1 in the order they were added; position k of the
// window's list is entry k + 1.
class TemplateCatalogue {
public:
    void add(CatalogueEntry entry) { m_entries.push_back(std::move(entry)); }
    int count() const { return static_cast<int>(m_entries.size()); }
    // Entry `number` (from 1); throws Failure when there is none.
    const CatalogueEntry& entry(int number) const;

private:
    std::vector<CatalogueEntry> m_entries;
};

}  // namespace tab::gui
