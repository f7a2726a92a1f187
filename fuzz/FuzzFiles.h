#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"

// QSettings keeps recently read files in a cache keyed by name: a new name every time.
inline QString FreshIniPath(const char* what) {
    static const QTemporaryDir dir;
    static unsigned long long n = 0;
    return dir.filePath(QStringLiteral("%1-%2.ini").arg(QLatin1String(what)).arg(++n));
}

// The fuzzer's bytes as a file of their own, to be read as merival.ini.
inline QString WriteFuzzInput(const std::uint8_t* data, std::size_t size) {
    const QString in = FreshIniPath("in");
    QFile file(in);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly), "cannot write the input file");
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return in;
}
