#pragma once

#include <QMutex>
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

#include "base/Mailbox.h"
#include "engine/Capability.h"
#include "web/LiveSnapshot.h"
#include "web/WebServer.h"
#include "web/WebSettings.h"

namespace merival {

// The web view as a capability: it keeps the last pass and hands it to a server on a thread of
// its own, which answers the pages, the API, /metrics and the push channel.
class WebView : public QObject, public Capability {
    Q_OBJECT
public:
    // Where it finds the other capabilities' state; each is asked on the engine thread at the
    // end of a pass, and may be empty.
    struct Sources {
        std::function<std::array<ChannelStats, kChannelCount>()> stats;
        std::function<long long()> droppedPasses;
        QString historyPath;  // read-only, for the curves and the journal
        // Relative files of [Web] are found beside merival.ini.
        QDir iniDirectory = QDir::current();
    };

    explicit WebView(Sources sources, QObject* parent = nullptr);
    ~WebView() override;

    void readSettings(const QSettings& ini) override;
    void start() override;
    void stop() override;
    void takeReading(const ChannelReading& reading) override;
    void passFinished(const PassEnd& pass) override;

    // From the alarm chain, on any thread.
    void setAlarmState(int channel, AlarmState state);
    // Whether "Acquitter" is offered; set before start.
    void setAlarmsAvailable(bool available) { alarmsAvailable_ = available; }

    [[nodiscard]] const WebSettings& settings() const { return settings_; }
    // The port bound while running; 0 otherwise.
    [[nodiscard]] quint16 port() const { return port_; }

Q_SIGNALS:
    // Queued to whoever owns the alarms; `user` as logged in.
    void acknowledgeRequested(const QString& user);
    // Logins, refused logins and acknowledgements, for the alarm journal.
    void journalRequested(const merival::AlarmEvent& event);
    // A French message: the server could not start.
    void failed(const QString& message);

private:
    void PushLater();

    Sources sources_;
    WebSettings settings_;
    LiveState live_;
    QThread thread_;
    std::unique_ptr<Mailbox> anchor_;  // on thread_: the server is made and fed there
    QMutex serverMutex_;               // server_ is read on the engine thread
    WebServer* server_ = nullptr;      // lives on thread_
    bool alarmsAvailable_ = false;
    quint16 port_ = 0;
};

}  // namespace merival
