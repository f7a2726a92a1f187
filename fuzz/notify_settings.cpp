// [Notifications] of merival.ini as a hand may leave it: the settings read, written and read
// again are the same, and what is read stays within what the sender can use.
#include <cstddef>
#include <cstdint>

#include <QFile>
#include <QTemporaryDir>

#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "notify/NotifySettings.h"

using namespace merival;

namespace {

// QSettings keeps recently read files in a cache keyed by name: a new name every time.
QString FreshPath(const QTemporaryDir& dir, const char* what) {
    static unsigned long long n = 0;
    return dir.filePath(QStringLiteral("%1-%2.ini").arg(QLatin1String(what)).arg(++n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QTemporaryDir dir;
    const QString in = FreshPath(dir, "in");
    {
        QFile file(in);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly), "cannot write the input file");
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    Status warning;
    const NotifySettings first = LoadNotifySettings(*OpenIni(in), &warning);
    FUZZ_CHECK(first.port >= 1 && first.port <= 65535, "SMTP port out of range");
    FUZZ_CHECK(first.groupSeconds >= 0 && first.groupSeconds <= 3600 && first.perHour >= 1 &&
                   first.perHour <= 3600,
               "grouping or rate out of range");
    for (const QString& recipient : first.recipients) {
        FUZZ_CHECK(
            !recipient.isEmpty() && recipient == recipient.trimmed() && !recipient.contains(u','),
            "a recipient empty, padded or holding a comma");
    }
    (void)CheckNotifySettings(first);
    (void)ClearTextAcrossNetwork(first);

    const QString out = FreshPath(dir, "out");
    {
        const auto ini = OpenIni(out);
        SaveNotifySettings(*ini, first);
        ini->sync();
        FUZZ_CHECK(IniStatus(*ini).ok(), "settings could not be written");
    }
    Status again;
    const NotifySettings second = LoadNotifySettings(*OpenIni(out), &again);
    FUZZ_CHECK(second == first, "[Notifications] read, written and read again differs");
    FUZZ_CHECK(again.ok(), "settings written are not read back without a warning");
    QFile::remove(in);
    QFile::remove(out);
    return 0;
}
