#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

namespace merival {

// The 8-bit character set of "config.txt", the exports and logger names. Characters it cannot
// hold are written as '?'.
[[nodiscard]] QByteArray ToWindows1252(const QString& text);
[[nodiscard]] QString FromWindows1252(const QByteArray& bytes);
// False for a character that would be written as '?'.
[[nodiscard]] bool InWindows1252(QChar c);

}  // namespace merival
