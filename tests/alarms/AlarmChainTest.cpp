#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <ctime>

#include "alarms/Alarms.h"
#include "common/TempDir.h"
#include "history/Storage.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace merival {
namespace {

const QDateTime kStart = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);

bool PumpUntil(const std::function<bool()>& done) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

ChannelReading Reading(int channel, int second, std::optional<double> value,
                       const QString& tag = QStringLiteral("Bassin")) {
    ChannelReading r;
    r.time = kStart.addSecs(second);
    r.channel = channel;
    r.tag = tag;
    r.ok = value.has_value();
    r.text = r.ok ? QStringLiteral("%1 pH\r\n20 °C").arg(*value) : QStringLiteral("HS");
    if (r.ok) {
        r.numbers = {{QStringLiteral("pH"), *value, QStringLiteral("pH")}};
    }
    return r;
}

QList<AlarmEvent> ReadJournal(AlarmJournal& journal) {
    QList<AlarmEvent> entries;
    bool read = false;
    const auto c = QObject::connect(&journal, &AlarmJournal::entriesRead, &journal,
                                    [&](const QList<AlarmEvent>& e) {
                                        entries = e;
                                        read = true;
                                    });
    journal.RequestEntries();
    EXPECT_TRUE(PumpUntil([&] { return read; }));
    QObject::disconnect(c);
    return entries;
}

TEST(AlarmChain, EventsAreJournaledOnceEachAndSurviveARestart) {
    test::CurrentTempDir dir;
    AlarmSettings settings;
    settings.channels[0].high = 8;
    settings.channels[2].low = 6;
    QList<AlarmEvent> events;
    {
        Alarms alarms(settings);
        QObject::connect(&alarms, &Alarms::happened, &alarms,
                         [&](const AlarmEvent& e) { events.append(e); });
        int second = 0;
        for (const auto& [high, low] : {std::pair{7.0, 7.0}, {9.0, 7.0}, {9.0, 5.0}, {7.0, 5.0}}) {
            alarms.Feed(Reading(0, second, high));
            alarms.Feed(Reading(2, second++, low, QStringLiteral("Sortie; \"B\"")));
        }
        for (int pass = 0; pass < 3; ++pass) {
            alarms.Feed(Reading(0, second++, std::nullopt));
        }
        alarms.AcknowledgeAll();
        ASSERT_EQ(events.size(), 6);
        EXPECT_EQ(events[3].event, alarm_event::kLoss);
        EXPECT_EQ(events[3].text, QStringLiteral("HS"));
        EXPECT_EQ(events[1].text, QStringLiteral("5 pH / 20 °C")) << "one line";
        EXPECT_EQ(events[4].event, alarm_event::kAcknowledge) << "one per channel";
        EXPECT_EQ(events[5].channel, 2);
    }
    // A new chain, as after a restart: every event once, newest first.
    Alarms again(settings);
    const QList<AlarmEvent> entries = ReadJournal(again.journal());
    ASSERT_EQ(entries.size(), events.size());
    for (qsizetype i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[events.size() - 1 - i], events[i]);
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("t"));
    db.setDatabaseName(dir.filePath(QStringLiteral("historique.sqlite")));
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA application_id")) && q.next());
    EXPECT_EQ(q.value(0).toLongLong(), 0x4D455256);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("wal"));
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA user_version")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), kStorageSchema) << "one version for history and journal";
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("t"));
}

TEST(AlarmChain, AForeignOrDamagedFileIsRefusedAndLeftAlone) {
    test::CurrentTempDir dir;
    // Another program's file without an id, one with its own id, one of a newer MERIVAL.
    const auto make = [&](const QString& name, const QStringList& statements) {
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("f"));
            db.setDatabaseName(dir.filePath(name));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            for (const QString& sql : statements) {
                EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
            }
            q = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("f"));
        return dir.read(name);
    };
    const QByteArray foreign =
        make(QStringLiteral("other.sqlite"),
             {QStringLiteral("PRAGMA application_id=42"), QStringLiteral("CREATE TABLE t(x)")});
    const QByteArray noId =
        make(QStringLiteral("noid.sqlite"), {QStringLiteral("CREATE TABLE clients(nom TEXT)")});
    const QByteArray newer =
        make(QStringLiteral("newer.sqlite"),
             {QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId),
              QStringLiteral("PRAGMA user_version=%1").arg(kStorageSchema + 1)});
    const QByteArray text("Ceci n'est pas une base de données, mais un texte assez long.\n");
    for (const auto& [name, bytes] :
         {std::pair{QStringLiteral("other.sqlite"), foreign},
          std::pair{QStringLiteral("noid.sqlite"), noId},
          std::pair{QStringLiteral("newer.sqlite"), newer},
          std::pair{QStringLiteral("historique.sqlite"), text.repeated(40)}}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(dir.write(name, bytes));
        QStringList failures;
        {
            AlarmJournal journal(dir.filePath(name));
            QObject::connect(&journal, &AlarmJournal::failed, &journal,
                             [&](const QString& m) { failures << m; });
            journal.Append(
                {kStart, 0, QStringLiteral("A"), QStringLiteral("9"), alarm_event::kHigh});
            journal.Append(
                {kStart, 0, QStringLiteral("A"), QStringLiteral("7"), alarm_event::kReturn});
            EXPECT_EQ(ReadJournal(journal).size(), 2) << "still shown from memory";
        }
        QCoreApplication::processEvents();
        ASSERT_EQ(failures.size(), 1) << "reported once";
        EXPECT_TRUE(failures[0].contains(name)) << failures[0].toStdString();
        EXPECT_EQ(dir.read(name), bytes) << "never written";
        EXPECT_FALSE(QFile::exists(dir.filePath(name + QStringLiteral("-wal"))));
    }
}

TEST(AlarmChain, AnEventTheBusyFileCouldNotTakeIsWrittenWithTheNext) {
    test::CurrentTempDir dir;
    AlarmJournal journal;
    QStringList failures;
    QObject::connect(&journal, &AlarmJournal::failed, &journal,
                     [&](const QString& m) { failures << m; });
    journal.Append({kStart, 1, QStringLiteral("A"), QStringLiteral("9"), alarm_event::kHigh});
    ASSERT_EQ(ReadJournal(journal).size(), 1);
    {
        // Another writer (the history, say) holds the file past the busy time-out.
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("busy"));
        db.setDatabaseName(dir.filePath(QStringLiteral("historique.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        journal.Append(
            {kStart.addSecs(1), 1, QStringLiteral("A"), QStringLiteral("7"), alarm_event::kReturn});
        ASSERT_TRUE(PumpUntil([&] { return !failures.isEmpty(); }));
        ASSERT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("busy"));
    journal.Append({kStart.addSecs(2), 1, QStringLiteral("A"), QStringLiteral("7"),
                    alarm_event::kAcknowledge});
    const QList<AlarmEvent> entries = ReadJournal(journal);
    ASSERT_EQ(entries.size(), 3) << "nothing lost";
    EXPECT_EQ(entries[1].event, alarm_event::kReturn);
    EXPECT_EQ(failures.size(), 1);
}

TEST(AlarmChain, CsvLikeTheHistory) {
    qputenv("TZ", "Europe/Paris");
    tzset();
    const QByteArray csv = JournalCsv(
        {{kStart.addSecs(2), 1, QStringLiteral("\t=2+2"), QStringLiteral("HS"), alarm_event::kLoss},
         {kStart.addSecs(1), -1, QStringLiteral("@Historique"), QStringLiteral("-150 mV"),
          QStringLiteral("=1+1")},
         {kStart, 3, QStringLiteral("Sortie; \"B\""), QStringLiteral("HS"), alarm_event::kLoss},
         {kStart.addSecs(-3600 * 24 * 200), 0, QStringLiteral("Bassin"),
          QStringLiteral("8,5 pH / 21,0 °C"), alarm_event::kHigh}});
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(
        QString::fromUtf8(csv.mid(3)),
        QStringLiteral("Date;Heure;Voie;Repère;Valeur affichée;Événement\r\n"
                       "29/04/2023;00:13:20;0;Bassin;8,5 pH / 21,0 °C;Seuil haut\r\n"
                       "14/11/2023;23:13:20;3;\"Sortie; \"\"B\"\"\";HS;Perte de "
                       "communication\r\n"
                       "14/11/2023;23:13:21;;\"=\"\"@Historique\"\"\";\"=\"\"-150 mV\"\"\";"
                       "\"=\"\"=1+1\"\"\"\r\n"
                       "14/11/2023;23:13:22;1;\"=\"\"\t=2+2\"\"\";HS;Perte de communication\r\n"))
        << "in time order, summer and winter time, formulas kept as text";
    qunsetenv("TZ");
    tzset();
}

TEST(AlarmChain, CommandGetsEachArgumentPlainAndFailuresAreReportedOnce) {
    test::CurrentTempDir dir;
    // Should the tag ever reach a shell, the harm stays in this folder.
    const QByteArray home = qgetenv("HOME");
    QDir(dir.path()).mkdir(QStringLiteral("home"));
    qputenv("HOME", dir.filePath(QStringLiteral("home")).toUtf8());
    ASSERT_TRUE(dir.write(QStringLiteral("home/keep"), "x"));

    const QString tag = QStringLiteral("\"; rm -rf ~ #");
    AlarmCommand command;
    // The site's program: a script that writes its arguments one per line.
    const QString script = dir.filePath(QStringLiteral("record"));
    ASSERT_TRUE(
        dir.write(QStringLiteral("record"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt\n"));
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    command.setCommand(script, QStringLiteral("\"fixed one\" two"));
    int finished = 0;
    QStringList failures;
    QObject::connect(&command, &AlarmCommand::finished, &command, [&] { ++finished; });
    QObject::connect(&command, &AlarmCommand::failed, &command,
                     [&](const QString& m) { failures << m; });
    command.Run({kStart, 2, tag, QStringLiteral("8,1 pH / 20 °C"), alarm_event::kHigh});
    ASSERT_TRUE(PumpUntil([&] { return finished == 1; }));
    EXPECT_EQ(QString::fromUtf8(dir.read(QStringLiteral("args.txt"))),
              QStringLiteral("fixed one\ntwo\nSeuil haut\n2\n") + tag +
                  QStringLiteral("\n8,1 pH / 20 °C\n"));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("home/keep"))));
    qputenv("HOME", home);

    command.setCommand(dir.filePath(QStringLiteral("absent")), {});
    command.Run({kStart, 0, tag, QStringLiteral("HS"), alarm_event::kLoss});
    command.Run({kStart, 0, tag, QStringLiteral("HS"), alarm_event::kReturn});
    ASSERT_TRUE(PumpUntil([&] { return finished == 3; }));
    ASSERT_EQ(failures.size(), 1) << "reported once";
    EXPECT_TRUE(failures[0].contains(QStringLiteral("absent")));

    AlarmCommand hanging(std::chrono::milliseconds(300));
    hanging.setCommand(QStringLiteral("/bin/sh"), QStringLiteral("-c \"exec sleep 30\""));
    QString hung;
    bool ended = false;
    QObject::connect(&hanging, &AlarmCommand::failed, &hanging,
                     [&](const QString& m) { hung = m; });
    QObject::connect(&hanging, &AlarmCommand::finished, &hanging, [&] { ended = true; });
    hanging.Run({kStart, 0, tag, QStringLiteral("HS"), alarm_event::kLoss});
    ASSERT_TRUE(PumpUntil([&] { return ended; }));
    EXPECT_TRUE(hung.contains(QStringLiteral("arrêtée"))) << hung.toStdString();
    EXPECT_EQ(hanging.running(), 0);
}

}  // namespace
}  // namespace merival
