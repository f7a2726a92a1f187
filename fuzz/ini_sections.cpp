// merival.ini as a hand or another tool may leave it: whatever the sections hold, the settings
// read from it, written and read again are the same.
#include <cstddef>
#include <cstdint>

#include <QDir>
#include <QFile>
#include "alarms/AlarmSettings.h"
#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzFiles.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString in = WriteFuzzInput(data, size);
    const Sections first = Load(in);

    const QString out = FreshIniPath("out");
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
