#pragma once

#include <QSettings>
#include <QString>
#include <memory>

#include "base/Status.h"

namespace merival {

// "merival.ini" of the working directory: the settings of the capabilities added beside the
// two fixed files, one section each. A missing file means the defaults.
[[nodiscard]] QString IniPath();

// The file in INI format (UTF-8); the path defaults to IniPath(). A command line written by
// hand in the file ([Alarmes] Arguments) keeps the double quotes that group its words, which
// QSettings alone would drop; the next save writes them escaped.
[[nodiscard]] std::unique_ptr<QSettings> OpenIni(const QString& path = {});

// False when QSettings could not parse the file: saving over it would lose what it could not
// read, so the Save...Settings functions leave it for a hand to mend.
[[nodiscard]] bool IniWritable(const QSettings& settings);

// A warning naming the file when it could not be read or parsed (the defaults stand), or
// could not be written after sync().
[[nodiscard]] Status IniStatus(const QSettings& settings);

}  // namespace merival
