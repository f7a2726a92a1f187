#include "web/ApiParameters.h"

#include <algorithm>

#include "config/AppInfo.h"

namespace merival {
namespace {

std::optional<qint64> Instant(const QString& text, bool end, bool open) {
    if (open && text.isEmpty()) {
        return end ? kLatestApiMs : kEarliestApiMs;
    }
    bool ok = false;
    const qint64 ms = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(ms) : ParseHistoryDate(text, end);
}

bool ValidChannel(int n) {
    return n >= 0 && n < kChannelCount;
}

}  // namespace

std::optional<HistoryPeriod> ApiPeriod(const QUrlQuery& query, bool openEnds) {
    const std::optional<qint64> from =
        Instant(query.queryItemValue(QStringLiteral("de")), false, openEnds);
    const std::optional<qint64> to =
        Instant(query.queryItemValue(QStringLiteral("a")), true, openEnds);
    if (!from || !to || *from < kEarliestApiMs || *to > kLatestApiMs || *from >= *to) {
        return std::nullopt;
    }
    return HistoryPeriod{*from, *to};
}

QList<int> ApiChannels(const QString& text) {
    QList<int> channels;
    for (const QStringView c : QStringView(text).split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = c.toInt(&ok);
        if (ok && ValidChannel(n) && !channels.contains(n)) {
            channels.append(n);
        }
    }
    if (channels.isEmpty()) {
        for (int n = 0; n < kChannelCount; ++n) {
            channels.append(n);
        }
    }
    return channels;
}

int ApiChannel(const QString& text) {
    bool ok = false;
    const int channel = text.toInt(&ok);
    return ok && ValidChannel(channel) ? channel : -1;
}

int ApiColumns(const QString& text) {
    bool ok = false;
    const int columns = text.toInt(&ok);
    return ok ? std::clamp(columns, 10, 4000) : 1000;
}

}  // namespace merival
