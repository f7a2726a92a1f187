#pragma once

#include <QDir>
#include <QSettings>
#include <QString>
#include <QStringList>

#include "alarms/AlarmEngine.h"
#include "base/Status.h"

namespace merival {

enum class SmtpSecurity { None, StartTls, Tls };
// Json: the event as the MQTT reading plus "evenement", one request per event.
// Text: {"text": ...} with the lines of the e-mail body, as chat incoming webhooks take it.
enum class WebhookFormat { Json, Text };

inline constexpr int kSmtpPort = 25;
inline constexpr int kSmtpsPort = 465;

// Section [Notifications] of merival.ini. E-mail goes out when a server and at least one
// recipient are given, the webhook when its address is.
struct NotifySettings {
    QString server;
    int port = kSmtpPort;
    SmtpSecurity security = SmtpSecurity::None;
    QString user;
    QString passwordFile;
    QString caFile;  // empty: the system's certificates
    QString sender;
    QStringList recipients;
    bool activation = true;  // "Seuil haut", "Seuil bas"
    bool returned = true;    // "Retour à la normale"
    bool acknowledged = true;
    bool loss = true;  // "Perte de communication"
    QString webhook;
    QString webhookHeader;  // one "Name: value" line, for a token
    WebhookFormat webhookFormat = WebhookFormat::Json;
    int groupSeconds = 30;  // events within this window go out together
    int perHour = 20;       // messages per hour and per way, at most

    [[nodiscard]] bool mailUsable() const { return !server.isEmpty() && !recipients.isEmpty(); }
    [[nodiscard]] bool webhookUsable() const { return !webhook.isEmpty(); }
    [[nodiscard]] bool Wants(const AlarmEvent& event) const;
    bool operator==(const NotifySettings&) const = default;
};

// Missing keys take the defaults. A value that cannot be used is left at its default and
// named in the warning.
[[nodiscard]] NotifySettings LoadNotifySettings(const QSettings& ini, Status* warning = nullptr);
void SaveNotifySettings(QSettings& ini, const NotifySettings& settings);
// A French message for the first setting that cannot work; Ok otherwise.
[[nodiscard]] Status CheckNotifySettings(const NotifySettings& settings);
// True when mail would cross the network in clear: no security towards another machine.
[[nodiscard]] bool ClearTextAcrossNetwork(const NotifySettings& settings);
// File names relative to the directory of merival.ini become absolute.
[[nodiscard]] NotifySettings WithFilesIn(NotifySettings settings, const QDir& directory);

// "activation,retour,acquittement,perte" and back.
[[nodiscard]] QString EventsKey(const NotifySettings& settings);
[[nodiscard]] bool ParseEventsKey(const QString& text, NotifySettings* settings);

}  // namespace merival
