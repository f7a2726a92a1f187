#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "alarms/AlarmEngine.h"
#include "measure/ChannelReading.h"
#include "notify/NotifySettings.h"

namespace merival {

// An event in the delivery queue, with the webhook body made when it happened (the reading
// it carries is gone by the time a retry runs).
struct Notification {
    qint64 id = 0;
    AlarmEvent event;
    QByteArray json;

    bool operator==(const Notification&) const = default;
};

// The event as the MQTT reading of its channel (when one is known) plus "evenement"; time,
// channel, tag and value text are the event's.
[[nodiscard]] QByteArray EventJson(const AlarmEvent& event,
                                   const std::optional<ChannelReading>& reading);

// French texts naming the events; `station` is the machine that saw them.
[[nodiscard]] QString MailSubject(const QList<Notification>& batch, const QString& station);
[[nodiscard]] QString MailBody(const QList<Notification>& batch, const QString& station);
// The whole message for SMTP: headers (subject encoded for any character), then the body in
// base64, lines ending in CR LF.
[[nodiscard]] QByteArray MailMessage(const NotifySettings& settings,
                                     const QList<Notification>& batch, const QString& station,
                                     const QDateTime& now);
// {"text": body} for a chat's incoming webhook.
[[nodiscard]] QByteArray WebhookText(const QList<Notification>& batch, const QString& station);

}  // namespace merival
