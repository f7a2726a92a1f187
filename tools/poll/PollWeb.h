#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace merival {

class Alarms;
class AlarmJournal;
class ExchangeLog;
class HistoryRecorder;
class MeasurementCycle;
class WebView;

// merival-poll's web view: the [Web] section of merival.ini, fed by the cycle, with the
// line's statistics, the history's losses and, with --alarms, the alarm chain.
struct PollWeb {
    std::unique_ptr<AlarmJournal> journal;  // when there is no alarm chain to journal into
    std::unique_ptr<WebView> view;
};

// Null members and a message when [Web] is off or the server cannot listen.
[[nodiscard]] PollWeb StartPollWeb(MeasurementCycle& cycle, ExchangeLog& log,
                                   HistoryRecorder* recorder, Alarms* alarms,
                                   const std::function<void(const QString&)>& error);

// --web-user NAME [--role ROLE]: the password is read from the terminal without echo (twice),
// or from the first line of standard input; never from the command line. Exit status.
[[nodiscard]] int SetWebUserFromConsole(const QString& name, const QString& role);

}  // namespace merival
