#pragma once

#include <QtGlobal>
#include <string>

namespace merival {

// A field of the history's CSV (UTF-8 in, UTF-8 out), quoted when it holds a separator, a quote
// or a line break; with `oneLine`, CR LF becomes " / " first. A field a spreadsheet would read as
// a formula is given as a formula that only holds the text.
void AppendCsvField(std::string& out, const char* text, qsizetype size, bool oneLine = false);

}  // namespace merival
