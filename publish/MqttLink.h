#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "base/Mailbox.h"
#include "base/Status.h"
#include "publish/PublishSettings.h"

struct mosquitto;

namespace merival {

// libmosquitto set up for the process while at least one of these exists (mosquitto_lib_init
// on the first, mosquitto_lib_cleanup after the last).
class MosquittoLibrary {
public:
    MosquittoLibrary();
    ~MosquittoLibrary();
    MosquittoLibrary(const MosquittoLibrary&) = delete;
    MosquittoLibrary& operator=(const MosquittoLibrary&) = delete;
};

enum class LinkState { Off, Connecting, Connected, Reconnecting, Refused };

// One connection to an MQTT broker. The network work runs in libmosquitto's own thread; its
// callbacks come back to the owner's thread as queued calls, so that nothing here ever waits
// on the broker: connecting (name lookup included) happens in a helper thread, and a lost
// broker is retried by libmosquitto with a delay growing from 1 s to 60 s.
class MqttLink : public QObject {
    Q_OBJECT
public:
    explicit MqttLink(QObject* parent = nullptr);
    ~MqttLink() override;
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts connecting. Fails at once, with a French reason, when a file of the settings
    // cannot be read. The will (retained, QoS 1) is set when willTopic is not empty.
    Status Start(const PublishSettings& settings, const QByteArray& willTopic = {},
                 const QByteArray& willPayload = {});
    // A last retained message when connected, then a clean disconnection.
    void Stop(const QByteArray& lastTopic = {}, const QByteArray& lastPayload = {});

    // Retained, QoS 1. False when not connected (nothing is queued then).
    bool Publish(const QByteArray& topic, const QByteArray& payload, int* messageId = nullptr);

    [[nodiscard]] LinkState state() const { return state_; }
    // "connecté à …", "reconnexion …", "refusé : …" (never the password).
    [[nodiscard]] QString stateText() const { return stateText_; }

Q_SIGNALS:
    void stateChanged(merival::LinkState state, const QString& text);
    // After every (re)connection accepted by the broker.
    void connected();
    // The broker acknowledged this message.
    void published(int messageId);

private:
    static void OnConnect(mosquitto*, void* self, int code);
    static void OnDisconnect(mosquitto*, void* self, int code);
    static void OnPublish(mosquitto*, void* self, int messageId);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    Status Configure(const PublishSettings& settings, const QByteArray& willTopic,
                     const QByteArray& willPayload);
    void Connect(bool first);
    void JoinStarter();
    void Connected(int code);
    void Disconnected(int code);
    void SetState(LinkState state, const QString& text);

    std::optional<MosquittoLibrary> library_;
    mosquitto* mosq_ = nullptr;
    QByteArray host_;
    int port_ = kMqttPort;
    QString address_;
    // Bumped at each stop, so that calls queued by an ended connection are dropped.
    std::atomic<int> session_ = 0;
    std::thread starter_;
    QTimer restart_;  // after an error that ends libmosquitto's thread
    int restartDelayS_ = 1;
    bool connected_ = false;
    LinkState state_ = LinkState::Off;
    QString stateText_;
    // What the loop thread saw, for a stop that waits for its last message and disconnection.
    std::mutex mutex_;
    std::condition_variable disconnectedCv_;
    int disconnections_ = 0;
    int lastAcknowledged_ = 0;
    std::atomic<bool> online_ = false;  // as the loop thread knows it
    Mailbox box_{this};  // the loop thread's and the helper's news, on this object's thread
};

}  // namespace merival
