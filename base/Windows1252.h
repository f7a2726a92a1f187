#pragma once

#include <QByteArray>
#include <QString>

namespace merival {

// The 8-bit character set of "config.txt", the exports and logger names. Characters it cannot
// hold are written as '?'.
[[nodiscard]] QByteArray ToWindows1252(const QString& text);
[[nodiscard]] QString FromWindows1252(const QByteArray& bytes);

}  // namespace merival
