#pragma once

#include <QLoggingCategory>

namespace merival {

// Frames sent and received, in hexadecimal. Off by default; enable with
// QT_LOGGING_RULES="merival.frames.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcFrames)

}  // namespace merival
