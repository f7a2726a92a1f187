#pragma once

#include <QChar>
#include <QString>

namespace merival {

// StopKey, EscapeKey and PollInProgress: the only signals between the Mesure command, the
// measurement window's ABANDON and the cycle. One instance, owned by the shell.
struct MeasureState {
    QString StopKey;
    QString EscapeKey;  // the character 27, set at start-up
    bool PollInProgress = false;

    [[nodiscard]] bool StopRequested() const { return StopKey == EscapeKey; }
};

}  // namespace merival
