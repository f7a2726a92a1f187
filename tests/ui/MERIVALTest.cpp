#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/windows/ConfigW.h"
#include "diagnostics/ExchangeLog.h"
#include "diagnostics/windows/TraficLigne.h"
#include "measure/windows/F_Mesure.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::CurrentTempDir;
using test::FakePort;
using test::ScriptedOperator;

QWidget* TopLevel(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == name) {
            return w;
        }
    }
    return nullptr;
}

class MERIVALTest : public ::testing::Test {
protected:
    void SetUp() override {
        ChannelRecords records;
        records[3] = {1, 2, "2", "Cuve", true, false};
        records[1] = {0, 5, "4", "Débit1", false, true};
        ASSERT_TRUE(dir.write("config.txt", WriteChannelConfigText(records)));
        ASSERT_TRUE(dir.write("PortCom.dat", WriteSerialSettingsText({})));
    }

    // The program up to its main window (OK in the start-up dialog).
    void StartToMainWindow() {
        auto fake = std::make_unique<FakePort>();
        port = fake.get();
        AppOptions options;
        options.op = &op;
        options.port = std::move(fake);
        options.exit = [this](int code) { exitCodes.push_back(code); };
        options.decimalSeparator = QLatin1Char(',');
        app = std::make_unique<App>(std::move(options));
        app->Start();
        ASSERT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();
        ASSERT_EQ(app->mainWindow(), nullptr) << "created at the first show only";
        app->configW()->Commande1_Click();
        ASSERT_NE(app->mainWindow(), nullptr);
        main = app->mainWindow();
    }

    CurrentTempDir dir;
    ScriptedOperator op;
    FakePort* port = nullptr;
    std::vector<int> exitCodes;
    std::unique_ptr<App> app;
    MERIVAL* main = nullptr;
};

TEST_F(MERIVALTest, ADamagedIniFileIsReportedAtStartAndTheProgramGoesOn) {
    ASSERT_TRUE(dir.write("merival.ini", QByteArray("[Alarmes\nSeuil=\x01\xff\n")));
    AppOptions options;
    options.op = &op;
    options.port = std::make_unique<FakePort>();
    options.exit = [this](int code) { exitCodes.push_back(code); };
    app = std::make_unique<App>(std::move(options));
    app->Start();
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_TRUE(op.shown[0].text.contains(QStringLiteral("merival.ini")));
    EXPECT_TRUE(op.shown[0].text.contains(QStringLiteral("endommagé")));
    EXPECT_EQ(op.beeps, 1);
    app->configW()->Commande1_Click();
    EXPECT_NE(app->mainWindow(), nullptr);
}

TEST_F(MERIVALTest, StartsOnTheConfigurationDialogThenShowsTheMainWindow) {
    StartToMainWindow();
    EXPECT_FALSE(app->configW()->isVisible());
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(main->windowTitle(), "MERIVAL   V 2.19");
    EXPECT_EQ(app->state().EscapeKey, QString(QChar(27)));
    EXPECT_FALSE(port->isOpen()) << "the port is closed at start-up";

    // The logo: 538 x 181, centred in the window.
    ASSERT_FALSE(main->Picture1->pixmap().isNull());
    EXPECT_EQ(main->Picture1->pixmap().size(), QSize(538, 181));
    const QWidget* area = main->centralWidget();
    EXPECT_EQ(main->Picture1->x(), (area->width() - 538) / 2);
    EXPECT_EQ(main->Picture1->y(), (area->height() - 181) / 2);

    // The visible menu bar in display order; "&Mesure" is a command of the bar itself.
    QStringList bar;
    for (QAction* action : main->menuBar()->actions()) {
        if (!action->isVisible()) {
            continue;
        }
        QStringList item{action->text()};
        if (action->menu() != nullptr) {
            for (QAction* sub : action->menu()->actions()) {
                item << sub->text();
            }
        }
        bar << item.join('/');
    }
    EXPECT_EQ(bar, QStringList({"&Fichier/&Quitter",
                                "&Configuration/&Liaison Série/&Application/&Publication MQTT",
                                "&Mesure", "&Logger/&Init/RAZ fichier/&Extraction Données",
                                "&Historique/&Enregistrement/&Courbes/E&xporter…",
                                "&Alarmes/&Seuils…/&Journal/&Notifications…/&Rapport",
                                "&Diagnostic/&Trafic de la ligne"}));
    EXPECT_EQ(main->Mesure->menu(), nullptr);
    EXPECT_EQ(main->findChild<QLabel*>("WorkFolder")->text(),
              "Dossier de travail : " + QDir::toNativeSeparators(dir.path()));
}

TEST_F(MERIVALTest, MesureWithoutSelectedChannelOpensNothing) {
    StartToMainWindow();
    app->store().setSelected(3, 0);
    app->state().StopKey = app->state().EscapeKey;
    main->Mesure->trigger();
    EXPECT_TRUE(app->state().StopKey.isEmpty());
    EXPECT_EQ(op.beeps, 1);
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text, "Aucune mesure de configurée");
    EXPECT_EQ(op.shown[0].icon, OperatorIcon::Exclamation);
    EXPECT_FALSE(op.shown[0].question);
    EXPECT_EQ(app->measureWindow(), nullptr);
    EXPECT_EQ(port->opens, 0);
}

TEST_F(MERIVALTest, MesureOpensTheWindowOnceAndWakesItAgain) {
    StartToMainWindow();
    main->Mesure->trigger();
    F_Mesure* window = app->measureWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(window->Minuterie1.interval(), 1000);
    EXPECT_TRUE(window->Minuterie1.isActive());
    EXPECT_EQ(port->opens, 1);
    EXPECT_TRUE(op.shown.empty());

    // A stop asked for but not yet seen by the cycle is cancelled; no second load.
    app->state().StopKey = app->state().EscapeKey;
    window->Minuterie1.setInterval(5000);
    window->hide();
    main->Mesure_Click();
    EXPECT_EQ(app->measureWindow(), window);
    EXPECT_TRUE(app->state().StopKey.isEmpty());
    EXPECT_EQ(window->Minuterie1.interval(), 1000);
    EXPECT_TRUE(window->Minuterie1.isActive());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(port->opens, 1);
}

TEST_F(MERIVALTest, AfterAbandonMesureLoadsANewWindow) {
    StartToMainWindow();
    main->Mesure_Click();
    QPointer<F_Mesure> first = app->measureWindow();
    ASSERT_FALSE(first.isNull());
    first->Commande1_Click();
    EXPECT_EQ(app->measureWindow(), nullptr);
    EXPECT_FALSE(port->isOpen());
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(op.beeps, 1);

    main->Mesure_Click();
    F_Mesure* second = app->measureWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first.data());
    EXPECT_EQ(port->opens, 2);
    EXPECT_TRUE(port->isOpen());
    EXPECT_TRUE(app->state().StopKey.isEmpty());
    EXPECT_TRUE(second->Minuterie1.isActive());
}

// The measurement window covers the status bar: it shows the link state on a line of its own,
// under the rows, from the moment it opens.
TEST_F(MERIVALTest, TheLinkStateShowsWhileMeasuring) {
    StartToMainWindow();
    main->setLinkState("MQTT : connecté à courtier:1883");
    main->Mesure_Click();
    F_Mesure* window = app->measureWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->EtatLiaison->text(), "MQTT : connecté à courtier:1883");
    EXPECT_TRUE(window->EtatLiaison->isVisible());
    EXPECT_GT(window->EtatLiaison->geometry().top(), window->Feuille->geometry().bottom());
    main->setLinkState("MQTT : reconnexion à courtier:1883 (courtier injoignable)");
    EXPECT_TRUE(window->EtatLiaison->text().startsWith("MQTT : reconnexion"));
    main->setLinkState({});
    EXPECT_FALSE(window->EtatLiaison->isVisible());
}

TEST_F(MERIVALTest, ConfigurationAndLoggerCommandsShowTheirDialogs) {
    StartToMainWindow();
    // The configuration dialog comes back with its current values, not the file's.
    app->store().setTag(3, "Édité");
    main->ConfApp->trigger();
    EXPECT_TRUE(app->configW()->isVisible());
    EXPECT_EQ(app->configW()->Texte2[3]->text(), "Édité");
    EXPECT_TRUE(op.shown.empty()) << "no second load";
    app->configW()->Commande2_Click();
    EXPECT_EQ(app->store().Record(3).Tag, "Cuve");

    main->LS->trigger();
    QWidget* serial = TopLevel("ConfLS");
    ASSERT_NE(serial, nullptr);
    EXPECT_TRUE(serial->isVisible());

    struct Row {
        QAction* command;
        bool resetEnabled;
    };
    for (const Row& row :
         {Row{main->RAZfich, true}, Row{main->Extract, false}, Row{main->RAZfich, true}}) {
        SCOPED_TRACE(row.command->text().toStdString());
        row.command->trigger();
        QWidget* extraction = TopLevel("Extraction");
        ASSERT_NE(extraction, nullptr);
        EXPECT_TRUE(extraction->isVisible());
        auto* reset = extraction->findChild<QPushButton*>("Command1");
        auto* exportButton = extraction->findChild<QPushButton*>("Command3");
        ASSERT_NE(reset, nullptr);
        ASSERT_NE(exportButton, nullptr);
        EXPECT_EQ(reset->isEnabled(), row.resetEnabled);
        EXPECT_EQ(exportButton->isEnabled(), !row.resetEnabled);
    }
}

TEST_F(MERIVALTest, DiagnosticShowsTheExchangesOfTheMeasurement) {
    StartToMainWindow();
    port->openError = QStringLiteral("Port occupé");
    main->Mesure_Click();
    F_Mesure* window = app->measureWindow();
    ASSERT_NE(window, nullptr);
    window->Minuterie1.stop();
    window->Minuterie1_Timer();
    // The pass runs on the engine's thread.
    ASSERT_TRUE(test::WaitUntil([this] { return app->exchangeLog().size() == 1; }, 5000));

    main->Diagnostic->actions().value(0)->trigger();
    auto* trafic = qobject_cast<TraficLigne*>(TopLevel("TraficLigne"));
    ASSERT_NE(trafic, nullptr);
    EXPECT_TRUE(trafic->isVisible());
    const QAbstractItemModel* rows = trafic->Echanges->model();
    ASSERT_EQ(rows->rowCount(), 1);
    QStringList cells;
    for (int column : {1, 2, 4}) {
        cells << rows->index(0, column).data().toString();
    }
    EXPECT_EQ(cells, QStringList({"Voie 3", "2", "Port fermé"}));
}

TEST_F(MERIVALTest, QuitterDuringAPassEndsWithoutTheMeasurementWindowsStopHandling) {
    ChannelRecords records;
    records[0] = {1, 2, "2", "A", true, false};
    records[2] = {1, 2, "3", "B", true, false};
    ASSERT_TRUE(dir.write("config.txt", WriteChannelConfigText(records)));
    StartToMainWindow();
    main->Mesure_Click();
    QPointer<F_Mesure> window = app->measureWindow();
    ASSERT_FALSE(window.isNull());
    ASSERT_TRUE(port->isOpen());  // the fake port never answers

    // Quitter is chosen while channel 0 waits, on the engine's thread, for its (real, 2 s)
    // reply time-out.
    QTimer::singleShot(50, main, [this] { main->Quitter->trigger(); });
    window->Minuterie1_Timer();
    ASSERT_TRUE(test::WaitUntil([this] { return app->Ending(); }, 5000));

    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(app->Ending());
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->written.size(), 8) << "one request: the pass went no further";
    EXPECT_FALSE(app->state().PollInProgress);
    EXPECT_TRUE(op.shown.empty()) << "no question";
    EXPECT_EQ(op.beeps, 0) << "no unload handler";
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Minuterie1.isActive());
    EXPECT_FALSE(main->isVisible());
    EXPECT_FALSE(app->configW()->isVisible());

    // Nothing runs any more: the close box asks nothing, menus do nothing visible.
    window->close();
    main->Mesure_Click();
    EXPECT_TRUE(op.shown.empty());
    EXPECT_EQ(exitCodes.size(), 1u);
}

TEST_F(MERIVALTest, ClosingTheMainWindowEndsTheProgram) {
    StartToMainWindow();
    main->Mesure_Click();
    main->close();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(port->isOpen());
    EXPECT_TRUE(op.shown.empty());
    EXPECT_EQ(op.beeps, 0);
}

TEST(FrenchTexts, QtsOwnButtonsReadOuiAndNon) {
    ASSERT_TRUE(App::InstallFrenchTranslation(*QCoreApplication::instance()));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Oui");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), "&Non");
}

}  // namespace
}  // namespace merival
