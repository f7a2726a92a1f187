#include "notify/NotifyMessages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <algorithm>
#include <utility>

#include "publish/Messages.h"

namespace merival {
namespace {

QString LocalTime(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

QString Channel(const AlarmEvent& e) {
    return e.tag.isEmpty() ? QStringLiteral("voie %1").arg(e.channel)
                           : QStringLiteral("voie %1 (%2)").arg(e.channel).arg(e.tag);
}

// RFC 2047 encoded words short enough for a 78-character line after "Subject: ", never
// splitting a character.
QByteArray EncodedHeader(const QString& text) {
    QList<QByteArray> words;
    QByteArray chunk;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype width = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = text.mid(i, width).toUtf8();
        i += width - 1;
        if (chunk.size() + bytes.size() > 39) {
            words.append(std::exchange(chunk, {}));
        }
        chunk += bytes;
    }
    words.append(chunk);
    QByteArray header;
    for (const QByteArray& word : words) {
        header +=
            (header.isEmpty() ? "" : "\r\n ") + QByteArray("=?UTF-8?B?") + word.toBase64() + "?=";
    }
    return header;
}

// Header values come from settings already checked; line breaks are dropped all the same.
QByteArray HeaderValue(const QString& text) {
    QString value = text;
    value.remove(u'\r').remove(u'\n');
    return value.toUtf8();
}

}  // namespace

QByteArray EventJson(const AlarmEvent& e, const std::optional<ChannelReading>& reading) {
    QJsonObject json;
    if (reading) {
        json = QJsonDocument::fromJson(ReadingJson(*reading)).object();
    }
    json.insert(QStringLiteral("horodatage"), e.time.toUTC().toString(Qt::ISODateWithMs));
    json.insert(QStringLiteral("voie"), e.channel);
    json.insert(QStringLiteral("repere"), e.tag);
    json.insert(QStringLiteral("texte"), e.text);
    json.insert(QStringLiteral("evenement"), e.event);
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QString MailSubject(const QList<Notification>& batch, const QString& station) {
    if (batch.size() == 1) {
        const AlarmEvent& e = batch.first().event;
        return QStringLiteral("MERIVAL %1 : %2, %3 – %4").arg(station, e.event, Channel(e), e.text);
    }
    QList<int> channels;
    for (const Notification& n : batch) {
        if (!channels.contains(n.event.channel)) {
            channels.append(n.event.channel);
        }
    }
    std::sort(channels.begin(), channels.end());
    QStringList names;
    for (int channel : channels) {
        names.append(QString::number(channel));
    }
    return QStringLiteral("MERIVAL %1 : %2 événements d'alarme, %3 %4")
        .arg(station)
        .arg(batch.size())
        .arg(channels.size() == 1 ? QStringLiteral("voie") : QStringLiteral("voies"),
             names.join(QStringLiteral(", ")));
}

QString MailBody(const QList<Notification>& batch, const QString& station) {
    QString body = batch.size() == 1
                       ? QStringLiteral("Événement d'alarme sur %1 :\n\n").arg(station)
                       : QStringLiteral(
                             "%1 événements d'alarme sur %2, du plus ancien au plus "
                             "récent :\n\n")
                             .arg(batch.size())
                             .arg(station);
    for (const Notification& n : batch) {
        const AlarmEvent& e = n.event;
        body +=
            QStringLiteral("%1  %2  %3 : %4\n").arg(LocalTime(e.time), e.event, Channel(e), e.text);
    }
    body += QStringLiteral("\nHeures locales du poste. Message envoyé par MERIVAL.\n");
    return body;
}

QByteArray MailMessage(const NotifySettings& s, const QList<Notification>& batch,
                       const QString& station, const QDateTime& now) {
    QByteArray to;
    for (const QString& recipient : s.recipients) {
        to += (to.isEmpty() ? "" : ", ") + HeaderValue(recipient);
    }
    const QByteArray id = QByteArray::number(now.toMSecsSinceEpoch()) + '.' +
                          QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    QByteArray message = "Date: " + now.toString(Qt::RFC2822Date).toLatin1() +
                         "\r\nFrom: " + HeaderValue(s.sender) + "\r\nTo: " + to +
                         "\r\nSubject: " + EncodedHeader(MailSubject(batch, station)) +
                         "\r\nMessage-ID: <" + id + "@merival>" +
                         "\r\nMIME-Version: 1.0"
                         "\r\nContent-Type: text/plain; charset=UTF-8"
                         "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray body =
        MailBody(batch, station).replace(u'\n', QStringLiteral("\r\n")).toUtf8();
    const QByteArray encoded = body.toBase64();
    for (qsizetype at = 0; at < encoded.size(); at += 76) {
        message += encoded.mid(at, 76) + "\r\n";
    }
    return message;
}

QByteArray WebhookText(const QList<Notification>& batch, const QString& station) {
    const QJsonObject json{
        {QStringLiteral("text"),
         MailSubject(batch, station) + QStringLiteral("\n") + MailBody(batch, station)}};
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

}  // namespace merival
