#pragma once

#include <QByteArray>
#include <QString>

namespace merival {

// Replaces a file with the bytes, or leaves the old file whole. Returns the system's reason of
// a failure; empty on success.
[[nodiscard]] QString SaveWholeFile(const QString& path, const QByteArray& bytes);

}  // namespace merival
