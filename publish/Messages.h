#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "measure/ChannelReading.h"

namespace merival {

// One message for the broker; every message MERIVAL sends is retained at QoS 1.
struct MqttMessage {
    QByteArray topic;
    QByteArray payload;

    bool operator==(const MqttMessage&) const = default;
};

inline const QString kOnline = QStringLiteral("en ligne");
inline const QString kOffline = QStringLiteral("hors ligne");

// One topic level from free text (a tag, a host name): "/", "+", "#", control and format
// characters, non-characters and a leading "$" become "_", blanks around are dropped, and an
// empty level is "_". Other non-ASCII characters stay: topics are UTF-8 in MQTT, so a plant's
// names remain readable for subscribers.
[[nodiscard]] QString SafeTopicLevel(const QString& text);
// The prefix as configured, level by level made safe, empty levels dropped; when nothing is
// left, "merival/<host name>".
[[nodiscard]] QString SafePrefix(const QString& prefix, const QString& hostName);
[[nodiscard]] QByteArray ChannelTopic(const QString& prefix, int channel);
[[nodiscard]] QByteArray StateTopic(const QString& prefix);

// The reading as JSON: horodatage, voie, repere, type, etat, texte, valeurs, temperature.
[[nodiscard]] QByteArray ReadingJson(const ChannelReading& reading);

// Letters, digits, "_" and "-" only (accents dropped), as discovery identifiers require.
[[nodiscard]] QString AsciiId(const QString& text);
// Home Assistant discovery: one sensor per number of the reading and one for its temperature,
// each reading its value out of the channel's JSON.
[[nodiscard]] QList<MqttMessage> DiscoveryMessages(const QString& prefix,
                                                   const ChannelReading& reading);

}  // namespace merival
