#include "diagnostics/Exchange.h"

#include <QDateTime>
#include <algorithm>

#include "instruments/Frame.h"

namespace merival {
namespace {

constexpr qsizetype kExceptionLength = 5;

int ByteAt(const QByteArray& bytes, qsizetype i) {
    return i < bytes.size() ? static_cast<quint8>(bytes.at(i)) : -1;
}

// The CRC closes the frame's first `length` bytes.
bool CrcHolds(const QByteArray& bytes, qsizetype length) {
    if (length < 3 || bytes.size() < length) {
        return false;
    }
    return FrameCrc(bytes.left(length - 2)) == bytes.mid(length - 2, 2);
}

bool IsExceptionFrame(const ExchangeRecord& r) {
    const int function = ByteAt(r.request, 1);
    return function >= 0 && ByteAt(r.reply, 1) == (function | 0x80) &&
           CrcHolds(r.reply, kExceptionLength);
}

QString Hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Frame, CRC and what follows, apart; `crcEnd` 0 when no CRC can be placed.
QString FrameHex(const QByteArray& bytes, qsizetype crcEnd, qsizetype fullLength) {
    QString text;
    if (crcEnd >= 3 && bytes.size() >= crcEnd) {
        text = Hex(bytes.left(crcEnd - 2)) + QStringLiteral(" | ") + Hex(bytes.mid(crcEnd - 2, 2));
        if (bytes.size() > crcEnd) {
            text += QStringLiteral(" + ") + Hex(bytes.mid(crcEnd));
        }
    } else {
        text = Hex(bytes);
    }
    if (fullLength > bytes.size()) {
        text += QStringLiteral(" … (+%1 octets)").arg(fullLength - bytes.size());
    }
    return text;
}

constexpr qsizetype kMbapHeader = 7;

QString MbapHex(const QByteArray& header, const QByteArray& pdu) {
    const QString head = QStringLiteral("[%1]").arg(Hex(header));
    return pdu.isEmpty() ? head : head + u' ' + Hex(pdu);
}

// The first bytes, in a buffer of their own: the log keeps thousands of events, and a shared
// read buffer is tens of kilobytes for a frame of 21 bytes.
QByteArray Kept(const QByteArray& bytes, qsizetype most) {
    return QByteArray(bytes.constData(), std::clamp<qsizetype>(most, 0, bytes.size()));
}

}  // namespace

Verdict Classify(const ExchangeRecord& r) {
    if (r.reply.isEmpty()) {
        if (r.portClosed) {
            switch (r.network.fault) {
                case LinkFault::Refused:
                    return {Outcome::ConnectionRefused};
                case LinkFault::Lost:
                    return {Outcome::ConnectionLost};
                case LinkFault::None:
                    break;
            }
            return {Outcome::PortClosed};
        }
        return {r.network.stray.isEmpty() ? Outcome::Silence : Outcome::WrongTransaction};
    }
    const bool addressRight = ByteAt(r.reply, 0) == ByteAt(r.request, 0);
    if (r.reply.size() < r.expectedLength && IsExceptionFrame(r)) {
        if (!addressRight) {
            return {Outcome::WrongAddress};
        }
        return {Outcome::Exception, ByteAt(r.reply, 2)};
    }
    if (r.reply.size() < r.expectedLength) {
        return {Outcome::Incomplete};
    }
    if (r.reply.size() > r.expectedLength) {
        return {Outcome::TooLong};
    }
    // The address is only worth reading once the CRC vouches for it.
    if (!CrcHolds(r.reply, r.expectedLength)) {
        return {Outcome::BadCrc};
    }
    if (!addressRight) {
        return {Outcome::WrongAddress};
    }
    return {r.echoDropped ? Outcome::EchoDropped : Outcome::Ok};
}

ExchangeEvent MakeEvent(const ExchangeRecord& r, int channel) {
    ExchangeEvent e;
    const Verdict verdict = Classify(r);
    e.channel = channel;
    e.time = r.time;
    e.port = r.port;
    e.address = ByteAt(r.request, 0);
    const int high = ByteAt(r.request, 2);
    const int low = ByteAt(r.request, 3);
    e.block = high < 0 || low < 0 ? -1 : high * 256 + low;
    e.request = r.request;
    e.reply = Kept(r.reply, kKeptReplyBytes);
    e.replyLength = r.reply.size();
    e.expectedLength = r.expectedLength;
    e.firstByteMs = r.firstByteMs;
    e.lastByteMs = r.lastByteMs;
    e.outcome = verdict.outcome;
    e.exceptionCode = verdict.exceptionCode;
    e.echoDropped = r.echoDropped;
    e.requestHeader = r.network.requestHeader;
    e.replyHeader = r.network.replyHeader;
    e.stray = Kept(r.network.stray, kKeptReplyBytes);
    return e;
}

bool IsFault(Outcome outcome) {
    return outcome != Outcome::Ok && outcome != Outcome::EchoDropped;
}

QString OutcomeText(const ExchangeEvent& e) {
    switch (e.outcome) {
        case Outcome::Ok:
            return QStringLiteral("OK");
        case Outcome::BadCrc:
            return QStringLiteral("CRC faux");
        case Outcome::Incomplete:
            return QStringLiteral("Réponse incomplète");
        case Outcome::TooLong:
            return QStringLiteral("Réponse trop longue");
        case Outcome::WrongAddress:
            return QStringLiteral("Mauvaise adresse");
        case Outcome::Exception:
            return QStringLiteral("Exception %1").arg(e.exceptionCode);
        case Outcome::Silence:
            return QStringLiteral("Silence");
        case Outcome::EchoDropped:
            return QStringLiteral("Écho retiré");
        case Outcome::PortClosed:
            return QStringLiteral("Port fermé");
        case Outcome::ConnectionRefused:
            return QStringLiteral("Connexion refusée");
        case Outcome::ConnectionLost:
            return QStringLiteral("Connexion perdue");
        case Outcome::WrongTransaction:
            return QStringLiteral("Mauvaise transaction");
    }
    return {};
}

QString ChannelText(int channel) {
    return channel < 0 ? QStringLiteral("—") : QStringLiteral("Voie %1").arg(channel);
}

QString BlockText(int block) {
    if (block == 0) {
        return QStringLiteral("Base");
    }
    if (block == 20) {
        return QStringLiteral("Ext.");
    }
    return block < 0 ? QStringLiteral("—") : QString::number(block);
}

QString TimeText(qint64 msSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString MsText(int ms) {
    return ms < 0 ? QStringLiteral("—") : QStringLiteral("%1 ms").arg(ms);
}

QString RequestHex(const ExchangeEvent& e) {
    if (!e.requestHeader.isEmpty()) {
        return MbapHex(e.requestHeader, e.request.mid(1, e.request.size() - 3));
    }
    return FrameHex(e.request, e.request.size(), e.request.size());
}

QString ReplyHex(const ExchangeEvent& e) {
    if (e.outcome == Outcome::WrongTransaction) {
        return MbapHex(e.stray.left(kMbapHeader), e.stray.mid(kMbapHeader));
    }
    if (!e.replyHeader.isEmpty() && e.replyLength >= 3) {
        // The CRC was made here, not received.
        return MbapHex(e.replyHeader, e.reply.mid(1, e.replyLength - 3));
    }
    qsizetype crcEnd = 0;
    if (e.outcome == Outcome::Exception ||
        (e.outcome == Outcome::WrongAddress && e.replyLength < e.expectedLength)) {
        crcEnd = kExceptionLength;
    } else if (e.replyLength >= e.expectedLength) {
        crcEnd = e.expectedLength;
    }
    return FrameHex(e.reply, crcEnd, e.replyLength);
}

QStringList ExchangeHeadings() {
    return {QStringLiteral("Heure"),    QStringLiteral("Voie"),
            QStringLiteral("Adresse"),  QStringLiteral("Bloc"),
            QStringLiteral("Résultat"), QStringLiteral("Temps de réponse"),
            QStringLiteral("Requête"),  QStringLiteral("Réponse")};
}

QStringList ExchangeCells(const ExchangeEvent& e) {
    return {TimeText(e.time),
            ChannelText(e.channel),
            e.address < 0 ? QStringLiteral("—") : QString::number(e.address),
            BlockText(e.block),
            OutcomeText(e),
            MsText(e.lastByteMs),
            RequestHex(e),
            ReplyHex(e)};
}

QString TraceLine(const ExchangeEvent& e) {
    QStringList cells = ExchangeCells(e);
    cells[0] =
        QDateTime::fromMSecsSinceEpoch(e.time).toString(QStringLiteral("dd/MM/yyyy ")) + cells[0];
    return cells.join(u'\t');
}

namespace {

// The outcome counters: +1 or -1.
void CountOutcome(ChannelStats& s, Outcome outcome, int sign) {
    s.silences += outcome == Outcome::Silence ? sign : 0;
    s.crcErrors += outcome == Outcome::BadCrc ? sign : 0;
    const bool other =
        IsFault(outcome) && outcome != Outcome::Silence && outcome != Outcome::BadCrc;
    s.otherFaults += other ? sign : 0;
}

}  // namespace

void Count(ChannelStats& s, const ExchangeEvent& e) {
    ++s.requests;
    s.answers += e.replyLength > 0 ? 1 : 0;
    CountOutcome(s, e.outcome, 1);
    if (!IsFault(e.outcome)) {
        s.previousSuccess = s.lastSuccess;
        s.lastSuccess = e.time;
    }
    if (e.lastByteMs >= 0) {
        s.lastMs = e.lastByteMs;
        s.minMs = s.minMs < 0 ? e.lastByteMs : std::min(s.minMs, e.lastByteMs);
        s.maxMs = std::max(s.maxMs, e.lastByteMs);
        s.sumMs += e.lastByteMs;
        ++s.timed;
    }
}

void Recount(ChannelStats& s, const ExchangeEvent& before, const ExchangeEvent& after) {
    CountOutcome(s, before.outcome, -1);
    CountOutcome(s, after.outcome, 1);
    if (!IsFault(before.outcome) && IsFault(after.outcome) && s.lastSuccess == before.time) {
        s.lastSuccess = s.previousSuccess;
    }
}

ExchangeEvent WithTrailing(ExchangeEvent e, const QByteArray& bytes) {
    e.reply.append(Kept(bytes, kKeptReplyBytes - e.reply.size()));
    e.replyLength += bytes.size();
    e.outcome = Outcome::TooLong;
    e.exceptionCode = 0;
    return e;
}

QStringList StatsHeadings() {
    return {QStringLiteral("Voie"),          QStringLiteral("Requêtes"),
            QStringLiteral("Réponses"),      QStringLiteral("Silences"),
            QStringLiteral("CRC faux"),      QStringLiteral("Autres défauts"),
            QStringLiteral("Dernier temps"), QStringLiteral("Temps min."),
            QStringLiteral("Temps moyen"),   QStringLiteral("Temps max."),
            QStringLiteral("Dernier succès")};
}

QStringList StatsCells(int channel, const ChannelStats& s) {
    const int mean = s.timed > 0 ? static_cast<int>((s.sumMs + s.timed / 2) / s.timed) : -1;
    return {ChannelText(channel),
            QString::number(s.requests),
            QString::number(s.answers),
            QString::number(s.silences),
            QString::number(s.crcErrors),
            QString::number(s.otherFaults),
            MsText(s.lastMs),
            MsText(s.minMs),
            MsText(mean),
            MsText(s.maxMs),
            s.lastSuccess == 0 ? QStringLiteral("—") : TimeText(s.lastSuccess)};
}

QString AlignedTable(const QList<QStringList>& rows) {
    QList<qsizetype> widths;
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) {
                widths.append(0);
            }
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    QString text;
    for (const QStringList& row : rows) {
        QStringList padded;
        for (qsizetype i = 0; i < row.size(); ++i) {
            padded << (i + 1 < row.size() ? row[i].leftJustified(widths[i]) : row[i]);
        }
        text += padded.join(QStringLiteral("  ")) + u'\n';
    }
    return text;
}

}  // namespace merival
