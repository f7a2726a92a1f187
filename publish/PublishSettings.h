#pragma once

#include <QDir>
#include <QSettings>
#include <QString>

namespace merival {

// Section [Publication] of merival.ini. Nothing is published until Actif is true and a broker
// host is given.
struct PublishSettings {
    bool active = false;
    QString host;
    int port = 1883;
    QString prefix;  // empty: merival/<host name>
    QString user;
    QString passwordFile;
    QString caFile;  // TLS when given
    QString clientCert;
    QString clientKey;
    bool homeAssistant = false;

    [[nodiscard]] bool usable() const { return active && !host.trimmed().isEmpty(); }
    bool operator==(const PublishSettings&) const = default;
};

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttTlsPort = 8883;

// A missing or invalid port is 1883, or 8883 when a CA file asks for TLS.
[[nodiscard]] PublishSettings LoadPublishSettings(QSettings& ini);
void SavePublishSettings(QSettings& ini, const PublishSettings& settings);

// File names relative to the directory of merival.ini become absolute.
[[nodiscard]] PublishSettings WithFilesIn(PublishSettings settings, const QDir& directory);

}  // namespace merival
