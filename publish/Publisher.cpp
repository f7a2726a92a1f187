#include "publish/Publisher.h"

#include "publish/Messages.h"

namespace merival {
namespace {

QList<std::pair<QString, QString>> DiscoveryKey(const ChannelReading& r) {
    QList<std::pair<QString, QString>> key;
    for (const ReadingNumber& number : r.numbers) {
        key.append({number.name, number.unit});
    }
    if (r.temperature) {
        key.append({QStringLiteral("temperature"), {}});
    }
    return key;
}

}  // namespace

Publisher::Publisher(PublishSettings settings, const QString& hostName, QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      prefix_(SafePrefix(settings_.prefix, hostName)) {
    connect(&link_, &MqttLink::stateChanged, this, &Publisher::stateChanged);
    connect(&link_, &MqttLink::connected, this, &Publisher::Connected);
    connect(&link_, &MqttLink::published, this, [this](int id) {
        inFlight_.remove(id);
        Flush();
    });
}

Publisher::~Publisher() {
    Stop();
}

Status Publisher::Start() {
    return link_.Start(settings_, StateTopic(prefix_), kOffline.toUtf8());
}

void Publisher::Stop() {
    link_.Stop(StateTopic(prefix_), kOffline.toUtf8());
}

void Publisher::publish(const ChannelReading& reading) {
    latest_[reading.channel] = reading;
    waiting_.insert(reading.channel);
    Flush();
}

void Publisher::Connected() {
    // Acknowledgements of the lost connection may never come.
    inFlight_.clear();
    discovered_.clear();
    link_.Publish(StateTopic(prefix_), kOnline.toUtf8());
    for (const auto& [channel, reading] : latest_) {
        waiting_.insert(channel);
    }
    Flush();
}

void Publisher::Flush() {
    if (link_.state() != LinkState::Connected) {
        return;
    }
    const QList<int> channels(waiting_.begin(), waiting_.end());
    for (int channel : channels) {
        if (inFlight_.size() >= kMaxInFlight) {
            return;
        }
        Send(channel);
    }
}

void Publisher::Send(int channel) {
    const ChannelReading& reading = latest_.at(channel);
    if (settings_.homeAssistant) {
        SendDiscovery(reading);
    }
    int id = 0;
    if (link_.Publish(ChannelTopic(prefix_, channel), ReadingJson(reading), &id)) {
        inFlight_.insert(id);
        waiting_.remove(channel);
    }
}

void Publisher::SendDiscovery(const ChannelReading& reading) {
    // A unit that changes with the range (Ohm, kOhm, MOhm) is announced again.
    const auto key = DiscoveryKey(reading);
    if (key.isEmpty() || discovered_.value(reading.channel) == key) {
        return;
    }
    for (const MqttMessage& message : DiscoveryMessages(prefix_, reading)) {
        if (!link_.Publish(message.topic, message.payload)) {
            return;
        }
    }
    discovered_.insert(reading.channel, key);
}

}  // namespace merival
