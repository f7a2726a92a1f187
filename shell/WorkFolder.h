#pragma once

#include <QString>

#include "base/Status.h"

namespace merival {

// The folder of its own that the desktop menu entry starts the program in: ~/MERIVAL.
[[nodiscard]] QString UserWorkFolder();

// The picture the package installs for the measurement window, found from the program's own
// place so that an unpacked package works too.
[[nodiscard]] QString PackagedPicture();

// Makes the folder when it is missing, copies the picture into it when the folder has none
// (a picture the operator changed is kept), and works in it from then on. On failure the
// current directory stays as it was. A folder without "config.txt" and "PortCom.dat" gets
// both, with no channel selected and the default line, and *welcome tells the operator so
// (and of a picture that could not be found) once; it stays empty otherwise.
[[nodiscard]] Status EnterWorkFolder(const QString& folder, const QString& picture,
                                     QString* welcome = nullptr);

}  // namespace merival
