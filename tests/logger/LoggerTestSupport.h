#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <stdexcept>

namespace merival::test {

inline QByteArray ReadWholeFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    return f.readAll();
}

// Whole bytes of a file in tests/data/logger.
inline QByteArray ReadLoggerData(const QString& name) {
    return ReadWholeFile(QStringLiteral(MERIVAL_TEST_DATA "/logger/") + name);
}

// Bytes of a hand-written hex dump in tests/data/logger: hex pairs separated by blanks, '#'
// starts a comment.
inline QByteArray ReadHexDump(const QString& name) {
    QByteArray bytes;
    const QList<QByteArray> lines = ReadLoggerData(name).split('\n');
    for (QByteArray line : lines) {
        const auto hash = line.indexOf('#');
        if (hash >= 0) {
            line.truncate(hash);
        }
        for (const QByteArray& token : line.simplified().split(' ')) {
            if (token.isEmpty()) {
                continue;
            }
            bool ok = false;
            const int value = token.toInt(&ok, 16);
            if (!ok || token.size() != 2) {
                throw std::runtime_error("bad hex token in " + name.toStdString());
            }
            bytes.append(static_cast<char>(value));
        }
    }
    return bytes;
}

}  // namespace merival::test
