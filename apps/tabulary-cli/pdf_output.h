// The PDF of a result, printed by the program's text printer.
#pragma once

#include <string>

#include "tabulary/base/error.h"
#include "tabulary/writers/table_rows.h"

namespace tab::cli {

// Needs no display: Qt draws offscreen unless told otherwise.
Status printRowsToPdf(writers::TableRows& rows, const std::string& path);

}  // namespace tab::cli
