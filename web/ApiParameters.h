#pragma once

#include <QList>
#include <QString>
#include <QUrlQuery>
#include <optional>

#include "history/HistoryQuery.h"

namespace merival {

// The instants a request may name: from 1970 to the end of year 9999 (UTC). Beyond them the
// period's span, times the chart's columns, would overflow.
inline constexpr qint64 kEarliestApiMs = 0;
inline constexpr qint64 kLatestApiMs = 253402300800000;

// "de" and "a": milliseconds since the epoch or "AAAA-MM-JJ[ HH:MM]" local time. Nothing unless
// both lie within the bounds and "de" comes first. With `openEnds`, a missing one is the bound.
[[nodiscard]] std::optional<HistoryPeriod> ApiPeriod(const QUrlQuery& query, bool openEnds);
// "voies": channel numbers separated by commas, each kept once; none valid means every channel.
[[nodiscard]] QList<int> ApiChannels(const QString& text);
// "voie": one channel, or -1 (every channel) when it names none.
[[nodiscard]] int ApiChannel(const QString& text);
// "colonnes": the chart's width in columns, 10 to 4000, 1000 when missing.
[[nodiscard]] int ApiColumns(const QString& text);

}  // namespace merival
