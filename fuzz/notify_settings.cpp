// [Notifications] of merival.ini as a hand may leave it: the settings read, written and read
// again are the same, and what is read stays within what the sender can use.
#include <cstddef>
#include <cstdint>

#include <QFile>
#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzFiles.h"
#include "notify/NotifySettings.h"

using namespace merival;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString in = WriteFuzzInput(data, size);
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

    const QString out = FreshIniPath("out");
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
