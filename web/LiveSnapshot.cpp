#include "web/LiveSnapshot.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "publish/Messages.h"

namespace merival {
namespace {

QJsonObject ReadingObject(const ChannelReading& r) {
    return QJsonDocument::fromJson(ReadingJson(r)).object();
}

// Label values escape backslash, quote and line feed.
QByteArray Label(const QString& value) {
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            continue;
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray Number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    return QByteArray::number(value, 'g', 15);
}

class Metrics {
public:
    void Family(const char* name, const char* type, const char* help) {
        out_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void Sample(const char* name, const QList<QPair<const char*, QString>>& labels, double value) {
        out_ += name;
        if (!labels.isEmpty()) {
            out_ += '{';
            for (qsizetype i = 0; i < labels.size(); ++i) {
                out_ += (i > 0 ? "," : "") + QByteArray(labels[i].first) + "=\"" +
                        Label(labels[i].second) + '"';
            }
            out_ += '}';
        }
        out_ += ' ' + Number(value) + '\n';
    }
    QByteArray take() { return std::move(out_); }

private:
    QByteArray out_;
};

QString Channel(int n) {
    return QString::number(n);
}

}  // namespace

void LiveState::Take(const ChannelReading& reading) {
    pass_.append(reading);
}

void LiveState::EndPass(const QDateTime& time,
                        const std::optional<std::array<ChannelStats, kChannelCount>>& stats,
                        long long dropped) {
    QMutexLocker lock(&mutex_);
    shown_.readings = std::exchange(pass_, {});
    shown_.lastPass = time;
    ++shown_.passes;
    shown_.statsOn = stats.has_value();
    if (stats) {
        shown_.stats = *stats;
    }
    shown_.droppedPasses = dropped;
}

void LiveState::SetAlarm(int channel, AlarmState state) {
    if (channel < 0 || channel >= kChannelCount) {
        return;
    }
    QMutexLocker lock(&mutex_);
    shown_.alarmsOn = true;
    shown_.alarms[static_cast<size_t>(channel)] = state;
}

LiveSnapshot LiveState::Snapshot() const {
    QMutexLocker lock(&mutex_);
    return shown_;
}

QString AlarmStateName(AlarmState state) {
    switch (state) {
        case AlarmState::Normal:
            break;
        case AlarmState::ActiveUnacknowledged:
            return QStringLiteral("active");
        case AlarmState::ActiveAcknowledged:
            return QStringLiteral("acquittee");
        case AlarmState::ReturnedUnacknowledged:
            return QStringLiteral("retour");
    }
    return QStringLiteral("normale");
}

QByteArray ReadingsJson(const LiveSnapshot& s) {
    QByteArray out = "[";
    for (const ChannelReading& r : s.readings) {
        out += (out.size() > 1 ? "," : "") + ReadingJson(r);
    }
    return out + ']';
}

QByteArray PassJson(const LiveSnapshot& s) {
    QJsonArray channels;
    for (const ChannelReading& r : s.readings) {
        QJsonObject o = ReadingObject(r);
        o.insert(QStringLiteral("lignes"),
                 QJsonArray::fromStringList(r.text.split(QStringLiteral("\r\n"))));
        o.insert(QStringLiteral("alarme"),
                 AlarmStateName(r.channel >= 0 && r.channel < kChannelCount
                                    ? s.alarms[static_cast<size_t>(r.channel)]
                                    : AlarmState::Normal));
        channels.append(o);
    }
    const QJsonObject pass{
        {QStringLiteral("passe"), s.passes},
        {QStringLiteral("horodatage"),
         s.lastPass.isValid() ? s.lastPass.toUTC().toString(Qt::ISODateWithMs) : QString()},
        {QStringLiteral("alarmes"), s.alarmsOn},
        {QStringLiteral("voies"), channels}};
    return QJsonDocument(pass).toJson(QJsonDocument::Compact);
}

QByteArray StatsJson(const LiveSnapshot& s) {
    QJsonArray rows;
    for (int n = 0; n < kChannelCount && s.statsOn; ++n) {
        const ChannelStats& c = s.stats[static_cast<size_t>(n)];
        if (c.requests == 0) {
            continue;
        }
        const QStringList cells = StatsCells(n, c);
        QJsonObject row{{QStringLiteral("voie"), n}};
        QJsonArray shown;
        for (const QString& cell : cells) {
            shown.append(cell);
        }
        row.insert(QStringLiteral("cellules"), shown);
        row.insert(QStringLiteral("requetes"), c.requests);
        row.insert(QStringLiteral("reponses"), c.answers);
        row.insert(QStringLiteral("silences"), c.silences);
        row.insert(QStringLiteral("crc_faux"), c.crcErrors);
        row.insert(QStringLiteral("autres_defauts"), c.otherFaults);
        rows.append(row);
    }
    const QJsonObject stats{
        {QStringLiteral("entetes"), QJsonArray::fromStringList(StatsHeadings())},
        {QStringLiteral("voies"), rows}};
    return QJsonDocument(stats).toJson(QJsonDocument::Compact);
}

QByteArray MetricsText(const LiveSnapshot& s) {
    Metrics m;
    auto tagOf = [&s](int channel) {
        for (const ChannelReading& r : s.readings) {
            if (r.channel == channel) {
                return r.tag;
            }
        }
        return QString();
    };
    m.Family("merival_valeur", "gauge", "Nombre décodé de la dernière lecture, dans son unité.");
    for (const ChannelReading& r : s.readings) {
        for (const ReadingNumber& n : r.numbers) {
            if (!n.value) {
                continue;  // the text shows no number there
            }
            m.Sample("merival_valeur",
                     {{"voie", Channel(r.channel)},
                      {"repere", r.tag},
                      {"grandeur", n.name},
                      {"unite", n.unit}},
                     *n.value);
        }
    }
    m.Family("merival_temperature_celsius", "gauge", "Température affichée avec la valeur.");
    for (const ChannelReading& r : s.readings) {
        if (r.temperature) {
            m.Sample("merival_temperature_celsius",
                     {{"voie", Channel(r.channel)}, {"repere", r.tag}}, *r.temperature);
        }
    }
    m.Family("merival_etat", "gauge",
             "1 si la station a répondu à la dernière passe (OK), 0 si HS.");
    for (const ChannelReading& r : s.readings) {
        m.Sample("merival_etat", {{"voie", Channel(r.channel)}, {"repere", r.tag}}, r.ok ? 1 : 0);
    }
    if (s.alarmsOn) {
        m.Family("merival_alarme", "gauge",
                 "Alarme de la voie : 0 normale, 1 active non acquittée, 2 active acquittée, 3 "
                 "retour à la normale non acquitté.");
        for (const ChannelReading& r : s.readings) {
            m.Sample("merival_alarme", {{"voie", Channel(r.channel)}, {"repere", r.tag}},
                     static_cast<int>(s.alarms[static_cast<size_t>(r.channel)]));
        }
    }
    if (s.statsOn) {
        struct Counter {
            const char* name;
            const char* help;
            qint64 ChannelStats::*field;
        };
        const Counter counters[] = {
            {"merival_requetes_total", "Requêtes envoyées.", &ChannelStats::requests},
            {"merival_reponses_total", "Réponses reçues.", &ChannelStats::answers},
            {"merival_silences_total", "Requêtes sans réponse.", &ChannelStats::silences},
            {"merival_crc_faux_total", "Réponses au CRC faux.", &ChannelStats::crcErrors},
            {"merival_autres_defauts_total", "Autres défauts d'échange.",
             &ChannelStats::otherFaults}};
        for (const Counter& c : counters) {
            m.Family(c.name, "counter", c.help);
            for (int n = 0; n < kChannelCount; ++n) {
                const ChannelStats& st = s.stats[static_cast<size_t>(n)];
                if (st.requests > 0) {
                    m.Sample(c.name, {{"voie", Channel(n)}, {"repere", tagOf(n)}},
                             static_cast<double>(st.*c.field));
                }
            }
        }
        m.Family("merival_temps_reponse_secondes", "gauge",
                 "Temps jusqu'au dernier octet de la réponse : dernier, min, moyen, max.");
        for (int n = 0; n < kChannelCount; ++n) {
            const ChannelStats& st = s.stats[static_cast<size_t>(n)];
            if (st.timed == 0) {
                continue;
            }
            const double mean = static_cast<double>(st.sumMs) / static_cast<double>(st.timed);
            const QList<QPair<QString, double>> values = {{QStringLiteral("dernier"), st.lastMs},
                                                          {QStringLiteral("min"), st.minMs},
                                                          {QStringLiteral("moyen"), mean},
                                                          {QStringLiteral("max"), st.maxMs}};
            for (const auto& [what, ms] : values) {
                if (ms < 0) {
                    continue;
                }
                m.Sample("merival_temps_reponse_secondes",
                         {{"voie", Channel(n)}, {"repere", tagOf(n)}, {"mesure", what}},
                         ms / 1000.0);
            }
        }
    }
    if (s.droppedPasses >= 0) {
        m.Family("merival_historique_passes_perdues_total", "counter",
                 "Passes que l'historique n'a pas pu écrire.");
        m.Sample("merival_historique_passes_perdues_total", {},
                 static_cast<double>(s.droppedPasses));
    }
    m.Family("merival_passes_total", "counter", "Passes de mesure terminées.");
    m.Sample("merival_passes_total", {}, static_cast<double>(s.passes));
    if (s.lastPass.isValid()) {
        m.Family("merival_derniere_passe_secondes", "gauge",
                 "Fin de la dernière passe, en secondes depuis 1970 (UTC).");
        m.Sample("merival_derniere_passe_secondes", {},
                 static_cast<double>(s.lastPass.toMSecsSinceEpoch()) / 1000.0);
    }
    return m.take();
}

QJsonArray JournalJson(const QList<AlarmEvent>& events) {
    QJsonArray out;
    for (const AlarmEvent& e : events) {
        out.append(
            QJsonObject{{QStringLiteral("horodatage"), e.time.toUTC().toString(Qt::ISODateWithMs)},
                        {QStringLiteral("voie"), e.channel < 0 ? QJsonValue() : e.channel},
                        {QStringLiteral("repere"), e.tag},
                        {QStringLiteral("texte"), e.text},
                        {QStringLiteral("evenement"), e.event}});
    }
    return out;
}

QByteArray TrendJson(const TrendData& data) {
    QJsonArray series;
    for (const TrendSeries& t : data.series) {
        QJsonArray segments;
        for (const QList<QPointF>& segment : t.segments) {
            QJsonArray points;
            for (const QPointF& p : segment) {
                points.append(QJsonArray{static_cast<qint64>(p.x()),
                                         std::isfinite(p.y()) ? QJsonValue(p.y()) : QJsonValue()});
            }
            segments.append(points);
        }
        series.append(QJsonObject{{QStringLiteral("voie"), t.channel},
                                  {QStringLiteral("repere"), t.tag},
                                  {QStringLiteral("nom"), t.name},
                                  {QStringLiteral("unite"), t.unit},
                                  {QStringLiteral("segments"), segments}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("series"), series}})
        .toJson(QJsonDocument::Compact);
}

}  // namespace merival
