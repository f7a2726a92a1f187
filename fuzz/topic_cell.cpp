// Tags and host names turned into MQTT topics: never an extra level, never a wildcard,
// always valid UTF-8. Tags turned into cells of the history's CSV: never a formula, always
// valid UTF-8, and the spreadsheet shows the tag's text.
#include <cstddef>
#include <cstdint>

#include <QStringDecoder>
#include <cstring>
#include <optional>

#include "fuzz/FuzzCheck.h"
#include "history/CsvField.h"
#include "publish/Messages.h"

using namespace merival;

namespace {

void CheckLevel(const QString& level) {
    FUZZ_CHECK(!level.isEmpty(), "empty topic level");
    FUZZ_CHECK(!level.contains(u'/') && !level.contains(u'+') && !level.contains(u'#'),
               "a topic level holds a separator or a wildcard");
    FUZZ_CHECK(!level.startsWith(u'$'), "a topic level starts with $");
    for (const QChar c : level) {
        FUZZ_CHECK(c.category() != QChar::Other_Control, "control character in a topic");
    }
}

void CheckUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    FUZZ_CHECK(!decoder.hasError(), "topic or cell is not valid UTF-8");
    FUZZ_CHECK(text.toUtf8() == bytes, "topic or cell does not survive UTF-8");
}

// Text in double quotes with its quotes doubled: the text, or nothing when a quote stands alone.
std::optional<QByteArray> Unquoted(const QByteArray& quoted) {
    if (quoted.size() < 2 || !quoted.startsWith('"') || !quoted.endsWith('"')) {
        return std::nullopt;
    }
    QByteArray inner = quoted.mid(1, quoted.size() - 2);
    if (QByteArray(inner).replace("\"\"", "").contains('"')) {
        return std::nullopt;
    }
    return inner.replace("\"\"", "\"");
}

void CheckCell(const QByteArray& tag, bool oneLine) {
    std::string made;
    AppendCsvField(made, tag.constData(), tag.size(), oneLine);
    const QByteArray field = QByteArray::fromStdString(made);
    CheckUtf8(field);
    QByteArray cell = field;
    if (field.startsWith('"')) {
        const std::optional<QByteArray> inner = Unquoted(field);
        FUZZ_CHECK(inner.has_value(), "a quoted CSV field with a lone quote");
        cell = *inner;
    } else {
        FUZZ_CHECK(!field.contains(';') && !field.contains('"') && !field.contains('\r') &&
                       !field.contains('\n'),
                   "a separator, quote or line break in an unquoted field");
    }
    // What a spreadsheet evaluates: only a formula holding a text, never the tag's own.
    if (!cell.isEmpty() && std::memchr("=+-@\t\r", cell.at(0), 6) != nullptr) {
        FUZZ_CHECK(cell.startsWith('='), "a cell that starts a formula, unescaped");
        const std::optional<QByteArray> text = Unquoted(cell.mid(1));
        FUZZ_CHECK(text.has_value(), "a formula that is more than a text");
        cell = *text;
    }
    QByteArray expected = tag;
    if (oneLine) {
        expected.replace("\r\n", " / ");
    }
    FUZZ_CHECK(cell == expected, "the cell does not show the tag");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype cut = text.indexOf(u'\n');
    const QString prefix = cut < 0 ? text : text.left(cut);
    const QString host = cut < 0 ? QString() : text.mid(cut + 1);

    CheckLevel(SafeTopicLevel(text));
    const QString safe = SafePrefix(prefix, host);
    FUZZ_CHECK(!safe.isEmpty(), "empty prefix");
    const QStringList levels = safe.split(u'/');
    for (const QString& level : levels) {
        CheckLevel(level);
    }
    const QByteArray topic = ChannelTopic(safe, 2);
    CheckUtf8(topic);
    FUZZ_CHECK(topic.count('/') == levels.size() + 1, "channel topic has an extra level");
    FUZZ_CHECK(topic.endsWith("/voie/2"), "channel topic does not end with its channel");
    CheckUtf8(StateTopic(safe));

    const QByteArray tag = text.toUtf8();
    CheckCell(tag, false);
    CheckCell(tag, true);
    return 0;
}
