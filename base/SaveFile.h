#pragma once

#include <QByteArray>
#include <QString>

#include "base/Status.h"

namespace merival {

// Replaces a file with the bytes, or leaves the old file whole and says so, with the system's
// reason.
[[nodiscard]] Status SaveWholeFile(const QString& path, const QByteArray& bytes);

}  // namespace merival
