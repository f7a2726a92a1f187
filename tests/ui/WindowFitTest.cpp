#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QtCharts/QChartView>

#include "base/Operator.h"
#include "base/windows/WindowFit.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "config/windows/ConfigW.h"
#include "history/HistoryRecorder.h"
#include "history/windows/TrendWindow.h"
#include "serial/SerialSettings.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

TEST(WindowFit, WindowsGoOverTheirOwnerAndStayOnTheScreen) {
    const QRect screen(0, 0, 1024, 768);
    // Centred on the owner.
    EXPECT_EQ(PlaceWindow({400, 300}, {0, 0, 1024, 768}, screen), QRect(312, 234, 400, 300));
    // Too large: cut to the screen.
    EXPECT_EQ(PlaceWindow({1116, 690}, {0, 0, 1024, 768}, screen), QRect(0, 39, 1024, 690));
    // An owner in a corner: pushed back inside, the title bar first.
    EXPECT_EQ(PlaceWindow({500, 600}, {700, 500, 400, 400}, screen), QRect(524, 168, 500, 600));
    EXPECT_EQ(PlaceWindow({500, 600}, {-300, -200, 400, 300}, screen), QRect(0, 0, 500, 600));
    // No owner: the middle of the screen, on the second screen too.
    EXPECT_EQ(PlaceWindow({200, 100}, {}, {1024, 0, 1280, 800}), QRect(1564, 350, 200, 100));

    EXPECT_EQ(KeepGuillemets(QStringLiteral("Le fichier « a b » est lu « c »")),
              QStringLiteral("Le fichier «\u00A0a b\u00A0» est lu «\u00A0c\u00A0»"));
}

// Every window reached from the main window's menus opens over it, whole on its screen.
TEST(WindowFit, MenuWindowsOpenOnTheMainWindowsScreen) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(dir.write("config.txt", WriteChannelConfigText({})));
    ASSERT_TRUE(dir.write("PortCom.dat", WriteSerialSettingsText({})));
    test::ScriptedOperator op;
    AppOptions options;
    options.op = &op;
    options.port = std::make_unique<test::FakePort>();
    options.exit = [](int) {};
    App app(std::move(options));
    app.Start();
    app.configW()->Commande1_Click();
    MERIVAL* main = app.mainWindow();
    ASSERT_NE(main, nullptr);
    // Maximised and active, as a window manager leaves it.
    const QRect available = main->screen()->availableGeometry();
    main->setGeometry(available);
    QApplication::setActiveWindow(main);
    const struct {
        QMenu* menu;
        const char* action;
        const char* window;
        bool escapes;  // Escape closes it
    } rows[] = {
        {main->Alarmes, "&Seuils…", "Seuils", true},
        {main->Alarmes, "&Journal", "JournalAlarmes", true},
        {main->Config, "&Publication MQTT", "PublishDialog", true},
        {main->Config, "&Liaison Série", "ConfLS", true},
        {main->Historique, "&Courbes", "TrendWindow", false},
        {main->Historique, "E&xporter…", nullptr, true},
        {main->Diagnostic, "&Trafic de la ligne", "TraficLigne", false},
        {main->Logger, "&Extraction Données", "Extraction", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.action);
        QAction* action = nullptr;
        for (QAction* a : row.menu->actions()) {
            if (a->text() == QString::fromUtf8(row.action)) {
                action = a;
            }
        }
        ASSERT_NE(action, nullptr);
        action->trigger();
        QWidget* window = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w != main &&
                (row.window == nullptr ? w->windowTitle() == "Historique - Exporter"
                                       : w->objectName() == QString::fromUtf8(row.window))) {
                window = w;
            }
        }
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(available.contains(window->frameGeometry()))
            << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
            << window->frameGeometry().width() << "x" << window->frameGeometry().height();
        // Over its owner, within the frame that a window manager adds.
        EXPECT_LE(
            (window->frameGeometry().center() - main->frameGeometry().center()).manhattanLength(),
            40);
        window->hide();
    }
}

ChannelReading Reading(int channel, qint64 ms, int numbers) {
    ChannelReading r;
    r.time = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    r.channel = channel;
    r.tag = QStringLiteral("Bassin de décantation n° %1").arg(channel);
    r.typeName = QStringLiteral("Débitmètre");
    r.ok = true;
    r.text = QStringLiteral("…");
    for (int n = 0; n < numbers; ++n) {
        r.numbers.append({QStringLiteral("Volume cumulé %1").arg(n), 5062320.4 + n, "m3"});
    }
    return r;
}

// Many curves under the cursor make a long read-out: it is cut, never widens the window, and
// its tooltip holds it whole with the numbers as an operator writes them.
TEST(TrendWindowFit, ReadOutNeverSizesTheWindowAndFieldsFollowOrChoose) {
    test::CurrentTempDir dir;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        HistoryRecorder recorder(dir.filePath("historique.sqlite"), 400);
        recorder.Start();
        for (int pass = 0; pass < 3; ++pass) {
            for (int channel = 0; channel < 4; ++channel) {
                recorder.Add(Reading(channel, now - 600000 + pass * 1000, 3));
            }
            recorder.EndPass();
        }
        recorder.WaitWritten();
    }
    TrendWindow trend(dir.filePath("historique.sqlite"), u',');
    trend.resize(700, 600);
    trend.show();
    const int width = trend.width();
    ASSERT_TRUE(test::WaitUntil([&] { return trend.data().series.size() == 12; }, 10000));

    // The last hour: the readings of a pass share the column under the cursor.
    trend.ShowPeriod(TrendWindow::LastHour);
    ASSERT_TRUE(test::WaitUntil(
        [&] { return trend.shownPeriod().toMs - trend.shownPeriod().fromMs < 3700000; }, 10000));
    const QString whole = trend.ValuesAt(now - 599000);
    EXPECT_TRUE(whole.contains("Voie 3 Volume cumulé 2 : 5062322 m3")) << whole.toStdString();
    EXPECT_FALSE(whole.contains("e+")) << whole.toStdString();

    QChartView* view = trend.chartView();
    const QRectF area = view->chart()->plotArea();
    const HistoryPeriod shown = trend.shownPeriod();
    const QPointF inChart(area.left() + area.width() * double(now - 599000 - shown.fromMs) /
                                            double(shown.toMs - shown.fromMs),
                          area.center().y());
    const QPointF at = view->mapFromScene(view->chart()->mapToScene(inChart));
    QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QCoreApplication::processEvents();
    EXPECT_TRUE(trend.Curseur->toolTip().contains("Voie 3 Volume cumulé 2 : 5062322 m3"))
        << trend.Curseur->toolTip().toStdString();
    EXPECT_TRUE(trend.Curseur->toolTip().contains("Voie 0 Volume cumulé 0"));
    EXPECT_EQ(trend.width(), width);
    EXPECT_LE(trend.Curseur->width(), width);
    EXPECT_LE(trend.minimumSizeHint().width(), width);

    // The fields show the period drawn; a date typed there is the period chosen.
    EXPECT_LE(std::abs(trend.Debut->dateTime().toMSecsSinceEpoch() - trend.shownPeriod().fromMs),
              60000);
    const QDateTime typed(QDate::currentDate().addDays(-2), QTime(8, 0));
    trend.Debut->setFocus();
    trend.Debut->setDateTime(typed);
    ASSERT_TRUE(test::WaitUntil(
        [&] { return trend.shownPeriod().fromMs == typed.toMSecsSinceEpoch(); }, 10000));
    EXPECT_EQ(trend.Periode->currentIndex(), TrendWindow::Chosen);

    // The saved picture names the period and the channels' tags.
    EXPECT_TRUE(trend.ImageCaption().startsWith(
        QStringLiteral("Du %1").arg(typed.toString("dd/MM/yyyy HH:mm:ss"))))
        << trend.ImageCaption().toStdString();
    EXPECT_TRUE(trend.ImageCaption().contains("Voie 2 « Bassin de décantation n° 2 »"));
    ASSERT_TRUE(trend.SaveImage(dir.filePath("courbes.png")));
    const QImage saved(dir.filePath("courbes.png"));
    EXPECT_GT(saved.height(), trend.chartView()->height()) << "a caption above the chart";
}

}  // namespace
}  // namespace merival
