#include "history/CsvField.h"

namespace merival {
namespace {

// A tab or a carriage return first is dropped by some spreadsheets, which then read the rest.
bool FormulaStart(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

bool Special(const char* text, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == ';' || c == '"' || c == '\r' || c == '\n') {
            return true;
        }
    }
    return false;
}

}  // namespace

void AppendCsvField(std::string& out, const char* text, qsizetype size, bool oneLine) {
    if (!Special(text, size) && (size == 0 || !FormulaStart(text[0]))) {
        out.append(text, size_t(size));
        return;
    }
    std::string field;
    for (qsizetype i = 0; i < size; ++i) {
        if (oneLine && text[i] == '\r' && i + 1 < size && text[i + 1] == '\n') {
            field += " / ";
            ++i;
        } else {
            field += text[i];
        }
    }
    // A spreadsheet reads a cell that begins so as a formula: it is given as a formula that
    // only holds the text.
    if (!field.empty() && FormulaStart(field[0])) {
        std::string formula = "=\"";
        for (char c : field) {
            formula += c;
            if (c == '"') {
                formula += '"';
            }
        }
        field = formula + '"';
    }
    if (!Special(field.data(), qsizetype(field.size()))) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

}  // namespace merival
