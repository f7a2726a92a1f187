#include "publish/Messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace merival {
namespace {

constexpr qsizetype kMaxLevelLength = 100;

bool Unsafe(char32_t c) {
    if (c == U'/' || c == U'+' || c == U'#' || c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        return true;
    }
    switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
            return true;
        default:
            return QChar::isNonCharacter(c);
    }
}

QJsonValue Number(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

QString NodeId(const QString& prefix) {
    return AsciiId(QStringLiteral("merival_") + QString(prefix).replace(u'/', u'_'));
}

QJsonObject Sensor(const QString& prefix, const ChannelReading& r, const QString& what,
                   const QString& unit, const QString& valueTemplate) {
    const QString node = NodeId(prefix);
    const QString name = QStringLiteral("Voie %1 %2 %3").arg(r.channel).arg(r.tag, what);
    return {{QStringLiteral("name"), name.simplified()},
            {QStringLiteral("unique_id"),
             node + u'_' + AsciiId(QStringLiteral("voie%1_%2").arg(r.channel).arg(what))},
            {QStringLiteral("state_topic"), QString::fromUtf8(ChannelTopic(prefix, r.channel))},
            {QStringLiteral("value_template"), valueTemplate},
            {QStringLiteral("unit_of_measurement"), unit},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("availability_topic"), QString::fromUtf8(StateTopic(prefix))},
            {QStringLiteral("payload_available"), kOnline},
            {QStringLiteral("payload_not_available"), kOffline},
            {QStringLiteral("device"),
             QJsonObject{{QStringLiteral("identifiers"), QJsonArray{node}},
                         {QStringLiteral("name"), QStringLiteral("MERIVAL ") + prefix},
                         {QStringLiteral("model"), QStringLiteral("MERIVAL")}}}};
}

MqttMessage DiscoveryMessage(const QString& prefix, int channel, const QString& what,
                             QJsonObject sensor) {
    const QString object = AsciiId(QStringLiteral("voie%1_%2").arg(channel).arg(what));
    return {
        QStringLiteral("homeassistant/sensor/%1/%2/config").arg(NodeId(prefix), object).toUtf8(),
        QJsonDocument(sensor).toJson(QJsonDocument::Compact)};
}

}  // namespace

QString SafeTopicLevel(const QString& text) {
    QString level;
    for (char32_t c : text.toUcs4()) {
        if (Unsafe(c)) {
            level += u'_';
        } else {
            level += QString::fromUcs4(&c, 1);
        }
    }
    level = level.trimmed().left(kMaxLevelLength);
    if (level.startsWith(u'$')) {
        level[0] = u'_';
    }
    return level.isEmpty() ? QStringLiteral("_") : level;
}

QString SafePrefix(const QString& prefix, const QString& hostName) {
    QStringList levels;
    for (const QString& part : prefix.split(u'/')) {
        if (!part.trimmed().isEmpty()) {
            levels.append(SafeTopicLevel(part));
        }
    }
    if (levels.isEmpty()) {
        levels = {QStringLiteral("merival"), SafeTopicLevel(hostName)};
    }
    return levels.join(u'/');
}

QByteArray ChannelTopic(const QString& prefix, int channel) {
    return (prefix + QStringLiteral("/voie/%1").arg(channel)).toUtf8();
}

QByteArray StateTopic(const QString& prefix) {
    return (prefix + QStringLiteral("/etat")).toUtf8();
}

QByteArray ReadingJson(const ChannelReading& r) {
    QJsonArray values;
    for (const ReadingNumber& number : r.numbers) {
        values.append(QJsonObject{
            {QStringLiteral("nom"), number.name},
            {QStringLiteral("valeur"), number.value ? Number(*number.value) : QJsonValue()},
            {QStringLiteral("unite"), number.unit}});
    }
    const QJsonObject json{
        {QStringLiteral("horodatage"), r.time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("voie"), r.channel},
        {QStringLiteral("repere"), r.tag},
        {QStringLiteral("type"), r.typeName},
        {QStringLiteral("etat"), r.ok ? QStringLiteral("OK") : QStringLiteral("HS")},
        {QStringLiteral("texte"), SingleLineText(r.text)},
        {QStringLiteral("valeurs"), values},
        {QStringLiteral("temperature"), r.temperature ? Number(*r.temperature) : QJsonValue()}};
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QString AsciiId(const QString& text) {
    QString id;
    for (const QChar c : text.normalized(QString::NormalizationForm_KD)) {
        if (c.category() == QChar::Mark_NonSpacing) {
            continue;
        }
        const bool plain =
            c.isDigit() || c == u'_' || c == u'-' || (c.toLower() >= u'a' && c.toLower() <= u'z');
        id += plain && c.unicode() < 128 ? c.toLower() : QChar(u'_');
    }
    return id.isEmpty() ? QStringLiteral("_") : id;
}

QList<MqttMessage> DiscoveryMessages(const QString& prefix, const ChannelReading& r) {
    QList<MqttMessage> messages;
    for (const ReadingNumber& number : r.numbers) {
        // The value found by name, so that a number missing from one reading reads "None"
        // (unknown) instead of shifting to its neighbour.
        const QString pick =
            QStringLiteral(
                "{% set v = value_json.valeurs | selectattr('nom', 'eq', '%1') | list %}"
                "{{ v[0].valeur if v else 'None' }}")
                .arg(number.name);
        messages.append(DiscoveryMessage(prefix, r.channel, number.name,
                                         Sensor(prefix, r, number.name, number.unit, pick)));
    }
    if (r.temperature) {
        QJsonObject sensor =
            Sensor(prefix, r, QStringLiteral("Température"), QStringLiteral("°C"),
                   QStringLiteral("{{ value_json.temperature if value_json.temperature is not "
                                  "none else 'None' }}"));
        sensor.insert(QStringLiteral("device_class"), QStringLiteral("temperature"));
        messages.append(DiscoveryMessage(prefix, r.channel, QStringLiteral("Température"), sensor));
    }
    return messages;
}

}  // namespace merival
