#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <map>

#include "measure/ChannelReading.h"
#include "publish/MqttLink.h"
#include "publish/PublishSettings.h"

namespace merival {

// Publishes every reading, retained at QoS 1, on <prefix>/voie/<n>, and the publisher's own
// state on <prefix>/etat ("en ligne"; "hors ligne" as the will and on a clean stop).
// Publishing never waits: without a broker only the latest reading of each channel is kept,
// and it goes out as soon as the broker accepts the connection again.
class Publisher : public QObject {
    Q_OBJECT
public:
    // The prefix is the configured one made safe, else merival/<host name>.
    Publisher(PublishSettings settings, const QString& hostName, QObject* parent = nullptr);
    ~Publisher() override;

    // Starts connecting; fails at once when a file of the settings cannot be read.
    Status Start();
    // "hors ligne", then a clean disconnection.
    void Stop();

    void publish(const merival::ChannelReading& reading);

    [[nodiscard]] QString prefix() const { return prefix_; }
    [[nodiscard]] const MqttLink& link() const { return link_; }

    // Messages sent but not yet acknowledged beyond which readings wait (latest kept).
    static constexpr int kMaxInFlight = 64;

Q_SIGNALS:
    void stateChanged(merival::LinkState state, const QString& text);

private:
    void Connected();
    void Send(int channel);
    void SendDiscovery(const ChannelReading& reading);
    void Flush();

    PublishSettings settings_;
    QString prefix_;
    MqttLink link_;
    std::map<int, ChannelReading> latest_;
    QSet<int> waiting_;   // channels whose latest reading is not sent yet
    QSet<int> inFlight_;  // message ids not acknowledged yet
    QHash<int, QList<std::pair<QString, QString>>> discovered_;  // channel: (name, unit)
};

}  // namespace merival
