#pragma once

#include <QChar>
#include <QString>

namespace merival {

// StopKey, EscapeKey and PollInProgress: the only signals between the Mesure command, the
// measurement window's ABANDON and the cycle. One instance, owned by the shell.
struct MeasureState {
    QString StopKey;
    // The character 27; start-up sets it again. Never empty, so a fresh state is not a stop.
    QString EscapeKey = QString(QChar(27));
    bool PollInProgress = false;

    [[nodiscard]] bool StopRequested() const { return StopKey == EscapeKey; }
};

}  // namespace merival
