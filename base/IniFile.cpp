#include "base/IniFile.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <optional>

namespace merival {
namespace {

// Values that are command lines, by section and key.
constexpr std::pair<const char*, const char*> kCommandLineKeys[] = {{"Alarmes", "Arguments"}};

// The text after "=" on the last line of that key in that section, as the file holds it.
std::optional<QString> RawValue(const QString& path, QLatin1StringView section,
                                QLatin1StringView key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    std::optional<QString> value;
    bool inSection = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            inSection = QStringView(line).mid(1, line.size() - 2).trimmed() == section;
        } else if (const qsizetype eq = line.indexOf(u'='); inSection && eq > 0) {
            if (QStringView(line).left(eq).trimmed() == key) {
                value = line.mid(eq + 1).trimmed();
            }
        }
    }
    return value;
}

// How QSettings writes a plain text value, escapes included: a saved value must not be taken
// for a hand-written one.
QString QSettingsWritten(const QString& value) {
    const QString text = value.contains(QChar::Null) ? QStringLiteral("@String(%1)").arg(value)
                         : value.startsWith(u'@')    ? u'@' + value
                                                     : value;
    QString out;
    bool quoted = false;
    bool escapeHexDigit = false;  // after a \x escape, so that the next digit is not read into it
    for (const QChar c : text) {
        const char16_t ch = c.unicode();
        quoted = quoted || ch == u';' || ch == u',' || ch == u'=';
        if (escapeHexDigit && ch < 0x80 && std::isxdigit(ch) != 0) {
            out += QStringLiteral("\\x") + QString::number(ch, 16);
            continue;
        }
        escapeHexDigit = false;
        constexpr std::pair<char16_t, char> kEscapes[] = {
            {u'\a', 'a'}, {u'\b', 'b'}, {u'\f', 'f'}, {u'\n', 'n'}, {u'\r', 'r'},
            {u'\t', 't'}, {u'\v', 'v'}, {u'"', '"'},  {u'\\', '\\'}};
        const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                          [ch](const auto& e) { return e.first == ch; });
        if (ch == 0) {
            out += QStringLiteral("\\0");
            escapeHexDigit = true;
        } else if (escape != std::end(kEscapes)) {
            out += u'\\';
            out += QLatin1Char(escape->second);
        } else if (ch <= 0x1f) {
            out += QStringLiteral("\\x") + QString::number(ch, 16);
            escapeHexDigit = true;
        } else {
            out += c;
        }
    }
    quoted = quoted || out.startsWith(u' ') || out.endsWith(u' ');
    return quoted ? u'"' + out + u'"' : out;
}

// A line QSettings did not write itself was written by hand: its text is the command line.
void KeepHandWrittenCommandLines(QSettings& ini) {
    for (const auto& [section, key] : kCommandLineKeys) {
        const std::optional<QString> raw =
            RawValue(ini.fileName(), QLatin1StringView(section), QLatin1StringView(key));
        const QString name = QLatin1StringView(section) + u'/' + QLatin1StringView(key);
        const QVariant parsed = ini.value(name);
        if (raw && !(parsed.metaType().id() == QMetaType::QString &&
                     QSettingsWritten(parsed.toString()) == *raw)) {
            ini.setValue(name, *raw);
        }
    }
}

}  // namespace

QString IniPath() {
    return QDir::current().filePath(QStringLiteral("merival.ini"));
}

std::unique_ptr<QSettings> OpenIni(const QString& path) {
    auto ini = std::make_unique<QSettings>(path.isEmpty() ? IniPath() : path, QSettings::IniFormat);
    if (ini->status() == QSettings::NoError) {
        KeepHandWrittenCommandLines(*ini);
    }
    return ini;
}

bool IniWritable(const QSettings& settings) {
    return settings.status() != QSettings::FormatError;
}

Status IniStatus(const QSettings& settings) {
    switch (settings.status()) {
        case QSettings::NoError:
            return Status::Ok();
        case QSettings::FormatError:
            return Status::Error(
                QStringLiteral("Le fichier « %1 » est endommagé : les réglages par défaut "
                               "s'appliquent et rien n'y est enregistré avant qu'il soit "
                               "corrigé.")
                    .arg(QDir::toNativeSeparators(settings.fileName())));
        case QSettings::AccessError:
            break;
    }
    return Status::Error(QStringLiteral("Le fichier « %1 » n'a pas pu être lu ou écrit.")
                             .arg(QDir::toNativeSeparators(settings.fileName())));
}

}  // namespace merival
