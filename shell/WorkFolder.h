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
// current directory stays as it was.
[[nodiscard]] Status EnterWorkFolder(const QString& folder, const QString& picture);

}  // namespace merival
