#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "config/FileSizeLimit.h"

using namespace merival;
using merival::test::CurrentTempDir;

namespace {

QByteArray ReadGolden(const QString& name) {
    QFile f(QStringLiteral(MERIVAL_TEST_DATA "/config/") + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

ChannelRecord Rec(qint16 sel, qint16 type, const QString& addr, const QString& tag, bool base,
                  bool ext) {
    return ChannelRecord{sel, type, addr, tag, base, ext};
}

// The content of tests/data/config/config.txt.
ChannelRecords GoldenRecords() {
    return {
        Rec(1, 5, QStringLiteral("2"), QStringLiteral("Débit1"), true, false),
        Rec(1, 2, QStringLiteral("3"), QStringLiteral("Réservoir n°2"), false, true),
        Rec(0, -1, QString(), QString(), false, false),
        Rec(2, 12, QStringLiteral("14"), QStringLiteral("a, b"), true, false),
    };
}

std::string Describe(const ChannelRecord& r) {
    return QStringLiteral("{%1,%2,\"%3\",\"%4\",%5,%6}")
        .arg(r.Selected)
        .arg(r.TypeIndex)
        .arg(r.Address, r.Tag)
        .arg(r.BaseBlock)
        .arg(r.ExtBlock)
        .toStdString();
}

// Channels named by each emission of a signal, in order.
template <typename Signal>
class Emissions {
public:
    Emissions(ChannelStore& store, Signal signal) {
        QObject::connect(&store, signal, &context_, [this](int k) { channels_ << k; });
    }
    [[nodiscard]] const QList<int>& channels() const { return channels_; }
    void clear() { channels_.clear(); }

private:
    QObject context_;
    QList<int> channels_;
};

void ExpectRecords(const ChannelRecords& got, const ChannelRecords& want) {
    for (int k = 0; k < kChannelCount; ++k) {
        EXPECT_EQ(got[k], want[k])
            << "channel " << k << ": got " << Describe(got[k]) << ", want " << Describe(want[k]);
    }
}

}  // namespace

TEST(ChannelConfigText, WritesTheGoldenFileByteForByte) {
    EXPECT_EQ(WriteChannelConfigText(GoldenRecords()), ReadGolden(QStringLiteral("config.txt")));

    ChannelRecords fresh{};
    EXPECT_EQ(WriteChannelConfigText(fresh),
              QByteArray("0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n"
                         "0,-1\r\n\"\",\"\"\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n"
                         "#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n"));
}

TEST(ChannelConfigText, ReadsTheGoldenFile) {
    const ChannelConfigRead read =
        ReadChannelConfigText(ReadGolden(QStringLiteral("config.txt")), ChannelRecords{});
    EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
    ExpectRecords(read.records, GoldenRecords());
}

TEST(ChannelConfigText, EveryFieldSurvivesWriteThenRead) {
    const std::vector<ChannelRecord> rows = {
        Rec(1, 0, QStringLiteral("1"), QStringLiteral("Bassin"), true, false),
        Rec(0, 15, QStringLiteral(" 7 "), QStringLiteral("  espaces autour  "), false, true),
        Rec(2, 14, QStringLiteral("&HA"), QStringLiteral("a,b,,c"), false, false),
        Rec(-7, -1, QStringLiteral("2.5"), QStringLiteral("Eau déminéralisée µS/cm €"), true,
            false),
        Rec(32767, 13, QStringLiteral("x,y"), QStringLiteral("#TRUE#"), false, true),
        Rec(-32768, 7, QString(), QStringLiteral("ligne1\r\nligne2"), false, false),
    };
    // Each row in every channel position, so no channel's slot is left untested.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ChannelRecords records{};
        for (int k = 0; k < kChannelCount; ++k) {
            records[k] = rows[(i + k) % rows.size()];
        }
        SCOPED_TRACE(i);
        const ChannelConfigRead read =
            ReadChannelConfigText(WriteChannelConfigText(records), ChannelRecords{});
        EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
        ExpectRecords(read.records, records);
    }
}

TEST(ChannelConfigText, LayoutDoesNotMatter) {
    const QByteArray golden = ReadGolden(QStringLiteral("config.txt"));
    const QByteArray oneLine = QByteArray(golden).replace("\r\n", ",");
    struct Row {
        const char* name;
        QByteArray bytes;
    } rows[] = {
        {"one line", oneLine},
        {"one line, no final line end", oneLine.chopped(1)},
        {"one item per line", QByteArray(oneLine)
                                  .replace(",\"a, b\"", "\n\"a, b\"")
                                  .replace(',', "\r\n")
                                  .replace("\"a\r\n b\"", "\"a, b\"")},
        {"LF line ends", QByteArray(golden).replace("\r\n", "\n")},
        {"CR line ends", QByteArray(golden).replace("\r\n", "\r")},
        {"blanks around items and empty lines", QByteArray(golden)
                                                    .replace(",", " \t, ")
                                                    .replace("a \t,  b", "a, b")
                                                    .replace("\r\n", "  \r\n\r\n  ")},
        {"ten lines regrouped",
         QByteArray(golden).replace("\r\n\"", ",\"").replace("#\r\n#", "#,#")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChannelConfigRead read = ReadChannelConfigText(row.bytes, ChannelRecords{});
        EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
        ExpectRecords(read.records, GoldenRecords());
    }
}

TEST(ChannelConfigText, ItemRules) {
    const QByteArray blocks = "#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#";
    const QByteArray rest = "0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n";
    struct Row {
        const char* name;
        QByteArray channel0;
        ChannelRecord want;
    } rows[] = {
        {"unquoted texts lose trailing blanks only", "1,3\r\n  ab c  ,  d\te \t\r\n",
         Rec(1, 3, QStringLiteral("ab c"), QStringLiteral("d\te"), false, false)},
        {"a quote ends the text; the rest up to the comma is dropped",
         "1,3\r\n\"ab\"cd\",\"x\"y\"\r\n",
         Rec(1, 3, QStringLiteral("ab"), QStringLiteral("x"), false, false)},
        {"numbers by the numeric-prefix rule", "\" 1 \",&H4\r\n\"9\",\"t\"\r\n",
         Rec(1, 4, QStringLiteral("9"), QStringLiteral("t"), false, false)},
        {"fractions round half to even", "0.5,2.5\r\n\"\",\"\"\r\n",
         Rec(0, 2, QString(), QString(), false, false)},
        {"Selected 2 is kept and is not selected", "2,1\r\n\"5\",\"\"\r\n",
         Rec(2, 1, QStringLiteral("5"), QString(), false, false)},
        {"accents are Windows-1252", "1,12\r\n\"\xE9\",\"n\xB0\x80\"\r\n",
         Rec(1, 12, QStringLiteral("é"), QStringLiteral("n°€"), false, false)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChannelConfigRead read =
            ReadChannelConfigText(row.channel0 + rest + blocks, ChannelRecords{});
        EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
        EXPECT_EQ(read.records[0], row.want) << Describe(read.records[0]);
        EXPECT_EQ(read.records[1], ChannelRecord{});
    }
}

TEST(ChannelConfigText, QuoteInsideATextIsWrittenUnchangedAndEndsItOnReading) {
    ChannelRecords records = GoldenRecords();
    records[1].Tag = QStringLiteral("12\" pouces");
    const QByteArray bytes = WriteChannelConfigText(records);
    EXPECT_TRUE(bytes.contains("\"3\",\"12\" pouces\"\r\n"));

    const ChannelConfigRead read = ReadChannelConfigText(bytes, ChannelRecords{});
    EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
    ChannelRecords want = GoldenRecords();
    want[1].Tag = QStringLiteral("12");
    ExpectRecords(read.records, want);
}

TEST(ChannelConfigText, BlockValuesStayExclusive) {
    struct Row {
        const char* base;
        const char* ext;
        bool wantBase;
        bool wantExt;
    } rows[] = {
        {"#TRUE#", "#TRUE#", false, true},  {"#TRUE#", "#FALSE#", true, false},
        {"#FALSE#", "#TRUE#", false, true}, {"#FALSE#", "#FALSE#", false, false},
        {"#true#", "#False#", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.base) + " " + row.ext);
        QByteArray bytes = WriteChannelConfigText(ChannelRecords{});
        bytes.replace("#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#",
                      QByteArray("#FALSE#,#FALSE#,") + row.base + ",#FALSE#\r\n#FALSE#,#FALSE#," +
                          row.ext + ",#FALSE#");
        // A start state with the opposite choice shows that assignments, not the start, decide.
        ChannelRecords start{};
        start[2].BaseBlock = !row.wantBase && !row.wantExt;
        const ChannelConfigRead read = ReadChannelConfigText(bytes, start);
        EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
        EXPECT_EQ(read.records[2].BaseBlock, row.wantBase);
        EXPECT_EQ(read.records[2].ExtBlock, row.wantExt);
    }
}

TEST(ChannelConfigText, UnreadableItemsKeepTheStartStateAndAreReported) {
    const QByteArray golden = ReadGolden(QStringLiteral("config.txt"));
    struct Row {
        const char* name;
        QByteArray bytes;
        const char* wantInProblem;
        ChannelRecords want;
    };
    ChannelRecords noSel0 = GoldenRecords();
    noSel0[0].Selected = 0;
    ChannelRecords noType1 = GoldenRecords();
    noType1[1].TypeIndex = -1;
    ChannelRecords noBase3 = GoldenRecords();
    noBase3[3].BaseBlock = false;
    ChannelRecords shortFile = GoldenRecords();
    shortFile[2] = ChannelRecord{};
    shortFile[2].Selected = 0;
    shortFile[2].TypeIndex = -1;
    shortFile[3] = ChannelRecord{};
    shortFile[0].BaseBlock = false;
    shortFile[1].ExtBlock = false;
    ChannelRecords partial = shortFile;
    partial[2].TypeIndex = -1;
    const Row rows[] = {
        {"non-numeric Selected", QByteArray(golden).replace("1,5\r\n", "oui,5\r\n"),
         "sélection de la voie 0", noSel0},
        {"empty Selected", QByteArray(golden).replace("1,5\r\n", ",5\r\n"),
         "sélection de la voie 0", noSel0},
        {"Selected beyond 16 bits", QByteArray(golden).replace("1,5\r\n", "70000,5\r\n"),
         "sélection de la voie 0", noSel0},
        {"TypeIndex 99", QByteArray(golden).replace("1,2\r\n", "1,99\r\n"), "99", noType1},
        {"TypeIndex -2", QByteArray(golden).replace("1,2\r\n", "1,-2\r\n"), "-2", noType1},
        {"non-numeric TypeIndex", QByteArray(golden).replace("1,2\r\n", "1,pH\r\n"),
         "type de mesure de la voie 1", noType1},
        {"non-boolean block value",
         QByteArray(golden).replace("#FALSE#,#TRUE#\r\n#F", "#FALSE#,1\r\n#F"),
         "choix Base de la voie 3", noBase3},
        {"file cut after channel 1", golden.left(golden.indexOf("0,-1")), "incomplet : 8 valeurs",
         shortFile},
        {"file cut after a Selected", golden.left(golden.indexOf("0,-1") + 2), "9 valeurs",
         partial},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ChannelConfigRead read = ReadChannelConfigText(row.bytes, ChannelRecords{});
        EXPECT_TRUE(read.problem.contains(QStringLiteral("config.txt")))
            << read.problem.toStdString();
        EXPECT_TRUE(read.problem.contains(QString::fromUtf8(row.wantInProblem)))
            << read.problem.toStdString();
        ExpectRecords(read.records, row.want);
    }

    const ChannelConfigRead empty = ReadChannelConfigText(QByteArray(), GoldenRecords());
    EXPECT_TRUE(empty.problem.contains(QStringLiteral("0 valeurs lues sur 24")));
    ExpectRecords(empty.records, GoldenRecords());
}

TEST(ChannelStore, BlockPairIsExclusiveWhenSetTrue) {
    ChannelStore store;
    store.setBaseBlock(1, true);
    EXPECT_TRUE(store.IsBaseBlock(1));
    store.setExtBlock(1, true);
    EXPECT_FALSE(store.Record(1).BaseBlock);
    EXPECT_TRUE(store.Record(1).ExtBlock);
    store.setBaseBlock(1, false);  // clearing one leaves the other alone
    EXPECT_TRUE(store.Record(1).ExtBlock);
    store.setBaseBlock(1, true);
    EXPECT_FALSE(store.Record(1).ExtBlock);
    store.setExtBlock(1, false);
    EXPECT_TRUE(store.IsBaseBlock(1));
    for (int k : {0, 2, 3}) {
        EXPECT_EQ(store.Record(k), ChannelRecord{});
    }
}

TEST(ChannelStore, QueriesReadTheCurrentValues) {
    ChannelStore store;
    for (qint16 sel : {0, 1, 2, -1}) {
        store.setSelected(3, sel);
        EXPECT_EQ(store.IsSelected(3), sel == 1) << sel;
    }
    store.setAddress(2, QStringLiteral("07"));
    store.setTypeIndex(2, 9);
    EXPECT_EQ(store.ChannelAddress(2), QStringLiteral("07"));
    EXPECT_EQ(store.ChannelType(2), 9);
    // Channels outside 0..3 are answered, never read out of bounds.
    for (int k : {-1, 4, 1000}) {
        store.setSelected(k, 1);
        store.setTag(k, QStringLiteral("x"));
        EXPECT_FALSE(store.IsSelected(k));
        EXPECT_EQ(store.ChannelType(k), -1);
        EXPECT_TRUE(store.ChannelAddress(k).isEmpty());
        EXPECT_TRUE(store.ChannelTitle(k).isEmpty());
    }
}

TEST(ChannelStore, SignalsFireOnlyOnChange) {
    ChannelStore store;
    Emissions selection(store, &ChannelStore::selectionChanged);
    Emissions record(store, &ChannelStore::recordChanged);

    store.setSelected(2, 0);  // already 0
    store.setTypeIndex(2, -1);
    store.setAddress(2, QString());
    store.setBaseBlock(2, false);
    store.setExtBlock(2, false);
    EXPECT_TRUE(selection.channels().isEmpty());
    EXPECT_TRUE(record.channels().isEmpty());

    store.setSelected(2, 1);
    EXPECT_EQ(selection.channels(), QList<int>{2});
    EXPECT_EQ(record.channels(), QList<int>{2});
    store.setSelected(2, 1);
    store.setSelected(2, 2);  // the third check box state is a change of value too
    EXPECT_EQ(selection.channels(), (QList<int>{2, 2}));

    store.setTag(2, QStringLiteral("t"));
    store.setExtBlock(2, true);
    store.setBaseBlock(2, false);  // already false: nothing
    store.setTypeIndex(1, 4);
    EXPECT_EQ(selection.channels(), (QList<int>{2, 2}));
    EXPECT_EQ(record.channels(), (QList<int>{2, 2, 2, 2, 1}));
}

TEST(ChannelStore, LoadAppliesTheFileAndSignalsOnlyChangedSelections) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("config.txt"), ReadGolden(QStringLiteral("config.txt"))));
    ChannelStore store;
    store.setSelected(0, 1);  // as in the file
    store.setSelected(2, 1);  // the file says 0
    store.setTag(2, QStringLiteral("modifié"));
    Emissions selection(store, &ChannelStore::selectionChanged);

    const Status status = store.LoadChannelConfig();
    EXPECT_TRUE(status.ok()) << status.message.toStdString();
    ExpectRecords(store.Records(), GoldenRecords());
    EXPECT_EQ(selection.channels(), (QList<int>{1, 2, 3}));

    selection.clear();
    EXPECT_TRUE(store.LoadChannelConfig().ok());
    EXPECT_TRUE(selection.channels().isEmpty());
}

TEST(ChannelStore, LoadProblemsLeaveTheStartUpStateAndNameTheFile) {
    CurrentTempDir dir;
    ChannelStore store;
    store.setSelected(1, 1);
    store.setTag(1, QStringLiteral("édité"));
    store.setBaseBlock(1, true);

    Status status = store.LoadChannelConfig();
    EXPECT_TRUE(status.message.contains(QStringLiteral("config.txt")))
        << status.message.toStdString();
    EXPECT_TRUE(status.message.contains(QStringLiteral("introuvable")));
    ExpectRecords(store.Records(), ChannelRecords{});

    // Unread items fall back to the start-up state, not to the edits in the store.
    const QByteArray golden = ReadGolden(QStringLiteral("config.txt"));
    ASSERT_TRUE(dir.write(QStringLiteral("config.txt"), golden.left(golden.indexOf("1,2"))));
    store.setSelected(1, 1);
    store.setTag(1, QStringLiteral("édité"));
    status = store.LoadChannelConfig();
    EXPECT_TRUE(status.message.contains(QStringLiteral("incomplet")))
        << status.message.toStdString();
    EXPECT_EQ(store.Record(0),
              Rec(1, 5, QStringLiteral("2"), QStringLiteral("Débit1"), false, false));
    EXPECT_EQ(store.Record(1), ChannelRecord{});

    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("config.txt"))));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("config.txt")));
    status = store.LoadChannelConfig();
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains(QStringLiteral("config.txt")));
    ExpectRecords(store.Records(), ChannelRecords{});
}

TEST(ChannelStore, SaveWritesTheGoldenFileAndLoadGivesItBack) {
    CurrentTempDir dir;
    ChannelStore store;
    const ChannelRecords golden = GoldenRecords();
    for (int k = 0; k < kChannelCount; ++k) {
        store.setSelected(k, golden[k].Selected);
        store.setTypeIndex(k, golden[k].TypeIndex);
        store.setAddress(k, golden[k].Address);
        store.setTag(k, golden[k].Tag);
        store.setBaseBlock(k, golden[k].BaseBlock);
        store.setExtBlock(k, golden[k].ExtBlock);
    }
    ASSERT_TRUE(dir.write(QStringLiteral("config.txt"),
                          "ancien contenu plus long que le nouveau"
                          " ................................"
                          "........................................"
                          "........................................"));
    const Status saved = store.SaveChannelConfig();
    EXPECT_TRUE(saved.ok()) << saved.message.toStdString();
    EXPECT_EQ(dir.read(QStringLiteral("config.txt")), ReadGolden(QStringLiteral("config.txt")));

    ChannelStore other;
    EXPECT_TRUE(other.LoadChannelConfig().ok());
    ExpectRecords(other.Records(), golden);
}

TEST(ChannelStore, FailedSaveKeepsTheOldFileAndSaysWhy) {
    CurrentTempDir dir;
    const QByteArray old = ReadGolden(QStringLiteral("config.txt"));
    ASSERT_TRUE(dir.write(QStringLiteral("config.txt"), old));
    ChannelStore store;
    store.setTag(0, QStringLiteral("nouveau"));

    Status status;
    {
        test::FileSizeLimit limit(16);  // the new content cannot be written in full
        status = store.SaveChannelConfig();
    }
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains(QStringLiteral("config.txt")))
        << status.message.toStdString();
    EXPECT_TRUE(status.message.contains(QStringLiteral("conservé")));
    EXPECT_EQ(dir.read(QStringLiteral("config.txt")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("config.txt")});

    // A parent that is a file, and a directory where the file should be.
    ASSERT_TRUE(dir.write(QStringLiteral("plain"), "x"));
    status = store.SaveChannelConfig(dir.filePath(QStringLiteral("plain/config.txt")));
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains(QStringLiteral("config.txt")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("sub/config.txt")));
    status = store.SaveChannelConfig(dir.filePath(QStringLiteral("sub/config.txt")));
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("sub/config.txt"))).isDir());
}

TEST(ChannelStore, TitlesAddTheVolumeHeadingsForFlowMeters) {
    ChannelStore store;
    store.setTag(0, QStringLiteral("Débit1"));
    store.setTypeIndex(0, kFlowMeterType);
    store.setTag(1, QStringLiteral("Débit1"));
    store.setTypeIndex(1, 2);
    store.setTypeIndex(2, kFlowMeterType);  // empty tag
    store.setTag(3, QStringLiteral("Cuve"));
    EXPECT_TRUE(store.ChannelTitle(0).isEmpty());  // nothing built yet

    store.BuildChannelTitles();
    EXPECT_EQ(store.ChannelTitle(0),
              QStringLiteral("Débit1\r\nVolume Journalier\r\nVolume Cumulé"));
    EXPECT_EQ(store.ChannelTitle(1), QStringLiteral("Débit1"));
    EXPECT_EQ(store.ChannelTitle(2), QStringLiteral("\r\nVolume Journalier\r\nVolume Cumulé"));
    EXPECT_EQ(store.ChannelTitle(3), QStringLiteral("Cuve"));

    store.setTypeIndex(0, 1);
    store.BuildChannelTitles();
    EXPECT_EQ(store.ChannelTitle(0), QStringLiteral("Débit1"));
}
