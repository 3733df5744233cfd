// Memo and OLE values kept outside their rows: one LVAL row for a value that
// fits a page, a chain of full-page pieces otherwise; freed again when the
// row is updated or deleted, as Access frees them.
#pragma once

#include <string>
#include <string_view>

#include "tabulary/base/error.h"

namespace tab::jet::edit {

class Pager;
struct RowHome;

// Stores `data` on the column's long-value pages; returns the 12-byte
// reference for the row.
Result<std::string> storeLongValue(Pager& pager, RowHome& home, std::string_view data);

// Frees the pieces a row's long-value field points to (nothing for inline
// values); the pages that got room go back into the column's free map.
Status freeLongValue(Pager& pager, const RowHome& home, std::string_view field);

}  // namespace tab::jet::edit
