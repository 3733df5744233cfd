// Names: select-list aliases of the level, then columns of its sources,
// then those of enclosing levels; whatever stays unresolved is a parameter.
#include <algorithm>

#include "tabulary/base/case_fold.h"
#include "translator_internal.h"

namespace tab::accsql::translation {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Names match as Access matches them, letter by letter without regard to
// case in any script; the SQL written for SQLite uses the stored spelling.
bool sameName(std::string_view a, std::string_view b) {
    return equalsIgnoringCase(a, b);
}

// `key` identifies the parameter (the name without brackets), `shown` is
// how the message writes it.
void Translator::addParameter(const std::string& key, const std::string& shown, uint32_t offset) {
    if (!m_viewStack.empty()) offset = UINT32_MAX;
    for (size_t i = 0; i < m_params.size(); ++i)
        if (sameName(m_paramKeys[i], key)) {
            m_paramOffsets[i] = std::min(m_paramOffsets[i], offset);
            return;
        }
    m_params.push_back(shown);
    m_paramKeys.push_back(key);
    m_paramOffsets.push_back(offset);
}

Tx Translator::columnTx(const Source& s, const Col& c, const Level& L, bool outer) {
    Tx t;
    t.local = !outer;
    t.outer = outer;
    t.sql = s.alias + "." + c.sql;
    t.type = c.type;
    t.size = c.size;
    t.column = true;
    t.uniqueKey = c.uniqueKey;
    t.columnName = c.name;
    t.sourceName = s.exposed;
    t.level = &L;
    if (&s >= L.sources.data() && &s < L.sources.data() + L.sources.size())
        L.referenced.push_back(static_cast<size_t>(&s - L.sources.data()));
    return t;
}

int Translator::findSlot(Level& L, const Expr& e) {
    if (e.kind != ExprKind::Name || e.name.parts.size() != 1) return -1;
    const std::string& n = e.name.parts[0].text;
    for (size_t i = 0; i < L.slots.size(); ++i) {
        const Slot& s = L.slots[i];
        if (!sameName(s.item->alias->text, n)) continue;
        // "Price AS Price" names the column, not itself.
        if (static_cast<int>(i) == L.currentSlot) {
            const Expr& own = *s.item->expr;
            if (own.kind == ExprKind::Name && own.name.parts.size() == 1 &&
                sameName(own.name.parts[0].text, n))
                return -1;
        }
        return static_cast<int>(i);
    }
    return -1;
}

// An alias is translated once, where it is first used, and may use other
// aliases of the list; a cycle among them is an error.
Tx Translator::slotTx(Level& L, int index, Span useSpan) {
    Slot& s = L.slots[static_cast<size_t>(index)];
    if (s.state == 2) return s.tx;
    if (s.state == 1)
        fail(useSpan, "Circular reference caused by alias '" + s.item->alias->text +
                          "' in the query's SELECT list");
    s.state = 1;
    int saved = L.currentSlot;
    bool savedAgg = L.aggAllowed;
    L.currentSlot = index;
    L.aggAllowed = true;
    Tx t = expr(*s.item->expr, L);
    L.currentSlot = saved;
    L.aggAllowed = savedAgg;
    s.tx = t;
    s.state = 2;
    return t;
}

const Col* Translator::findColumn(const Source& s, std::string_view name) {
    for (const Col& c : s.cols)
        if (sameName(c.name, name)) return &c;
    return nullptr;
}

Tx Translator::name(const Expr& e, Level& L) {
    const auto& parts = e.name.parts;
    if (parts.size() == 1) {
        int s = findSlot(L, e);
        if (s >= 0) return aliasReference(e, L, s);
        if (auto t = unqualifiedColumn(e, L)) return *t;
    } else if (parts.size() == 2) {  // Table.Field or Table!Field
        if (auto t = qualifiedColumn(e, L)) return *t;
    }
    return parameter(e);
}

Tx Translator::aliasReference(const Expr& e, Level& L, int slot) {
    Tx t = slotTx(L, slot, e.span);
    if (t.agg && !L.aggAllowed)
        fail(e.span, "Cannot have an aggregate function in " + std::string(L.clause) + " ('" +
                         e.name.parts[0].text + "' stands for an aggregate)");
    t.column = false;
    t.level = &L;
    return t;
}

// The innermost level with the column wins; within a level the name must
// belong to one source only.
std::optional<Tx> Translator::unqualifiedColumn(const Expr& e, Level& L) {
    const std::string& n = e.name.parts[0].text;
    for (Level* lv = &L; lv; lv = lv->outer) {
        const Source* found = nullptr;
        const Col* col = nullptr;
        for (const Source& src : lv->sources) {
            if (const Col* c = findColumn(src, n)) {
                if (found)
                    fail(e.span, "The field '" + n +
                                     "' could refer to more than one table listed in the FROM "
                                     "clause");
                found = &src;
                col = c;
            }
        }
        if (found) return columnTx(*found, *col, *lv, lv != &L);
    }
    return std::nullopt;
}

// The innermost source of that name decides: without the column the name
// is a parameter, even if an enclosing level has a source that matches.
std::optional<Tx> Translator::qualifiedColumn(const Expr& e, Level& L) {
    const auto& parts = e.name.parts;
    for (Level* lv = &L; lv; lv = lv->outer)
        for (const Source& src : lv->sources)
            if (sameName(src.exposed, parts[0].text)) {
                if (const Col* c = findColumn(src, parts[1].text))
                    return columnTx(src, *c, *lv, lv != &L);
                return std::nullopt;
            }
    return std::nullopt;
}

Tx Translator::parameter(const Expr& e) {
    const auto& parts = e.name.parts;
    std::string key;
    for (size_t i = 0; i < parts.size(); ++i)
        key += (i ? std::string(1, e.name.separators[i - 1]) : "") + parts[i].text;
    addParameter(key, source(e.span).empty() ? key : source(e.span), e.span.offset);
    Tx t;
    t.sql = "NULL";
    t.type = Type::Variant;
    t.constant = true;
    return t;
}

}  // namespace tab::accsql::translation
