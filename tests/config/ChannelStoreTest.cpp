#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <ostream>

#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "config/FileSizeLimit.h"

namespace merival {
void PrintTo(const ChannelRecord& r, std::ostream* os) {
    *os << '{' << r.Selected << ',' << r.TypeIndex << ",\"" << r.Address.toStdString() << "\",\""
        << r.Tag.toStdString() << "\"," << r.BaseBlock << ',' << r.ExtBlock << '}';
}
}  // namespace merival

using namespace merival;
using merival::test::CurrentTempDir;

namespace {

const QString kConfig = QStringLiteral("config.txt");

QByteArray Golden() {
    QFile f(QStringLiteral(MERIVAL_TEST_DATA "/config/config.txt"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

ChannelRecord Rec(qint16 sel, qint16 type, const QString& addr, const QString& tag, bool base,
                  bool ext) {
    return ChannelRecord{sel, type, addr, tag, base, ext};
}

// The content of tests/data/config/config.txt.
ChannelRecords GoldenRecords() {
    return {Rec(1, 5, QStringLiteral("2"), QStringLiteral("Débit1"), true, false),
            Rec(1, 2, QStringLiteral("3"), QStringLiteral("Réservoir n°2"), false, true),
            ChannelRecord{}, Rec(2, 12, QStringLiteral("14"), QStringLiteral("a, b"), true, false)};
}

void SetAll(ChannelStore& store, const ChannelRecords& records) {
    for (int k = 0; k < kChannelCount; ++k) {
        store.setSelected(k, records[k].Selected);
        store.setTypeIndex(k, records[k].TypeIndex);
        store.setAddress(k, records[k].Address);
        store.setTag(k, records[k].Tag);
        store.setBaseBlock(k, records[k].BaseBlock);
        store.setExtBlock(k, records[k].ExtBlock);
    }
}

}  // namespace

TEST(ChannelConfigText, GoldenFileBothWays) {
    EXPECT_EQ(WriteChannelConfigText(GoldenRecords()), Golden());
    EXPECT_TRUE(WriteChannelConfigText({}).startsWith("0,-1\r\n\"\",\"\"\r\n0,-1\r\n"));
    const ChannelConfigRead read = ReadChannelConfigText(Golden(), {});
    EXPECT_EQ(read.problem, QString());
    EXPECT_EQ(read.records, GoldenRecords());
}

TEST(ChannelConfigText, EveryFieldSurvivesWriteThenRead) {
    const ChannelRecord rows[] = {
        Rec(1, 0, QStringLiteral("1"), QStringLiteral("Bassin"), true, false),
        Rec(0, 15, QStringLiteral(" 7 "), QStringLiteral("  espaces autour  "), false, true),
        Rec(2, 14, QStringLiteral("&HA"), QStringLiteral("a,b,,c"), false, false),
        Rec(-7, -1, QStringLiteral("2.5"), QStringLiteral("Eau déminéralisée µS €"), true, false),
        Rec(32767, 13, QStringLiteral("x,y"), QStringLiteral("#TRUE#"), false, true),
        Rec(-32768, 7, QString(), QStringLiteral("ligne1\r\nligne2"), false, false),
    };
    // Each row in every channel position.
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        ChannelRecords records;
        for (int k = 0; k < kChannelCount; ++k) {
            records[k] = rows[(i + k) % 6];
        }
        const ChannelConfigRead read = ReadChannelConfigText(WriteChannelConfigText(records), {});
        EXPECT_EQ(read.problem, QString());
        EXPECT_EQ(read.records, records);
    }
}

TEST(ChannelConfigText, LayoutDoesNotMatter) {
    const QByteArray g = Golden();
    const QByteArray oneLine = QByteArray(g).replace("\r\n", ",");
    const QByteArray perLine =
        QByteArray(oneLine).replace(',', "\r\n").replace("\"a\r\n b\"", "\"a, b\"");
    const std::pair<const char*, QByteArray> rows[] = {
        {"one line", oneLine},
        {"one line, no final delimiter", oneLine.chopped(1)},
        {"one item per line", perLine},
        {"LF line ends", QByteArray(g).replace("\r\n", "\n")},
        {"CR line ends", QByteArray(g).replace("\r\n", "\r")},
        {"blanks and empty lines", QByteArray(g)
                                       .replace(",", " \t, ")
                                       .replace("a \t,  b", "a, b")
                                       .replace("\r\n", " \r\n\r\n ")},
        {"lines regrouped", QByteArray(g).replace("\r\n\"", ",\"").replace("#\r\n#", "#,#")},
    };
    for (const auto& [name, bytes] : rows) {
        SCOPED_TRACE(name);
        const ChannelConfigRead read = ReadChannelConfigText(bytes, {});
        EXPECT_EQ(read.problem, QString());
        EXPECT_EQ(read.records, GoldenRecords());
    }
}

TEST(ChannelConfigText, ItemRules) {
    const QByteArray rest = WriteChannelConfigText({}).mid(13);  // channels 1..3 and blocks
    const struct {
        const char* name;
        QByteArray channel0;
        ChannelRecord want;
    } rows[] = {
        {"unquoted texts lose trailing blanks only", "1,3\r\n  ab c  ,  d\te \t\r\n",
         Rec(1, 3, QStringLiteral("ab c"), QStringLiteral("d\te"), false, false)},
        {"a quote ends a text, the rest up to the delimiter is dropped",
         "1,3\r\n\"ab\"cd\",\"12\" pouces\"\r\n",
         Rec(1, 3, QStringLiteral("ab"), QStringLiteral("12"), false, false)},
        {"numbers by the numeric-prefix rule", "\" 1 \",&H4\r\n\"9\",\"t\"\r\n",
         Rec(1, 4, QStringLiteral("9"), QStringLiteral("t"), false, false)},
        {"fractions round half to even", "0.5,2.5\r\n\"\",\"\"\r\n",
         Rec(0, 2, {}, {}, false, false)},
        {"Selected 2 is kept, not selected", "2,1\r\n\"5\",\"\"\r\n",
         Rec(2, 1, QStringLiteral("5"), {}, false, false)},
        {"Windows-1252 bytes", "1,12\r\n\"\xE9\",\"n\xB0\x80\"\r\n",
         Rec(1, 12, QStringLiteral("é"), QStringLiteral("n°€"), false, false)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ChannelConfigRead read = ReadChannelConfigText(row.channel0 + rest, {});
        EXPECT_EQ(read.problem, QString());
        EXPECT_EQ(read.records, (ChannelRecords{row.want}));
    }
    // The writer has no escape for a quote: it goes out unchanged.
    ChannelRecords quoted;
    quoted[0].Tag = QStringLiteral("12\" pouces");
    EXPECT_TRUE(WriteChannelConfigText(quoted).contains("\"\",\"12\" pouces\"\r\n"));
}

TEST(ChannelConfigText, BlockValuesStayExclusive) {
    const struct {
        const char* base;
        const char* ext;
        bool wantBase, wantExt;
    } rows[] = {
        {"#TRUE#", "#TRUE#", false, true},  {"#TRUE#", "#FALSE#", true, false},
        {"#FALSE#", "#TRUE#", false, true}, {"#FALSE#", "#FALSE#", false, false},
        {"#true#", "#False#", true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.base) + row.ext);
        const QByteArray bytes = WriteChannelConfigText({}).replace(
            "#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#",
            QByteArray("#FALSE#,#FALSE#,") + row.base + ",#FALSE#\r\n#FALSE#,#FALSE#," + row.ext +
                ",#FALSE#");
        ChannelRecords start;  // the opposite of the expected choice: the file must decide
        start[2].BaseBlock = !row.wantBase;
        start[2].ExtBlock = !row.wantExt;
        const ChannelConfigRead read = ReadChannelConfigText(bytes, start);
        EXPECT_EQ(read.problem, QString());
        EXPECT_EQ(read.records[2].BaseBlock, row.wantBase);
        EXPECT_EQ(read.records[2].ExtBlock, row.wantExt);
    }
}

TEST(ChannelConfigText, UnreadableItemsKeepTheStartStateAndAreReported) {
    const QByteArray g = Golden();
    ChannelRecords noSel0 = GoldenRecords(), noType1 = GoldenRecords(), noBase3 = GoldenRecords();
    noSel0[0].Selected = 0;
    noType1[1].TypeIndex = -1;
    noBase3[3].BaseBlock = false;
    const ChannelRecords cut = {
        Rec(1, 5, QStringLiteral("2"), QStringLiteral("Débit1"), 0, 0),
        Rec(1, 2, QStringLiteral("3"), QStringLiteral("Réservoir n°2"), 0, 0)};
    const struct {
        const char* name;
        QByteArray bytes;
        const char* inProblem;
        ChannelRecords want;
    } rows[] = {
        {"non-numeric Selected", QByteArray(g).replace("1,5", "oui,5"), "sélection de la voie 0",
         noSel0},
        {"empty Selected", QByteArray(g).replace("1,5", ",5"), "sélection de la voie 0", noSel0},
        {"Selected beyond 16 bits", QByteArray(g).replace("1,5", "70000,5"), "voie 0", noSel0},
        {"TypeIndex 99", QByteArray(g).replace("1,2\r", "1,99\r"), "type de mesure 99", noType1},
        {"TypeIndex -2", QByteArray(g).replace("1,2\r", "1,-2\r"), "-2 de la voie 1", noType1},
        {"non-numeric TypeIndex", QByteArray(g).replace("1,2\r", "1,pH\r"), "« pH »", noType1},
        {"non-boolean block", QByteArray(g).replace("#FALSE#,#TRUE#\r\n#F", "#FALSE#,1\r\n#F"),
         "choix Base de la voie 3", noBase3},
        {"cut after channel 1", g.left(g.indexOf("0,-1")), "incomplet : 8 valeurs lues sur 24",
         cut},
        {"unclosed quote",
         g.left(g.indexOf("0,-1")).replace("2\"\r\n", "2\r\n"),
         "8 valeurs",
         {cut[0], Rec(1, 2, QStringLiteral("3"), QStringLiteral("Réservoir n°2\r\n"), 0, 0)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ChannelConfigRead read = ReadChannelConfigText(row.bytes, {});
        EXPECT_TRUE(read.problem.startsWith(QStringLiteral("Fichier config.txt")));
        EXPECT_TRUE(read.problem.contains(QString::fromUtf8(row.inProblem)))
            << read.problem.toStdString();
        EXPECT_EQ(read.records, row.want);
    }
}

TEST(ChannelStore, SettersKeepTheBlockPairExclusiveAndSignalOnlyChanges) {
    ChannelStore store;
    QList<int> selections, records;
    QObject context;
    QObject::connect(&store, &ChannelStore::selectionChanged, &context,
                     [&](int k) { selections << k; });
    QObject::connect(&store, &ChannelStore::recordChanged, &context, [&](int k) { records << k; });

    store.setSelected(2, 0);  // all already so
    store.setTypeIndex(2, -1);
    store.setBaseBlock(2, false);
    store.setExtBlock(2, false);
    store.setSelected(2, 1);
    store.setSelected(2, 1);
    store.setSelected(2, 2);  // the third check box state is a change too
    EXPECT_EQ(selections, (QList<int>{2, 2}));
    EXPECT_FALSE(store.IsSelected(2));

    store.setBaseBlock(1, true);
    store.setExtBlock(1, true);
    EXPECT_FALSE(store.IsBaseBlock(1));
    store.setBaseBlock(1, false);  // clearing one leaves the other alone
    EXPECT_TRUE(store.Record(1).ExtBlock);
    store.setBaseBlock(1, true);
    EXPECT_EQ(store.Record(1), Rec(0, -1, {}, {}, true, false));
    EXPECT_EQ(selections, (QList<int>{2, 2}));
    EXPECT_EQ(records, (QList<int>{2, 2, 1, 1, 1}));

    for (int k : {-1, 4}) {  // answered, never read or written out of bounds
        store.setSelected(k, 1);
        EXPECT_FALSE(store.IsSelected(k));
        EXPECT_EQ(store.ChannelType(k), -1);
    }
}

TEST(ChannelStore, LoadSignalsChangedSelectionsAndFallsBackToTheStartUpState) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(kConfig, Golden()));
    ChannelStore store;
    store.setSelected(0, 1);  // as in the file
    store.setSelected(2, 1);  // the file says 0
    QList<int> selections;
    QObject context;
    QObject::connect(&store, &ChannelStore::selectionChanged, &context,
                     [&](int k) { selections << k; });
    EXPECT_TRUE(store.LoadChannelConfig().ok());
    EXPECT_EQ(store.Records(), GoldenRecords());
    EXPECT_EQ(selections, (QList<int>{1, 2, 3}));
    EXPECT_TRUE(store.LoadChannelConfig().ok());
    EXPECT_EQ(selections.size(), 3);

    // Whatever the file does not give returns to the start-up state, edits included.
    ASSERT_TRUE(dir.write(kConfig, Golden().left(Golden().indexOf("1,2"))));
    store.setTag(1, QStringLiteral("édité"));
    Status status = store.LoadChannelConfig();
    EXPECT_TRUE(status.message.contains(QStringLiteral("incomplet")));
    EXPECT_EQ(store.Records(),
              (ChannelRecords{Rec(1, 5, QStringLiteral("2"), QStringLiteral("Débit1"), 0, 0)}));

    for (bool asDirectory : {false, true}) {
        SCOPED_TRACE(asDirectory);
        SetAll(store, GoldenRecords());
        QFile::remove(dir.filePath(kConfig));
        ASSERT_TRUE(!asDirectory || QDir(dir.path()).mkdir(kConfig));
        status = store.LoadChannelConfig();
        EXPECT_TRUE(status.message.contains(QStringLiteral("config.txt")))
            << status.message.toStdString();
        EXPECT_EQ(store.Records(), ChannelRecords{});
    }
}

TEST(ChannelStore, SaveReplacesTheFileOrKeepsTheOldOneWhole) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(kConfig, QByteArray(300, 'x')));
    ChannelStore store;
    SetAll(store, GoldenRecords());
    EXPECT_TRUE(store.SaveChannelConfig().ok());
    EXPECT_EQ(dir.read(kConfig), Golden());

    store.setTag(0, QStringLiteral("nouveau"));
    Status status;
    {
        test::FileSizeLimit limit(16);  // the new content cannot be written in full
        status = store.SaveChannelConfig();
    }
    EXPECT_TRUE(status.message.startsWith(
        QStringLiteral("Impossible d'enregistrer le fichier config.txt : ")))
        << status.message.toStdString();
    EXPECT_EQ(dir.read(kConfig), Golden());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{kConfig});

    ASSERT_TRUE(dir.write(QStringLiteral("plain"), "x"));  // a parent that is a file
    EXPECT_FALSE(store.SaveChannelConfig(dir.filePath(QStringLiteral("plain/config.txt"))).ok());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("sub/config.txt")));
    EXPECT_FALSE(store.SaveChannelConfig(dir.filePath(QStringLiteral("sub/config.txt"))).ok());
}

TEST(ChannelStore, TitlesAddTheVolumeHeadingsForFlowMeters) {
    ChannelStore store;
    SetAll(store,
           {Rec(1, kFlowMeterType, {}, QStringLiteral("Débit1"), 0, 0),
            Rec(1, 2, {}, QStringLiteral("Débit1"), 0, 0), Rec(0, kFlowMeterType, {}, {}, 0, 0),
            Rec(1, -1, {}, QStringLiteral("Cuve"), 0, 0)});
    EXPECT_EQ(store.ChannelTitle(0), QString());  // nothing built yet
    store.BuildChannelTitles();
    const QString volumes = QStringLiteral("\r\nVolume Journalier\r\nVolume Cumulé");
    EXPECT_EQ(store.ChannelTitle(0), QStringLiteral("Débit1") + volumes);
    EXPECT_EQ(store.ChannelTitle(1), QStringLiteral("Débit1"));
    EXPECT_EQ(store.ChannelTitle(2), volumes);
    EXPECT_EQ(store.ChannelTitle(3), QStringLiteral("Cuve"));
    EXPECT_EQ(store.ChannelTitle(4), QString());
}
