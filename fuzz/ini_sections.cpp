// merival.ini as a hand or another tool may leave it: whatever the sections hold, the settings
// read from it, written and read again are the same.
#include <cstddef>
#include <cstdint>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "alarms/AlarmSettings.h"
#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "history/HistoryRecorder.h"
#include "publish/PublishSettings.h"

using namespace merival;

namespace {

struct Sections {
    HistorySettings history;
    AlarmSettings alarms;
    PublishSettings publish;
};

Sections Load(const QString& path) {
    const auto ini = OpenIni(path);
    (void)IniStatus(*ini);
    Status warning;
    return {LoadHistorySettings(*ini), LoadAlarmSettings(*ini, &warning),
            LoadPublishSettings(*ini)};
}

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
    const Sections first = Load(in);

    const QString out = FreshPath(dir, "out");
    {
        const auto ini = OpenIni(out);
        SaveHistorySettings(*ini, first.history);
        SaveAlarmSettings(*ini, first.alarms);
        SavePublishSettings(*ini, first.publish);
        ini->sync();
        FUZZ_CHECK(IniStatus(*ini).ok(), "settings could not be written");
    }
    const Sections second = Load(out);
    FUZZ_CHECK(second.history.recording == first.history.recording &&
                   second.history.retentionDays == first.history.retentionDays,
               "[Historique] read, written and read again differs");
    FUZZ_CHECK(second.alarms == first.alarms, "[Alarmes] read, written and read again differs");
    FUZZ_CHECK(second.publish == first.publish,
               "[Publication] read, written and read again differs");
    QFile::remove(in);
    QFile::remove(out);
    return 0;
}
