// The query of a JSON API request (/api/historique, /api/journal): a period is taken only when it
// starts before it ends, within the bounds; the channels named are existing ones, each once.
#include <cstddef>
#include <cstdint>

#include <QSet>

#include "config/AppInfo.h"
#include "fuzz/FuzzCheck.h"
#include "web/ApiParameters.h"

using namespace merival;

namespace {

void CheckPeriod(const std::optional<HistoryPeriod>& period) {
    if (!period) {
        return;
    }
    FUZZ_CHECK(period->fromMs < period->toMs, "a period that ends before it starts");
    FUZZ_CHECK(period->fromMs >= kEarliestApiMs && period->toMs <= kLatestApiMs,
               "a period beyond the bounds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QUrlQuery query(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const std::optional<HistoryPeriod> closed = ApiPeriod(query, false);
    const std::optional<HistoryPeriod> open = ApiPeriod(query, true);
    CheckPeriod(closed);
    CheckPeriod(open);
    const QString from = query.queryItemValue(QStringLiteral("de"));
    const QString to = query.queryItemValue(QStringLiteral("a"));
    if (closed) {
        FUZZ_CHECK(!from.isEmpty() && !to.isEmpty(), "a period without both ends");
        FUZZ_CHECK(open && open->fromMs == closed->fromMs && open->toMs == closed->toMs,
                   "open ends change a period that names both");
    }
    // Plain milliseconds within the bounds, in order, are always taken as they are.
    bool fromOk = false;
    bool toOk = false;
    const qint64 fromMs = from.toLongLong(&fromOk);
    const qint64 toMs = to.toLongLong(&toOk);
    if (fromOk && toOk && fromMs >= kEarliestApiMs && fromMs < toMs && toMs <= kLatestApiMs) {
        FUZZ_CHECK(closed && closed->fromMs == fromMs && closed->toMs == toMs,
                   "a sound period refused or changed");
    }

    const QList<int> channels = ApiChannels(query.queryItemValue(QStringLiteral("voies")));
    FUZZ_CHECK(!channels.isEmpty(), "no channel");
    QSet<int> seen;
    for (const int n : channels) {
        FUZZ_CHECK(n >= 0 && n < kChannelCount, "a channel that does not exist");
        FUZZ_CHECK(!seen.contains(n), "a channel named twice");
        seen.insert(n);
    }
    const int channel = ApiChannel(query.queryItemValue(QStringLiteral("voie")));
    FUZZ_CHECK(channel >= -1 && channel < kChannelCount, "a channel that does not exist");
    const int columns = ApiColumns(query.queryItemValue(QStringLiteral("colonnes")));
    FUZZ_CHECK(columns >= 10 && columns <= 4000, "columns out of range");
    return 0;
}
