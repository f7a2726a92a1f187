#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "alarms/AlarmJournal.h"
#include "alarms/windows/AlarmJournalWindow.h"
#include "alarms/windows/AlarmSettingsDialog.h"
#include "base/IniFile.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

TEST(AlarmSettingsDialog, RefusesBadInputInFrenchAndSavesGoodInputWithAPoint) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    ChannelStore store;
    std::optional<AlarmSettings> applied;
    AlarmSettingsDialog dialog(store, op, u',', [&](const AlarmSettings& s) { applied = s; });
    dialog.ShowFromMenu();
    EXPECT_TRUE(dialog.CochePerte->isChecked()) << "loss of communication on by default";
    EXPECT_EQ(dialog.IntervalleStationMuette->text(), QStringLiteral("10"));

    dialog.CocheHaut[1]->setChecked(true);
    dialog.CocheBas[1]->setChecked(true);
    dialog.SeuilBas[1]->setText(QStringLiteral("6,5"));
    struct Bad {
        QLineEdit* field;
        const char* text;
        const char* message;
    };
    const Bad rows[] = {
        {dialog.SeuilHaut[1], "8.5", "Voie 1 : seuil haut : « 8.5 » n'est pas un nombre"},
        {dialog.SeuilHaut[1], "", "n'est pas un nombre (séparateur décimal « , »)"},
        {dialog.SeuilHaut[1], "6,5", "le seuil haut doit être supérieur au seuil bas"},
        {dialog.Retard[1], "-1", "Voie 1 : retard doit être compris entre 0 et 86400"},
        {dialog.BandeMorte[1], "-0,5", "Voie 1 : bande morte : « -0,5 » est inférieur à 0."},
        // A bound that only keeps numbers sane is not named.
        {dialog.SeuilHaut[1], "9999999999999999", "« 9999999999999999 » est hors des valeurs"},
        {dialog.PerteCommunication, "2,5", "doit être entier"},
    };
    for (const Bad& row : rows) {
        SCOPED_TRACE(row.text);
        dialog.SeuilHaut[1]->setText(QStringLiteral("8,5"));
        dialog.Retard[1]->setText(QStringLiteral("0"));
        dialog.BandeMorte[1]->setText(QStringLiteral("0"));
        dialog.PerteCommunication->setText(QStringLiteral("3"));
        row.field->setText(QString::fromUtf8(row.text));
        op.shown.clear();
        EXPECT_FALSE(dialog.Valider_Click());
        ASSERT_EQ(op.shown.size(), 1u);
        EXPECT_TRUE(op.shown[0].text.contains(QString::fromUtf8(row.message)))
            << op.shown[0].text.toStdString();
        EXPECT_FALSE(op.shown[0].text.contains(QStringLiteral("000000000000000")));
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("merival.ini"))));
        EXPECT_FALSE(applied.has_value());
    }

    dialog.SeuilHaut[1]->setText(QStringLiteral("8,5"));
    dialog.BandeMorte[1]->setText(QStringLiteral("0,05"));
    dialog.CochePerte->setChecked(false);
    dialog.Commande->setText(QStringLiteral("/usr/local/bin/sms"));
    EXPECT_TRUE(dialog.Valider_Click());
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(applied->channels[1], (ChannelAlarmSettings{6.5, 8.5, 0.05, 0, QString()}));
    EXPECT_EQ(applied->lossPasses, 0);
    const QString ini = QString::fromUtf8(dir.read(QStringLiteral("merival.ini")));
    EXPECT_TRUE(ini.contains(QStringLiteral("Voie1\\SeuilHaut=8.5"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("Voie1\\BandeMorte=0.05")));
    EXPECT_TRUE(ini.contains(QStringLiteral("PerteCommunication=0")));
    EXPECT_FALSE(ini.contains(QStringLiteral("Voie0\\SeuilHaut")));

    dialog.ShowFromMenu();
    EXPECT_EQ(dialog.SeuilBas[1]->text(), QStringLiteral("6,5")) << "read back with a comma";
    EXPECT_FALSE(dialog.SeuilBas[0]->isEnabled());
}

TEST(AlarmSettingsDialog, LimitsKeepTheUnitTheyWereTypedIn) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    ChannelStore store;
    QString reading = QStringLiteral("%");
    AlarmSettingsDialog dialog(store, op, u',', {},
                               [&](int n) { return n == 1 ? reading : QString(); });
    const auto saved = [&] { return QString::fromUtf8(dir.read(QStringLiteral("merival.ini"))); };
    dialog.ShowFromMenu();
    EXPECT_EQ(dialog.Unite[1][0]->text(), QStringLiteral("%")) << "the unit read now";
    EXPECT_EQ(dialog.Unite[0][0]->text(), QString()) << "no reading, no unit";
    dialog.CocheHaut[1]->click();
    dialog.SeuilHaut[1]->setText(QStringLiteral("85"));
    ASSERT_TRUE(dialog.Valider_Click());
    EXPECT_TRUE(saved().contains(QStringLiteral("Voie1\\Unite=%"))) << saved().toStdString();

    reading = QStringLiteral("mg/l");  // the station was switched to mg/l
    dialog.ShowFromMenu();
    for (QLabel* label : dialog.Unite[1]) {
        EXPECT_EQ(label->text(), QStringLiteral("%")) << "the limits' own unit";
    }
    dialog.Commande->setText(QStringLiteral("/bin/true"));
    ASSERT_TRUE(dialog.Valider_Click());
    EXPECT_TRUE(saved().contains(QStringLiteral("Voie1\\Unite=%"))) << "limits not retyped";

    dialog.ShowFromMenu();
    dialog.SeuilHaut[1]->setText(QStringLiteral("9"));
    Q_EMIT dialog.SeuilHaut[1]->textEdited(QStringLiteral("9"));
    EXPECT_EQ(dialog.Unite[1][2]->text(), QStringLiteral("mg/l")) << "typed while reading mg/l";
    ASSERT_TRUE(dialog.Valider_Click());
    EXPECT_TRUE(saved().contains(QStringLiteral("Voie1\\Unite=mg/l"))) << saved().toStdString();
}

// Enter in a field validates (a bad field is refused as by Valider); Escape abandons.
TEST(AlarmSettingsDialog, EnterValidatesAndEscapeAbandons) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    ChannelStore store;
    int saved = 0;
    AlarmSettingsDialog dialog(store, op, u',', [&](const AlarmSettings&) { ++saved; });
    dialog.ShowFromMenu();
    dialog.CocheHaut[2]->setChecked(true);
    dialog.SeuilHaut[2]->setText(QStringLiteral("douze"));
    dialog.SeuilHaut[2]->setFocus();
    test::PressKey(dialog.SeuilHaut[2], Qt::Key_Return);
    EXPECT_EQ(op.shown.size(), 1u);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(saved, 0);

    dialog.SeuilHaut[2]->setText(QStringLiteral("12,5"));
    test::PressKey(dialog.SeuilHaut[2], Qt::Key_Enter);
    EXPECT_EQ(saved, 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dir.read(QStringLiteral("merival.ini")).contains("Voie2\\SeuilHaut=12.5"));

    dialog.ShowFromMenu();
    dialog.SeuilHaut[2]->setText(QStringLiteral("99"));
    test::PressKey(dialog.Commande, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(saved, 1);
    EXPECT_TRUE(dir.read(QStringLiteral("merival.ini")).contains("Voie2\\SeuilHaut=12.5"));
}

QString Cell(const AlarmJournalWindow& window, int row, int column) {
    return window.Tableau->model()->index(row, column).data().toString();
}

TEST(AlarmJournalWindow, NewestFirstAndExportedAsCsv) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    AlarmJournal journal;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    journal.Append({t, 2, QStringLiteral("Sortie"), QStringLiteral("9,1 pH"), alarm_event::kHigh});
    journal.Append({t.addSecs(5), 2, QStringLiteral("Sortie"), QStringLiteral("7,0 pH"),
                    alarm_event::kReturn});
    AlarmJournalWindow window(journal, op);
    bool shown = false;
    QObject::connect(&window, &AlarmJournalWindow::shown, &window, [&] { shown = true; });
    window.ShowFromMenu();
    QElapsedTimer guard;
    guard.start();
    while (!shown && guard.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_EQ(window.Tableau->model()->rowCount(), 2);
    EXPECT_EQ(Cell(window, 0, 5), QStringLiteral("Retour à la normale"));
    EXPECT_EQ(Cell(window, 1, 4), QStringLiteral("9,1 pH"));
    EXPECT_EQ(Cell(window, 1, 1), t.toLocalTime().toString(QStringLiteral("HH:mm:ss")));

    EXPECT_TRUE(window.ExportCsv(dir.filePath(QStringLiteral("j.csv"))));
    EXPECT_EQ(dir.read(QStringLiteral("j.csv")), JournalCsv(window.entries()));
    EXPECT_TRUE(dir.read(QStringLiteral("j.csv")).contains("Retour à la normale\r\n"));
    op.shown.clear();
    EXPECT_FALSE(window.ExportCsv(dir.path()));
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].icon, OperatorIcon::Error);
}

// While the window is open, an event is added on top without reading the journal again; one
// that comes while a read is under way is neither lost nor shown twice.
TEST(AlarmJournalWindow, TakesNewEventsOneByOne) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    AlarmJournal journal;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    const auto event = [&](int s, const QString& what) {
        return AlarmEvent{t.addSecs(s), 1, QStringLiteral("Bassin"), QStringLiteral("%1 pH").arg(s),
                          what};
    };
    journal.Append(event(0, alarm_event::kHigh));
    AlarmJournalWindow window(journal, op);
    int reads = 0;
    QObject::connect(&window, &AlarmJournalWindow::shown, &window, [&] { ++reads; });
    window.ShowFromMenu();
    journal.Append(event(1, alarm_event::kReturn));  // after the read was asked for
    ASSERT_TRUE(test::WaitUntil([&] { return reads == 1; }, 10000));
    ASSERT_EQ(window.Tableau->model()->rowCount(), 2);
    EXPECT_EQ(Cell(window, 0, 4), QStringLiteral("1 pH"));

    journal.Append(event(2, alarm_event::kLow));
    EXPECT_EQ(window.Tableau->model()->rowCount(), 3) << "at once, without a read";
    EXPECT_EQ(Cell(window, 0, 4), QStringLiteral("2 pH"));
    EXPECT_EQ(Cell(window, 2, 4), QStringLiteral("0 pH"));

    window.Actualiser->click();
    ASSERT_TRUE(test::WaitUntil([&] { return reads == 2; }, 10000));
    EXPECT_EQ(window.entries().size(), 3) << "the journal holds what the window showed";
    EXPECT_EQ(Cell(window, 0, 4), QStringLiteral("2 pH"));
}

}  // namespace
}  // namespace merival
