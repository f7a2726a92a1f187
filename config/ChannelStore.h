#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>

#include "base/Status.h"
#include "config/AppInfo.h"

namespace merival {

struct ChannelRecord {
    qint16 Selected = 0;    // only 1 means selected
    qint16 TypeIndex = -1;  // -1..15
    QString Address;
    QString Tag;
    bool BaseBlock = false;
    bool ExtBlock = false;

    bool operator==(const ChannelRecord&) const = default;
};

using ChannelRecords = std::array<ChannelRecord, kChannelCount>;

// The bytes of "config.txt" (Windows-1252, CR LF) for the given records.
[[nodiscard]] QByteArray WriteChannelConfigText(const ChannelRecords& records);

struct ChannelConfigRead {
    ChannelRecords records;  // start state overwritten by every item that could be read
    QString problem;         // empty when the whole file was read; else French description
};
// Reads "config.txt" bytes over a start state (loaded item by item, as the file allows).
[[nodiscard]] ChannelConfigRead ReadChannelConfigText(const QByteArray& bytes,
                                                      const ChannelRecords& start);

// The four channel records: the one owner of the channel settings. The configuration dialog
// mirrors it; the measurement cycle reads it afresh on every tick.
class ChannelStore : public QObject {
    Q_OBJECT
public:
    explicit ChannelStore(QObject* parent = nullptr);

    [[nodiscard]] bool IsSelected(int k) const;
    [[nodiscard]] QString ChannelAddress(int k) const;
    [[nodiscard]] int ChannelType(int k) const;
    [[nodiscard]] bool IsBaseBlock(int k) const;
    [[nodiscard]] QString ChannelTitle(int k) const;
    [[nodiscard]] const ChannelRecord& Record(int k) const;
    [[nodiscard]] const ChannelRecords& Records() const { return records_; }

    // Setters emit recordChanged(k) when a value changes; setSelected also emits
    // selectionChanged(k), and only when the value differs. Both are emitted after the
    // whole record is in place, recordChanged first. Channels outside 0..3 are ignored
    // (queries answer as for a channel never configured).
    void setSelected(int k, qint16 value);
    void setTypeIndex(int k, qint16 value);
    void setAddress(int k, const QString& value);
    void setTag(int k, const QString& value);
    void setBaseBlock(int k, bool value);  // true clears ExtBlock
    void setExtBlock(int k, bool value);   // true clears BaseBlock
    // Every record at once (a copy of another store), with the same signals.
    void setRecords(const ChannelRecords& records);

    // "config.txt" in the current directory unless a path is given. Load applies the file
    // through the setters; what the file does not give returns to the start-up state, and
    // the status describes the problem. Save goes through QSaveFile: on failure the old file
    // stays whole and the status names the file and the reason.
    [[nodiscard]] Status LoadChannelConfig(const QString& path = {});
    [[nodiscard]] Status SaveChannelConfig(const QString& path = {}) const;
    // Emits titlesChanged when a title differs from before.
    void BuildChannelTitles();

Q_SIGNALS:
    void selectionChanged(int k);
    void recordChanged(int k);
    void titlesChanged();

private:
    // Applies a change to a copy of record k (a valid k only), then assigns it.
    template <typename Change>
    void edit(int k, Change change);
    void assign(int k, const ChannelRecord& record);

    ChannelRecords records_;
    std::array<QString, kChannelCount> titles_;
};

}  // namespace merival
