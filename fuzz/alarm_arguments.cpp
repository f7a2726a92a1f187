// The command line of the alarm program, as typed in merival.ini by hand or saved by the
// dialog: words written without quotes or escapes split as the line reads, and what is saved
// comes back the same, split the same.
#include <cstddef>
#include <cstdint>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "alarms/AlarmSettings.h"
#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"

using namespace merival;

namespace {

QString FreshPath(const QTemporaryDir& dir) {
    static unsigned long long n = 0;  // QSettings caches files by name
    return dir.filePath(QStringLiteral("%1.ini").arg(++n));
}

QString LoadArguments(const QString& path) {
    const auto ini = OpenIni(path);
    return LoadAlarmSettings(*ini).arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QTemporaryDir dir;
    QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    line.replace('\n', ' ').replace('\r', ' ');
    const QString typed = QString::fromUtf8(line).trimmed();

    const QString in = FreshPath(dir);
    {
        QFile file(in);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly), "cannot write the input file");
        file.write("[Alarmes]\nCommande=/bin/true\nArguments=" + line + "\n");
    }
    const QString read = LoadArguments(in);
    if (!typed.contains(u'"') && !typed.contains(u'\\') && !typed.startsWith(u'@')) {
        FUZZ_CHECK(QProcess::splitCommand(read) == QProcess::splitCommand(typed),
                   "a hand-written command line does not split as it reads");
    }

    const QString out = FreshPath(dir);
    {
        const auto ini = OpenIni(out);
        AlarmSettings s;
        s.arguments = read;
        SaveAlarmSettings(*ini, s);
        ini->sync();
    }
    const QString reread = LoadArguments(out);
    FUZZ_CHECK(reread == read, "saved arguments come back changed");
    FUZZ_CHECK(QProcess::splitCommand(reread) == QProcess::splitCommand(read),
               "saved arguments split differently");
    QFile::remove(in);
    QFile::remove(out);
    return 0;
}
