#include "config/ChannelStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cmath>
#include <optional>

#include "base/SaveFile.h"
#include "base/Windows1252.h"

namespace merival {
namespace {

const QString kConfigFileName = QStringLiteral("config.txt");
constexpr int kItemCount = kChannelCount * 4 + kChannelCount * 2;

QString Quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString BooleanItem(bool value) {
    return value ? QStringLiteral("#TRUE#") : QStringLiteral("#FALSE#");
}

// Items one after another, whatever the line layout. An item ends at a comma or a line
// end; blanks and empty lines before an item are skipped. A quoted item is the text up to
// the next quote, the rest up to the delimiter being dropped; an unquoted one loses its
// trailing blanks.
class ItemReader {
public:
    explicit ItemReader(QString text) : s_(std::move(text)) {}

    std::optional<QString> next() {
        const qsizetype n = s_.size();
        while (pos_ < n && IsSkippable(s_.at(pos_))) {
            ++pos_;
        }
        if (pos_ >= n) {
            return std::nullopt;
        }
        QString item;
        if (s_.at(pos_) == u'"') {
            const qsizetype close = s_.indexOf(u'"', pos_ + 1);
            const qsizetype end = close < 0 ? n : close;
            item = s_.mid(pos_ + 1, end - pos_ - 1);
            pos_ = close < 0 ? n : close + 1;
            while (pos_ < n && !IsDelimiter(s_.at(pos_))) {
                ++pos_;
            }
        } else {
            const qsizetype start = pos_;
            while (pos_ < n && !IsDelimiter(s_.at(pos_))) {
                ++pos_;
            }
            qsizetype end = pos_;
            while (end > start && (s_.at(end - 1) == u' ' || s_.at(end - 1) == u'\t')) {
                --end;
            }
            item = s_.mid(start, end - start);
        }
        skipDelimiter();
        return item;
    }

private:
    static bool IsDelimiter(QChar c) { return c == u',' || c == u'\r' || c == u'\n'; }
    static bool IsSkippable(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

    void skipDelimiter() {
        if (pos_ >= s_.size()) {
            return;
        }
        const QChar c = s_.at(pos_++);
        if (c == u'\r' && pos_ < s_.size() && s_.at(pos_) == u'\n') {
            ++pos_;
        }
    }

    QString s_;
    qsizetype pos_ = 0;
};

std::optional<bool> ToBoolean(const QString& item) {
    if (item.compare(QLatin1String("#TRUE#"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (item.compare(QLatin1String("#FALSE#"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    return std::nullopt;
}

// Item texts go into messages; a long run of garbage should not fill the screen.
QString Shown(const QString& item) {
    constexpr int kMax = 20;
    return item.size() > kMax ? item.left(kMax) + QStringLiteral("…") : item;
}

void SetBlock(ChannelRecord& r, bool ext, bool value) {
    (ext ? r.ExtBlock : r.BaseBlock) = value;
    if (value) {
        (ext ? r.BaseBlock : r.ExtBlock) = false;
    }
}

const ChannelRecord& EmptyRecord() {
    static const ChannelRecord empty;
    return empty;
}

bool ValidChannel(int k) {
    return k >= 0 && k < kChannelCount;
}

}  // namespace

QByteArray WriteChannelConfigText(const ChannelRecords& records) {
    QString text;
    const QLatin1String eol("\r\n");
    for (const ChannelRecord& r : records) {
        text += QString::number(r.Selected) + u',' + QString::number(r.TypeIndex) + eol;
        text += Quoted(r.Address) + u',' + Quoted(r.Tag) + eol;
    }
    QStringList base;
    QStringList ext;
    for (const ChannelRecord& r : records) {
        base << BooleanItem(r.BaseBlock);
        ext << BooleanItem(r.ExtBlock);
    }
    text += base.join(u',') + eol + ext.join(u',') + eol;
    return ToWindows1252(text);
}

ChannelConfigRead ReadChannelConfigText(const QByteArray& bytes, const ChannelRecords& start) {
    ChannelConfigRead out{start, {}};
    QStringList problems;
    ItemReader reader(FromWindows1252(bytes));
    int itemsRead = 0;
    auto nextItem = [&]() {
        std::optional<QString> item = reader.next();
        if (item) {
            ++itemsRead;
        }
        return item;
    };
    auto problem = [&](const QString& text) {
        problems << QStringLiteral("Fichier %1 : %2").arg(kConfigFileName, text);
    };

    for (int k = 0; k < kChannelCount; ++k) {
        ChannelRecord& r = out.records[k];
        if (auto item = nextItem()) {
            if (auto v = NumericToInt16(*item)) {
                r.Selected = *v;
            } else {
                problem(QStringLiteral("la sélection de la voie %1 (« %2 ») n'est pas un nombre ; "
                                       "voie non sélectionnée.")
                            .arg(k)
                            .arg(Shown(*item)));
            }
        }
        if (auto item = nextItem()) {
            if (auto v = NumericToInt16(*item); !v) {
                problem(QStringLiteral("le type de mesure de la voie %1 (« %2 ») n'est pas un "
                                       "nombre ; aucun type retenu.")
                            .arg(k)
                            .arg(Shown(*item)));
            } else if (*v < -1 || *v >= kInstrumentTypeCount) {
                r.TypeIndex = -1;
                problem(QStringLiteral("le type de mesure %1 de la voie %2 est hors de -1 à 15 ; "
                                       "aucun type retenu.")
                            .arg(*v)
                            .arg(k));
            } else {
                r.TypeIndex = *v;
            }
        }
        if (auto item = nextItem()) {
            r.Address = *item;
        }
        if (auto item = nextItem()) {
            r.Tag = *item;
        }
    }

    // Base values first, then Ext values, each keeping the pair exclusive: a channel with
    // both true ends on Ext.
    for (int b = 0; b < 2 * kChannelCount; ++b) {
        const bool ext = b >= kChannelCount;
        const int k = b % kChannelCount;
        if (auto item = nextItem()) {
            if (auto v = ToBoolean(*item)) {
                SetBlock(out.records[k], ext, *v);
            } else {
                problem(QStringLiteral("le choix %1 de la voie %2 (« %3 ») n'est ni #TRUE# ni "
                                       "#FALSE# ; ignoré.")
                            .arg(ext ? QStringLiteral("Ext.") : QStringLiteral("Base"))
                            .arg(k)
                            .arg(Shown(*item)));
            }
        }
    }

    if (itemsRead < kItemCount) {
        problems << QStringLiteral(
                        "Fichier %1 incomplet : %2 valeurs lues sur %3 ; les autres "
                        "gardent leur état de démarrage (voie non sélectionnée).")
                        .arg(kConfigFileName)
                        .arg(itemsRead)
                        .arg(kItemCount);
    }
    out.problem = problems.join(u'\n');
    return out;
}

ChannelStore::ChannelStore(QObject* parent) : QObject(parent) {}

bool ChannelStore::IsSelected(int k) const {
    return Record(k).Selected == 1;
}

QString ChannelStore::ChannelAddress(int k) const {
    return Record(k).Address;
}

int ChannelStore::ChannelType(int k) const {
    return Record(k).TypeIndex;
}

bool ChannelStore::IsBaseBlock(int k) const {
    return Record(k).BaseBlock;
}

QString ChannelStore::ChannelTitle(int k) const {
    return ValidChannel(k) ? titles_[k] : QString();
}

const ChannelRecord& ChannelStore::Record(int k) const {
    return ValidChannel(k) ? records_[k] : EmptyRecord();
}

template <typename Change>
void ChannelStore::edit(int k, Change change) {
    if (ValidChannel(k)) {
        ChannelRecord r = records_[k];
        change(r);
        assign(k, r);
    }
}

void ChannelStore::setSelected(int k, qint16 value) {
    edit(k, [value](ChannelRecord& r) { r.Selected = value; });
}

void ChannelStore::setTypeIndex(int k, qint16 value) {
    edit(k, [value](ChannelRecord& r) { r.TypeIndex = value; });
}

void ChannelStore::setAddress(int k, const QString& value) {
    edit(k, [&value](ChannelRecord& r) { r.Address = value; });
}

void ChannelStore::setTag(int k, const QString& value) {
    edit(k, [&value](ChannelRecord& r) { r.Tag = value; });
}

void ChannelStore::setBaseBlock(int k, bool value) {
    edit(k, [value](ChannelRecord& r) { SetBlock(r, false, value); });
}

void ChannelStore::setExtBlock(int k, bool value) {
    edit(k, [value](ChannelRecord& r) { SetBlock(r, true, value); });
}

void ChannelStore::setRecords(const ChannelRecords& records) {
    for (int k = 0; k < kChannelCount; ++k) {
        assign(k, records[static_cast<size_t>(k)]);
    }
}

void ChannelStore::assign(int k, const ChannelRecord& record) {
    if (records_[k] == record) {
        return;
    }
    const bool selectionChanges = records_[k].Selected != record.Selected;
    records_[k] = record;
    // Listeners see the whole record in place before either signal.
    Q_EMIT recordChanged(k);
    if (selectionChanges) {
        Q_EMIT selectionChanged(k);
    }
}

Status ChannelStore::LoadChannelConfig(const QString& path) {
    const QString file = path.isEmpty() ? QDir::current().filePath(kConfigFileName) : path;
    const QFileInfo info(file);
    const QString name = info.fileName();
    QByteArray bytes;
    QString failure;
    QFile f(file);
    if (!info.exists()) {
        failure =
            QStringLiteral("Fichier %1 introuvable : aucune voie n'est configurée.").arg(name);
    } else if (info.isDir()) {
        failure =
            QStringLiteral("Impossible de lire le fichier %1 : c'est un répertoire.").arg(name);
    } else if (!f.open(QIODevice::ReadOnly)) {
        failure =
            QStringLiteral("Impossible de lire le fichier %1 : %2.").arg(name, f.errorString());
    } else {
        bytes = f.readAll();
        if (f.error() != QFileDevice::NoError) {
            failure =
                QStringLiteral("Erreur de lecture du fichier %1 : %2.").arg(name, f.errorString());
        }
    }

    // Whatever the file does not give stays at the start-up state, not at the edits.
    const ChannelConfigRead read = ReadChannelConfigText(bytes, ChannelRecords{});
    for (int k = 0; k < kChannelCount; ++k) {
        assign(k, read.records[k]);
    }
    if (!failure.isEmpty()) {
        return Status::Error(failure);
    }
    return read.problem.isEmpty() ? Status::Ok() : Status::Error(read.problem);
}

Status ChannelStore::SaveChannelConfig(const QString& path) const {
    const QString file = path.isEmpty() ? QDir::current().filePath(kConfigFileName) : path;
    const QByteArray bytes = WriteChannelConfigText(records_);
    return SaveWholeFile(file, bytes);
}

void ChannelStore::BuildChannelTitles() {
    const std::array<QString, kChannelCount> before = titles_;
    for (int k = 0; k < kChannelCount; ++k) {
        titles_[k] = records_[k].Tag;
        if (records_[k].TypeIndex == kFlowMeterType) {
            titles_[k] += QStringLiteral("\r\nVolume Journalier\r\nVolume Cumulé");
        }
    }
    if (titles_ != before) {
        Q_EMIT titlesChanged();
    }
}

}  // namespace merival
