#pragma once

#include <QString>

namespace merival {

// --web-user NAME [--role ROLE]: the password is read from the terminal without echo (twice),
// or from the first line of standard input; never from the command line. Exit status.
[[nodiscard]] int SetWebUserFromConsole(const QString& name, const QString& role);

}  // namespace merival
