// [Liaison] of merival.ini as a hand may leave it. Only the mode, host and port are saved (the
// timing keys stay as the file has them), so the round trip saves into a copy of the input:
// read again, everything saved and everything kept comes back the same. A file QSettings reads
// as damaged is not saved over: the save reports it and leaves the file as it was. (A line
// without "=" is only found by the write, which drops it as it drops comments.)
#include <cstddef>
#include <cstdint>

#include <QFile>
#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzFiles.h"
#include "serial/LinkSettings.h"

using namespace merival;

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly), "cannot write the input file");
    file.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), "cannot read the saved file");
    return file.readAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString in = WriteFuzzInput(data, size);
    const QString copy = FreshIniPath("copy");
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Write(copy, bytes);
    Status warning;
    const LinkSettings first = LoadLinkSettings(*OpenIni(in), &warning);
    const LinkTiming& t = first.timing;
    FUZZ_CHECK(first.port >= 0 && first.port <= 65535, "[Liaison] port out of range");
    FUZZ_CHECK(t.retries >= 0 && t.retries <= 3 && t.replyMs >= 50 && t.replyMs <= 60000 &&
                   t.pauseBetweenMs >= 0 && t.pauseAfterOpenMs >= 0,
               "[Liaison] timing out of range");
    FUZZ_CHECK(first.mode == LinkMode::Serial || !first.host.isEmpty() || !warning.ok(),
               "network line without host and without warning");
    {
        const auto ini = OpenIni(copy);
        const bool damaged = !IniWritable(*ini);
        SaveLinkSettings(*ini, first);
        ini->sync();
        if (damaged) {
            FUZZ_CHECK(!IniStatus(*ini).ok(), "a damaged file reported as saved");
            FUZZ_CHECK(Read(copy) == bytes, "a damaged file saved over");
            QFile::remove(in);
            QFile::remove(copy);
            return 0;
        }
    }
    const LinkSettings second = LoadLinkSettings(*OpenIni(copy));
    FUZZ_CHECK(second.mode == first.mode, "[Liaison] mode read, saved and read again differs");
    FUZZ_CHECK(second.timing == first.timing, "[Liaison] timing not kept by the save");
    if (first.mode != LinkMode::Serial) {
        FUZZ_CHECK(second.host == first.host && EffectivePort(second) == EffectivePort(first),
                   "[Liaison] host or port read, saved and read again differs");
    }
    QFile::remove(in);
    QFile::remove(copy);
    return 0;
}
