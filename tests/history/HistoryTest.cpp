#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstring>
#include <ctime>

#include "common/TempDir.h"
#include "history/CsvField.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/Storage.h"

namespace merival {
namespace {

using test::CurrentTempDir;

const QString kRead = QStringLiteral("test-read");

qint64 Utc(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

ChannelReading Reading(int channel, qint64 ms, QList<ReadingNumber> numbers, QString text,
                       std::optional<double> temperature = std::nullopt,
                       QString tag = QStringLiteral("Bassin")) {
    ChannelReading r;
    r.time = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    r.channel = channel;
    r.tag = std::move(tag);
    r.typeName = numbers.isEmpty() ? QStringLiteral("pH") : numbers[0].name;
    r.ok = text != QStringLiteral("HS");
    r.text = std::move(text);
    r.numbers = std::move(numbers);
    r.temperature = temperature;
    return r;
}

ChannelReading Ph(int channel, qint64 ms, double value) {
    return Reading(channel, ms, {{QStringLiteral("pH"), value, QStringLiteral("pH")}},
                   QString::number(value) + QStringLiteral(" pH"));
}

// Each inner list is one pass.
void Record(const QString& path, const QList<QList<ChannelReading>>& passes, int retention = 400) {
    HistoryRecorder recorder(path, retention);
    QStringList failed;
    QObject::connect(&recorder, &HistoryRecorder::failed, &recorder,
                     [&](const QString& m) { failed << m; });
    recorder.Start();
    for (const auto& pass : passes) {
        for (const ChannelReading& r : pass) {
            recorder.Add(r);
        }
        recorder.EndPass();
    }
    recorder.WaitWritten();
    QCoreApplication::processEvents();
    ASSERT_TRUE(failed.isEmpty()) << failed.join(' ').toStdString();
}

QByteArray Export(const QString& path, ExportRequest request = {}) {
    EXPECT_TRUE(OpenStorage(kRead, path, StorageAccess::Read).status.ok());
    QByteArray csv;
    const Status s = ExportCsv(kRead, request, u',', [&](const QByteArray& chunk) {
        csv += chunk;
        return true;
    });
    EXPECT_TRUE(s.ok()) << s.message.toStdString();
    CloseStorage(kRead);
    return csv;
}

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Local time with a summer and a winter offset.
        qputenv("TZ", "Europe/Paris");
        tzset();
    }
    CurrentTempDir dir;
    QString path = dir.filePath(QStringLiteral("historique.sqlite"));
};

TEST_F(HistoryTest, RecordedReadingsComeBackAsSpreadsheetCsv) {
    const qint64 summer = Utc("2026-07-14T21:59:59.500Z");  // 23:59:59 in Paris
    const qint64 winter = Utc("2026-12-01T09:05:03.000Z");  // 10:05:03
    Record(path,
           {{Reading(0, summer,
                     {{QStringLiteral("Débit"), 4.522, QStringLiteral("m3/h")},
                      {QStringLiteral("Volume journalier"), 2270, QStringLiteral("m3")},
                      {QStringLiteral("Volume cumulé"), 6917498, QStringLiteral("m3")}},
                     QStringLiteral("  4,522  m3/h    21,7  °C\r\n 2270   m3  \r\n 6917498   m3  "),
                     21.7, QStringLiteral("Débit; \"entrée\"")),
             Reading(1, summer + 600, {}, QStringLiteral("HS"))},
            {Ph(1, winter, -0.25)}});
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "Date;Heure;Voie;Repère;Type;État;Mesure 1;Unité 1;Mesure 2;Unité 2;Mesure 3;Unité 3;"
        "Température (°C);Valeur affichée;Date et heure UTC\r\n"
        "14/07/2026;23:59:59;0;\"Débit; \"\"entrée\"\"\";Débit;OK;4,522;m3/h;2270;m3;6917498;m3;"
        "21,7;  4,522  m3/h    21,7  °C /  2270   m3   /  6917498   m3  ;14/07/2026 21:59:59\r\n"
        "15/07/2026;00:00:00;1;Bassin;pH;HS;;;;;;;;HS;14/07/2026 22:00:00\r\n"
        "01/12/2026;10:05:03;1;Bassin;pH;OK;-0,25;pH;;;;;;\"=\"\"-0.25 pH\"\"\";01/12/2026 "
        "09:05:03\r\n";
    EXPECT_EQ(Export(path).toStdString(), expected.toStdString());

    // Retention of one day: only the latest reading stays, in both tables.
    Record(path, {{Ph(2, QDateTime::currentMSecsSinceEpoch(), 7)}}, 1);
    ASSERT_TRUE(OpenStorage(kRead, path, StorageAccess::Read).status.ok());
    {
        QSqlQuery q(QSqlDatabase::database(kRead));
        ASSERT_TRUE(q.exec(QStringLiteral(
            "SELECT (SELECT count(*) FROM hist_blocs), (SELECT count(*) FROM hist_minutes)")));
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toInt(), 1);
        EXPECT_EQ(q.value(1).toInt(), 1);
    }
    CloseStorage(kRead);
}

// A spreadsheet drops a leading tab or carriage return and reads the rest as a formula.
TEST(CsvField, NoTagIsReadAsAFormula) {
    const auto field = [](const char* text, bool oneLine = false) {
        std::string out;
        AppendCsvField(out, text, qsizetype(std::strlen(text)), oneLine);
        return out;
    };
    EXPECT_EQ(field("Bassin 2"), "Bassin 2");
    EXPECT_EQ(field("=1+2"), "\"=\"\"=1+2\"\"\"");
    EXPECT_EQ(field("\t=1+2"), "\"=\"\"\t=1+2\"\"\"");
    EXPECT_EQ(field("\r=1"), "\"=\"\"\r=1\"\"\"");
    EXPECT_EQ(field("@a;\"b\""), "\"=\"\"@a;\"\"\"\"b\"\"\"\"\"\"\"");
    EXPECT_EQ(field("a\r\nb", true), "a / b");
}

TEST_F(HistoryTest, PeriodsIncludeTheirStartAndTheWholeLastDayOrMinute) {
    EXPECT_EQ(ParseHistoryDate(QStringLiteral("2026-07-14"), false), Utc("2026-07-13T22:00:00Z"));
    EXPECT_EQ(ParseHistoryDate(QStringLiteral("2026-07-14"), true), Utc("2026-07-14T22:00:00Z"));
    EXPECT_EQ(ParseHistoryDate(QStringLiteral("2026-12-08 10:05"), false),
              Utc("2026-12-08T09:05:00Z"));
    EXPECT_EQ(ParseHistoryDate(QStringLiteral("2026-12-08 10:05"), true),
              Utc("2026-12-08T09:06:00Z"));
    // The spring change skips 02:00 to 03:00 in Paris: refused with the reason; the autumn hour
    // that occurs twice is taken.
    QString skipped;
    EXPECT_FALSE(ParseHistoryDate(QStringLiteral("2026-03-29 02:30"), true, &skipped));
    EXPECT_TRUE(skipped.contains(QStringLiteral("n'existe pas"))) << skipped.toStdString();
    EXPECT_EQ(ParseHistoryDate(QStringLiteral("2026-03-29 01:59"), true),
              Utc("2026-03-29T01:00:00Z"));
    EXPECT_TRUE(ParseHistoryDate(QStringLiteral("2026-10-25 02:30"), false));
    for (const char* bad : {"2026-02-30", "2026-12-08 24:00", "08/12/2026", "2026-12-8", ""}) {
        EXPECT_FALSE(ParseHistoryDate(QString::fromLatin1(bad), false)) << bad;
    }
    const qint64 from = *ParseHistoryDate(QStringLiteral("2026-12-08 10:00"), false);
    const qint64 to = *ParseHistoryDate(QStringLiteral("2026-12-08 10:59"), true);
    Record(path, {{Ph(0, from - 1, 1), Ph(1, from - 1, 1)},
                  {Ph(0, from, 2), Ph(1, from, 2)},
                  {Ph(0, to - 1, 3), Ph(1, to - 1, 3)},
                  {Ph(0, to, 4), Ph(1, to, 4)}});
    const QList<QByteArray> lines = Export(path, {{from, to}, 1}).split('\n');
    ASSERT_EQ(lines.size(), 4);  // header, two rows, the empty end
    EXPECT_TRUE(lines[1].startsWith("08/12/2026;10:00:00;1;")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("08/12/2026;10:59:59;1;")) << lines[2].toStdString();
}

TEST_F(HistoryTest, DamagedForeignOrNewerFilesAreRefusedAndLeftUntouched) {
    const auto sqlite = [&](const QString& file, const QStringList& statements) {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        for (const QString& sql : statements) {
            ASSERT_TRUE(QSqlQuery(db).exec(sql)) << sql.toStdString();
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("make"));
    };
    // A good file of ours whose middle pages are then overwritten.
    const QString damaged = dir.filePath(QStringLiteral("damaged.sqlite"));
    QList<QList<ChannelReading>> many;
    for (int i = 0; i < 3000; ++i) {
        many.append({Ph(0, 1700000000000 + i * 1000, i)});
    }
    Record(damaged, many);
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GT(file.size(), 5 * 4096);
        file.seek(3 * 4096);
        file.write(QByteArray(4096, '\x5A'));
    }
    const QString foreign = dir.filePath(QStringLiteral("foreign.sqlite"));
    sqlite(foreign, {QStringLiteral("CREATE TABLE clients(nom TEXT)")});
    const QString otherId = dir.filePath(QStringLiteral("other.sqlite"));
    sqlite(otherId, {QStringLiteral("PRAGMA application_id = 42")});
    const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
    sqlite(newer, {QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId),
                   QStringLiteral("PRAGMA user_version = 99")});
    ASSERT_TRUE(dir.write(QStringLiteral("text.sqlite"), "Voie 0;7,02 pH\r\n"));
    for (const QString& file :
         {damaged, foreign, otherId, newer, dir.filePath(QStringLiteral("text.sqlite"))}) {
        SCOPED_TRACE(file.toStdString());
        QFile before(file);
        ASSERT_TRUE(before.open(QIODevice::ReadOnly));
        const QByteArray bytes = before.readAll();
        HistoryRecorder recorder(file, 400);
        QString message;
        QObject::connect(&recorder, &HistoryRecorder::failed, &recorder,
                         [&](const QString& m) { message = m; });
        recorder.Start();
        recorder.Add(Ph(0, 1800000000000, 7));
        recorder.EndPass();
        recorder.WaitWritten();
        QCoreApplication::processEvents();
        EXPECT_TRUE(message.contains(QFileInfo(file).fileName())) << message.toStdString();
        EXPECT_TRUE(message.endsWith(
            QStringLiteral("L'enregistrement de l'historique est arrêté ; la mesure continue.")));
        recorder.Stop();
        QFile after(file);
        ASSERT_TRUE(after.open(QIODevice::ReadOnly));
        EXPECT_TRUE(after.readAll() == bytes);
        EXPECT_FALSE(QFile::exists(file + QStringLiteral("-wal")));
    }

    // The alarm journal's file (its id, its table, no history yet) is completed, its table kept.
    const QString journal = dir.filePath(QStringLiteral("journal.sqlite"));
    sqlite(journal,
           {QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId),
            QStringLiteral("CREATE TABLE journal_alarmes(id INTEGER PRIMARY KEY, t_ms INTEGER)"),
            QStringLiteral("INSERT INTO journal_alarmes VALUES(1, 5)")});
    Record(journal, {{Ph(0, 1800000000000, 7)}});
    ASSERT_TRUE(OpenStorage(kRead, journal, StorageAccess::Read).status.ok());
    {
        QSqlQuery q(QSqlDatabase::database(kRead));
        ASSERT_TRUE(
            q.exec(QStringLiteral("SELECT (SELECT count(*) FROM journal_alarmes), "
                                  "(SELECT count(*) FROM hist_blocs)")));
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toInt(), 1);
        EXPECT_EQ(q.value(1).toInt(), 1);
    }
    CloseStorage(kRead);
}

// Texts are kept as models printed again from the numbers: every one comes back exactly,
// whether recorded now or in a file of the first layout, which is converted on first open.
TEST_F(HistoryTest, TextsComeBackExactlyAndTheFirstLayoutIsConverted) {
    struct Case {
        const char* text;
        std::optional<double> value;
        std::optional<double> temperature;
    };
    const Case cases[] = {{"083.2  %", 83.2, {}},
                          {" 967,9 kOhm", 0.9679, 25.0},
                          {"1,003 MOhm", 1.003, {}},
                          {"-150 mV", -150, {}},
                          {"Err 3", {}, {}},
                          {"__", 0.0, {}},
                          {"0.30000000000000004", 0.1 + 0.2, {}},
                          {" 7,02 pH     21,7  °C", 7.02, 21.7},
                          {"7,02 \x1F pH", 7.02, {}},
                          {"HS", {}, {}}};
    const auto reading = [](const Case& c, qint64 ms) {
        ChannelReading r = Reading(1, ms, {}, QString::fromUtf8(c.text), c.temperature);
        if (c.value) {
            r.numbers = {{QStringLiteral("Mesure"), *c.value, QStringLiteral("u")}};
        }
        return r;
    };
    // A file of the first layout, made with that layout's own statements.
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const char* sql :
             {"PRAGMA application_id = 1296388694", "PRAGMA user_version = 1",
              "CREATE TABLE hist_formes(id INTEGER PRIMARY KEY, repere TEXT NOT NULL, type TEXT "
              "NOT "
              "NULL, nom1 TEXT NOT NULL, unite1 TEXT NOT NULL, nom2 TEXT NOT NULL, unite2 TEXT NOT "
              "NULL, nom3 TEXT NOT NULL, unite3 TEXT NOT NULL, UNIQUE(repere, type, nom1, unite1, "
              "nom2, unite2, nom3, unite3))",
              "CREATE TABLE hist_mesures(voie INTEGER NOT NULL, t_ms INTEGER NOT NULL, forme "
              "INTEGER NOT NULL, ok INTEGER NOT NULL, texte TEXT NOT NULL, v1 REAL, v2 REAL, v3 "
              "REAL, temperature REAL, PRIMARY KEY(voie, t_ms)) WITHOUT ROWID",
              "INSERT INTO hist_formes VALUES(1, 'Bassin', 'pH', 'Mesure', 'u', '', '', '', '')"}) {
            ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << sql;
        }
        for (size_t i = 0; i < std::size(cases); ++i) {
            q.prepare(
                QStringLiteral("INSERT INTO hist_mesures VALUES(1, ?, 1, 1, ?, ?, NULL, NULL, ?)"));
            q.addBindValue(1800000000000 + qint64(i) * 1000);
            q.addBindValue(QString::fromUtf8(cases[i].text));
            q.addBindValue(cases[i].value ? QVariant(*cases[i].value) : QVariant());
            q.addBindValue(cases[i].temperature ? QVariant(*cases[i].temperature) : QVariant());
            ASSERT_TRUE(q.exec());
        }
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
    const StorageOpened old = OpenStorage(kRead, path, StorageAccess::Read);
    EXPECT_TRUE(old.status.message.contains(QStringLiteral("version précédente")));
    QList<QList<ChannelReading>> passes;
    for (size_t i = 0; i < std::size(cases); ++i) {
        passes.append({reading(cases[i], 1800000100000 + qint64(i) * 1000)});
    }
    Record(path, passes);
    ASSERT_TRUE(OpenStorage(kRead, path, StorageAccess::Read).status.ok());
    QList<StoredText> texts;
    ASSERT_TRUE(ReadTexts(kRead, {}, &texts).ok());
    ASSERT_EQ(texts.size(), 2 * qsizetype(std::size(cases)));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(texts[i].text.toStdString(), cases[i % std::size(cases)].text);
    }
    QSqlQuery q(QSqlDatabase::database(kRead));
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = "
                                      "'hist_mesures'")) &&
                q.next());
    EXPECT_EQ(q.value(0).toInt(), 0);
    q = QSqlQuery();
    CloseStorage(kRead);
    const QByteArray csv = Export(path);
    EXPECT_EQ(csv.count(";0,30000000000000004;u;"), 2);
    EXPECT_EQ(csv.count(";0,9679;u;;;;;25;"), 2);
}

// A file another program holds is tried again until it can be written: the queue keeps an
// hour of passes, the passes beyond it are counted in the journal, the operator hears once.
TEST_F(HistoryTest, ABusyFileIsRetriedAndDroppedPassesAreJournaled) {
    Record(path, {{Ph(1, QDateTime::currentMSecsSinceEpoch(), 7)}});
    QSqlDatabase hold =
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hold"));
    hold.setDatabaseName(path);
    ASSERT_TRUE(hold.open());
    ASSERT_TRUE(QSqlQuery(hold).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    QStringList troubled;
    QStringList failed;
    HistoryRecorder recorder(path, 100000);
    QObject::connect(&recorder, &HistoryRecorder::troubled, &recorder,
                     [&](const QString& m) { troubled << m; });
    QObject::connect(&recorder, &HistoryRecorder::failed, &recorder,
                     [&](const QString& m) { failed << m; });
    recorder.Start();
    for (int i = 0; i < 3700; ++i) {
        recorder.Add(Ph(0, 1700000001000 + i * 1000LL, 7));
        recorder.EndPass();
    }
    QElapsedTimer waited;
    waited.start();
    while (troubled.isEmpty() && waited.elapsed() < 20000) {
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(QSqlQuery(hold).exec(QStringLiteral("ROLLBACK")));
    hold.close();
    hold = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("hold"));
    recorder.WaitWritten();
    QCoreApplication::processEvents();
    EXPECT_EQ(troubled.size(), 1);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(recorder.droppedPasses(), 100);
    ASSERT_TRUE(OpenStorage(kRead, path, StorageAccess::Read).status.ok());
    QList<StoredText> texts;
    ASSERT_TRUE(ReadTexts(kRead, {}, &texts).ok());
    EXPECT_EQ(texts.size(), 1 + 3600);
    QSqlQuery q(QSqlDatabase::database(kRead));
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT evenement FROM journal_alarmes")) && q.next());
    EXPECT_TRUE(q.value(0).toString().startsWith(QStringLiteral("100 passage(s)")));
    q = QSqlQuery();
    CloseStorage(kRead);
}

// An oxygen station switched from % to mg/l draws two curves, one per unit; a flow rate shown
// "__" leaves its own column empty and the volumes stay in theirs.
TEST_F(HistoryTest, OneCurvePerUnitAndOneQuantityPerColumn) {
    const qint64 start = (QDateTime::currentMSecsSinceEpoch() / 3600000 - 1) * 3600000;
    const auto oxygen = [&](qint64 second, double value, const char* unit) {
        return Reading(1, start + second * 1000,
                       {{QStringLiteral("Oxygène"), value, QString::fromUtf8(unit)}},
                       QString::number(value) + u' ' + QString::fromUtf8(unit));
    };
    const QList<ReadingNumber> flow = {
        {QStringLiteral("Débit"), std::nullopt, QStringLiteral("m3/h")},
        {QStringLiteral("Volume journalier"), 500, QStringLiteral("m3")},
        {QStringLiteral("Volume cumulé"), 900, QStringLiteral("m3")}};
    Record(path, {{oxygen(0, 83.2, "%"),
                   Reading(0, start, flow, QStringLiteral("  __  / 500 m3 / 900 m3"))},
                  {oxygen(1, 83.4, "%")},
                  {oxygen(2, 7.5, "mg/l")},
                  {oxygen(3, 7.6, "mg/l")}});
    ASSERT_TRUE(OpenStorage(kRead, path, StorageAccess::Read).status.ok());
    const TrendData data = QueryTrend(kRead, {{start - 60000, start + 60000}, {1}, 600});
    CloseStorage(kRead);
    ASSERT_EQ(data.series.size(), 2);
    for (const TrendSeries& s : data.series) {
        SCOPED_TRACE(s.unit.toStdString());
        const double expected = s.unit == QStringLiteral("%") ? 83.3 : 7.55;
        for (const auto& segment : s.segments) {
            for (const QPointF& p : segment) {
                EXPECT_NEAR(p.y(), expected, 0.11);
            }
        }
    }
    ExportRequest channel0;
    channel0.channel = 0;
    const QByteArray csv = Export(path, channel0);
    EXPECT_TRUE(csv.contains(";OK;;;500;m3;900;m3;")) << csv.toStdString();
}

TEST_F(HistoryTest, TrendKeepsMinAndMaxPerColumnAndBreaksWhereTheStationReadHs) {
    const qint64 start = (QDateTime::currentMSecsSinceEpoch() / 3600000 - 2) * 3600000;
    QList<QList<ChannelReading>> passes;
    // 20 minutes at 1 Hz; minutes 8 and 9 read HS; one spike to 9.5.
    for (qint64 s = 0; s < 1200; ++s) {
        const bool hs = s >= 480 && s < 600;
        passes.append({hs ? Reading(2, start + s * 1000, {}, QStringLiteral("HS"))
                          : Ph(2, start + s * 1000, s == 700 ? 9.5 : 7 + double(s % 10) / 100)});
    }
    Record(path, passes);
    ASSERT_TRUE(OpenStorage(kRead, path, StorageAccess::Read).status.ok());
    // An hour (readings), a day (minutes) and a month (ten minutes) over the same data.
    for (const qint64 span : {3600LL * 1000, 86400LL * 1000, 30LL * 86400 * 1000}) {
        SCOPED_TRACE(span);
        const TrendData data =
            QueryTrend(kRead, {{start - span / 2, start + span / 2}, {0, 2}, 600});
        ASSERT_TRUE(data.status.ok()) << data.status.message.toStdString();
        ASSERT_EQ(data.series.size(), 1);
        const TrendSeries& s = data.series.first();
        EXPECT_EQ(s.channel, 2);
        EXPECT_EQ(s.unit, QStringLiteral("pH"));
        double low = 100;
        double high = 0;
        for (const auto& segment : s.segments) {
            for (const QPointF& p : segment) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
                EXPECT_GE(p.x(), double(start - span / 2));
            }
        }
        EXPECT_DOUBLE_EQ(low, 7);
        EXPECT_DOUBLE_EQ(high, 9.5);
        // Two minutes of HS are a gap at an hour's scale, not at a month's.
        if (span != 86400LL * 1000) {
            EXPECT_EQ(s.segments.size(), span == 3600LL * 1000 ? 2 : 1);
        }
    }
    CloseStorage(kRead);
}

}  // namespace
}  // namespace merival
