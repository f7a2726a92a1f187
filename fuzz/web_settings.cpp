// [Web] of merival.ini as a hand may leave it: the settings read, written and read again are
// the same, and the port read is one a server can listen on.
#include <cstddef>
#include <cstdint>

#include <QFile>
#include <QTemporaryDir>

#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "web/WebSettings.h"

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
    const WebSettings first = LoadWebSettings(*OpenIni(in));
    FUZZ_CHECK(first.port > 0 && first.port < 65536, "[Web] port out of range");
    FUZZ_CHECK(!first.address.isEmpty() && first.address == first.address.trimmed(),
               "[Web] address empty or padded");
    FUZZ_CHECK(!first.usersFile.isEmpty(), "[Web] users file empty");

    const QString out = FreshPath(dir, "out");
    {
        const auto ini = OpenIni(out);
        SaveWebSettings(*ini, first);
        ini->sync();
        FUZZ_CHECK(IniStatus(*ini).ok(), "settings could not be written");
    }
    const WebSettings second = LoadWebSettings(*OpenIni(out));
    FUZZ_CHECK(second == first, "[Web] read, written and read again differs");
    FUZZ_CHECK(second.loginRequired() == first.loginRequired(), "login rule changed");
    QFile::remove(in);
    QFile::remove(out);
    return 0;
}
