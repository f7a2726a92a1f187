#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSettings>

#include <QDialog>
#include <QPushButton>
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"

#include "base/IniFile.h"
#include "history/HistoryCapability.h"
#include "history/HistoryRecorder.h"
#include "history/windows/HistoryMenu.h"
#include "history/windows/TrendWindow.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::CurrentTempDir;
using test::ScriptedOperator;
using test::WaitUntil;

// The capability as the program sets it up: its section of merival.ini, then started.
struct StartedHistory {
    StartedHistory() {
        capability.readSettings(*OpenIni());
        capability.start();
    }
    HistoryCapability capability;
};

TEST(HistoryMenuTest, DamagedFileStopsRecordingAndTheCheckMarkIsKeptInTheIni) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write("historique.sqlite", "pas une base"));
    ScriptedOperator op;
    QMenu menu;
    {
        StartedHistory started;
        HistoryMenu history(menu, started.capability, op, u',');
        EXPECT_TRUE(history.Enregistrement->isChecked());
        ASSERT_TRUE(WaitUntil([&] { return op.shown.size() == 1; }, 5000));
        EXPECT_TRUE(op.shown[0].text.contains("historique.sqlite"));
        EXPECT_TRUE(op.shown[0].text.contains("la mesure continue"));
        EXPECT_FALSE(history.Enregistrement->isChecked());
        EXPECT_EQ(history.recorder(), nullptr);
        started.capability.takeReading({});  // measuring goes on: readings are not recorded
        started.capability.passFinished({});
        EXPECT_EQ(dir.read("historique.sqlite"), QByteArray("pas une base"));
        // The setting stays on until the operator turns it off.
        EXPECT_FALSE(QFile::exists(dir.filePath("merival.ini")));
        history.Enregistrement->trigger();  // on again: refused again
        ASSERT_TRUE(WaitUntil([&] { return op.shown.size() == 2; }, 5000));
        history.Enregistrement_Click(false);
    }
    QSettings ini(dir.filePath("merival.ini"), QSettings::IniFormat);
    EXPECT_EQ(ini.value("Historique/Enregistrement").toString(), "false");
    EXPECT_EQ(ini.value("Historique/RetentionJours").toInt(), 400);
    QMenu again;
    StartedHistory startedOff;
    HistoryMenu off(again, startedOff.capability, op, u',');
    EXPECT_FALSE(off.Enregistrement->isChecked());
    EXPECT_EQ(off.recorder(), nullptr);
    EXPECT_EQ(op.shown.size(), size_t(2));
}

TEST(HistoryMenuTest, RecordedPassesAreExportedAndDrawn) {
    CurrentTempDir dir;
    ScriptedOperator op;
    QMenu menu;
    StartedHistory started;
    HistoryMenu history(menu, started.capability, op, u',');
    ASSERT_NE(history.recorder(), nullptr);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int pass = 0; pass < 3; ++pass) {
        ChannelReading r;
        r.time = QDateTime::fromMSecsSinceEpoch(now - 60000 + pass * 1000, Qt::UTC);
        r.channel = 1;
        r.tag = "Bassin";
        r.typeName = "pH";
        r.ok = true;
        r.text = QString("7,%1 pH").arg(pass + 4);
        r.numbers = {{"pH", std::array{7.4, 7.5, 7.6}[size_t(pass)], "pH"}};
        started.capability.takeReading(r);
        started.capability.passFinished({});
    }
    history.recorder()->WaitWritten();

    // One export at a time: the second is refused while the first runs, and the button waits.
    history.ExportTo(dir.filePath("export.csv"));
    EXPECT_TRUE(history.exporting());
    const auto* go = history.exportDialog()->findChild<QPushButton*>("ExporterFichier");
    ASSERT_NE(go, nullptr);
    EXPECT_FALSE(go->isEnabled());
    EXPECT_FALSE(history.Exporter->isEnabled());
    history.ExportTo(dir.filePath("second.csv"));
    ASSERT_TRUE(WaitUntil([&] { return op.shown.size() == 2; }, 10000));
    ASSERT_EQ(
        op.texts(),
        (QStringList{"Une exportation est déjà en cours.",
                     QString("3 mesures exportées dans « %1 ».").arg(dir.filePath("export.csv"))}));
    EXPECT_FALSE(QFile::exists(dir.filePath("second.csv")));
    EXPECT_TRUE(go->isEnabled());
    EXPECT_FALSE(history.exporting());
    const QByteArray csv = dir.read("export.csv");
    EXPECT_TRUE(
        csv.startsWith("\xEF\xBB\xBF"
                       "Date;Heure;"));
    // The last line, before its UTC date and time.
    const QByteArray last = csv.mid(csv.lastIndexOf(";1;Bassin;"));
    EXPECT_TRUE(last.startsWith(";1;Bassin;pH;OK;7,6;pH;;;;;;7,6 pH;") && last.endsWith("\r\n"))
        << csv.toStdString();

    history.Courbes_Click();
    TrendWindow* trend = history.trendWindow();
    ASSERT_NE(trend, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !trend->data().series.isEmpty(); }, 10000));
    ASSERT_EQ(trend->data().series.size(), 1);
    EXPECT_EQ(trend->data().series[0].name, "pH");
    // The last hour: the three seconds share one column, shown as its minimum and maximum.
    EXPECT_TRUE(trend->ValuesAt(now - 59000).contains("Voie 1 pH : 7,4 à 7,6 pH"))
        << trend->ValuesAt(now - 59000).toStdString();
    EXPECT_TRUE(trend->SaveImage(dir.filePath("courbes.png")));
    EXPECT_TRUE(dir.read("courbes.png").startsWith("\x89PNG"));
}

TEST(HistoryMenuTest, AnExportRunningAtTheEndIsCancelledAndWritesNothing) {
    CurrentTempDir dir;
    ScriptedOperator op;
    QMenu menu;
    StartedHistory started;
    {
        HistoryMenu history(menu, started.capability, op, u',');
        for (int i = 0; i < 20000; ++i) {
            ChannelReading r;
            r.time = QDateTime::currentDateTimeUtc().addSecs(-i);
            r.ok = true;
            r.text = "7 pH";
            started.capability.takeReading(r);
            if (i % 4 == 3) {
                started.capability.passFinished({});
            }
        }
        history.recorder()->WaitWritten();
        history.ExportTo(dir.filePath("export.csv"));
        ASSERT_TRUE(history.exporting());
    }
    // Either finished before the end or cancelled: never half a file, never a message after.
    QCoreApplication::processEvents();
    EXPECT_TRUE(op.shown.empty());
    if (QFile::exists(dir.filePath("export.csv"))) {
        EXPECT_TRUE(dir.read("export.csv").endsWith("7 pH\r\n"));
    }
}

}  // namespace
}  // namespace merival
