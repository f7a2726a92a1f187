// [Web] of merival.ini as a hand may leave it: the settings read, written and read again are
// the same, and the port read is one a server can listen on.
#include <cstddef>
#include <cstdint>

#include <QFile>
#include "base/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzFiles.h"
#include "web/WebSettings.h"

using namespace merival;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString in = WriteFuzzInput(data, size);
    const WebSettings first = LoadWebSettings(*OpenIni(in));
    FUZZ_CHECK(first.port > 0 && first.port < 65536, "[Web] port out of range");
    FUZZ_CHECK(!first.address.isEmpty() && first.address == first.address.trimmed(),
               "[Web] address empty or padded");
    FUZZ_CHECK(!first.usersFile.isEmpty(), "[Web] users file empty");

    const QString out = FreshIniPath("out");
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
