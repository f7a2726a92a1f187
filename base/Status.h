#pragma once

#include <QString>

namespace merival {

// Outcome of an operation that the operator may have to hear about. The message is French,
// ready for a message box; an empty message means success.
struct Status {
    QString message;

    [[nodiscard]] bool ok() const { return message.isEmpty(); }
    [[nodiscard]] static Status Ok() { return {}; }
    [[nodiscard]] static Status Error(QString text) { return {std::move(text)}; }
};

}  // namespace merival
