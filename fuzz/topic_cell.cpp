// Tags and host names turned into MQTT topics: never an extra level, never a wildcard,
// always valid UTF-8.
#include <cstddef>
#include <cstdint>

#include <QStringDecoder>

#include "fuzz/FuzzCheck.h"
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
    FUZZ_CHECK(!decoder.hasError(), "topic is not valid UTF-8");
    FUZZ_CHECK(text.toUtf8() == bytes, "topic does not survive UTF-8");
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
    return 0;
}
