#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "engine/MeasurementEngine.h"
#include "instruments/MeasurementResults.h"
#include "measure/MeasureState.h"
#include "measure/ValueFormat.h"
#include "measure/windows/F_Mesure.h"
#include "serial/Transport.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::CurrentTempDir;
using test::FakePort;
using test::ScriptedOperator;
using test::ScriptedReader;

QByteArray Reply(std::initializer_list<int> bytes) {
    QByteArray reply(21, '\0');
    int i = 0;
    for (int b : bytes) {
        reply[i++] = static_cast<char>(b);
    }
    return reply;
}

// A pH station at address 2: 7.02 pH at 21.5 °C.
const QByteArray kPhReply = Reply({2, 3, 16, 0, 0, 0x02, 0xBE, 0, 0, 0, 0, 0, 0xD7});

class F_MesureTest : public ::testing::Test {
protected:
    F_MesureTest()
        : transport(port, settings), engine(transport, reader, store, state, QLatin1Char(',')) {}

    void SetUp() override { state.EscapeKey = QString(QChar(27)); }

    void Select(int k, int type, const QString& address, const QString& tag = {}) {
        store.setSelected(k, 1);
        store.setTypeIndex(k, static_cast<qint16>(type));
        store.setAddress(k, address);
        store.setTag(k, tag);
        store.setBaseBlock(k, true);
    }

    // Created and loaded as the Mesure command does.
    F_Mesure* Open() {
        store.BuildChannelTitles();
        MeasureWindowContext context{
            store, state, settings, engine, op, [this] { ++mainShown; }, [this] { ++ended; }};
        window = new F_Mesure(std::move(context));
        window->Form_Load();
        window->show();
        window->Form_Paint();
        return window;
    }

    int Px(int twips) const { return TwipsToPixels(twips, window->logicalDpiY()); }

    void TearDown() override { delete window.data(); }

    CurrentTempDir dir;
    ChannelStore store;
    SerialSettings settings;
    MeasureState state;
    MeasurementResults results;
    FakePort port;
    Transport transport;
    ScriptedReader reader;
    MeasurementEngine engine;
    ScriptedOperator op;
    QPointer<F_Mesure> window;
    int mainShown = 0;
    int ended = 0;
};

TEST_F(F_MesureTest, LoadSetsCaptionLaysOutTheSelectedRowsAndOpensThePort) {
    Select(3, 2, "2", "Cuve 3");
    settings.Port = 2;
    Open();
    EXPECT_EQ(window->windowTitle(), "MERIVAL   V 2.19 [ Mesure ]");
    EXPECT_EQ(port.opens, 1);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.portNumber(), 2);
    EXPECT_EQ(port.settings_, "9600,n,8,1");
    EXPECT_TRUE(op.shown.empty());

    // Only channel 3: its row is the first, 345 twips below the frame's top.
    PaneDesign design;
    EXPECT_EQ(window->Etiquette3[3]->y(), Px(design.frameTop + 345));
    EXPECT_EQ(window->Etiquette1[3]->y(), Px(design.frameTop + 345));
    EXPECT_EQ(window->Dessin1[3]->y(), Px(design.frameTop + 345 - 60));
    EXPECT_EQ(window->Etiquette3[3]->height(), Px(375));
    EXPECT_EQ(window->Etiquette3[3]->width(), TwipsToPixels(3285, window->logicalDpiX()));
    EXPECT_EQ(window->Etiquette3[3]->x(), TwipsToPixels(5940, window->logicalDpiX()));
    EXPECT_EQ(window->Cadre1->height(), Px(design.frameTop + 345 + 375 + 720));
    // The rows are the frame's: it ends 720 below the last value label.
    for (const QWidget* control : std::initializer_list<const QWidget*>{
             window->Etiquette1[3], window->Etiquette3[3], window->Dessin1[3], window->Dessin2}) {
        EXPECT_EQ(control->parentWidget(), window->Cadre1) << control->objectName().toStdString();
    }
    EXPECT_NEAR(window->Cadre1->height() - window->Etiquette3[3]->geometry().bottom() - 1, Px(720),
                1);
    EXPECT_EQ(window->Dessin2->height(), Px(design.frameTop + 345 + 375 + 720 - 250));
    EXPECT_GT(window->Commande1->y(), window->Cadre1->geometry().bottom());
    EXPECT_EQ(window->Commande1->text(), "ABANDON");
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        const bool shown = n == 3;
        EXPECT_EQ(window->Etiquette1[n]->isVisible(), shown);
        EXPECT_EQ(window->Etiquette3[n]->isVisible(), shown);
        EXPECT_EQ(window->Dessin1[n]->isVisible(), shown);
    }
    EXPECT_EQ(window->Etiquette1[3]->text(), "Cuve 3");
    EXPECT_EQ(window->Etiquette2[0]->text(), "Suivi des mesures");
    EXPECT_EQ(window->Etiquette2[1]->text(), "Suivi des mesures");
}

TEST_F(F_MesureTest, FlowMeterRowIsTallAndTakesTheInstrumentPicture) {
    const QImage picture = [] {
        QImage image(40, 70, QImage::Format_RGB888);
        image.fill(Qt::red);
        return image;
    }();
    struct Row {
        const char* name;
        bool pictureFile;
    };
    for (const Row& row : {Row{"instrum1.bmp present", true}, Row{"instrum1.bmp missing", false}}) {
        SCOPED_TRACE(row.name);
        QFile::remove(dir.filePath("instrum1.bmp"));
        if (row.pictureFile) {
            ASSERT_TRUE(picture.save(dir.filePath("instrum1.bmp"), "BMP"));
        }
        Select(0, 2, "2", "Bassin");
        Select(1, 5, "4", "Débit1");
        store.BuildChannelTitles();
        MeasureWindowContext context{store, state, settings, engine, op, {}, {}};
        window = new F_Mesure(std::move(context));
        window->Form_Load();

        PaneDesign design;
        const int row1 = design.frameTop + 345 + 375 + 345;
        EXPECT_EQ(window->Etiquette3[1]->y(), Px(row1));
        EXPECT_EQ(window->Etiquette3[1]->height(), Px(1125));
        EXPECT_EQ(window->Dessin1[1]->height(), Px(1225));
        EXPECT_EQ(window->Cadre1->height(), Px(row1 + 1125 + 720));
        const QSize shown = window->Dessin1[1]->pixmap().size();
        EXPECT_EQ(shown == picture.size(), row.pictureFile);
        EXPECT_NE(window->Dessin1[0]->pixmap().size(), picture.size());
        // The layout appends the volume headings; the first paint puts the title instead.
        EXPECT_EQ(window->Etiquette1[1]->text(), "\n\nVolume Journalier\n\nVolume Cumulé");
        window->Form_Paint();
        EXPECT_EQ(window->Etiquette1[1]->text(), "Débit1\nVolume Journalier\nVolume Cumulé");
        EXPECT_EQ(window->Etiquette1[0]->text(), "Bassin");
        delete window.data();
    }
}

TEST_F(F_MesureTest, PortThatCannotOpenIsReportedOnceAndChannelsReadHS) {
    Select(0, 2, "2");
    port.openError = "Impossible d'ouvrir COM1 : périphérique absent";
    reader.replies[2] = kPhReply;  // never reached through a closed port in real life
    Open();
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text, port.openError);
    EXPECT_EQ(op.shown[0].title, window->windowTitle());
    EXPECT_EQ(op.shown[0].icon, OperatorIcon::Exclamation);
    EXPECT_EQ(op.beeps, 1);
    EXPECT_TRUE(window->isVisible());

    reader.replies.clear();
    window->Minuterie1_Timer();
    window->Minuterie1_Timer();
    EXPECT_EQ(window->Etiquette3[0]->text(), "HS");
    EXPECT_EQ(op.shown.size(), 1u) << "reported once per opening";
}

TEST_F(F_MesureTest, EachTickWritesTheValueTextsOfTheSelectedChannels) {
    Select(0, 2, "2");
    Select(2, 3, "7");  // silent
    Open();
    window->Etiquette3[1]->setText("inchangé");
    reader.replies[2] = kPhReply;
    window->Minuterie1_Timer();

    MeasurementResults expected;
    DecodePh(kPhReply, expected);
    EXPECT_EQ(window->Etiquette3[0]->text(),
              FormatChannelValue(2, expected, QLatin1Char(',')).replace("\r\n", "\n"));
    EXPECT_NE(window->Etiquette3[0]->text(), "HS");
    EXPECT_EQ(window->Etiquette3[2]->text(), "HS");
    EXPECT_EQ(window->Etiquette3[1]->text(), "inchangé");
    ASSERT_EQ(reader.requests.size(), 2u);
    EXPECT_EQ(reader.requests[1].address, 7);
}

TEST_F(F_MesureTest, AbandonWhileIdleClosesAtOnce) {
    Select(1, 2, "2");
    Open();
    window->Minuterie1.start(1000);
    int unloaded = 0;
    QObject::connect(window.data(), &F_Mesure::unloaded, window.data(), [&] { ++unloaded; });
    window->Commande1->click();
    EXPECT_EQ(state.StopKey, state.EscapeKey);
    EXPECT_FALSE(window->Minuterie1.isActive());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(unloaded, 1);
    EXPECT_TRUE(window->Unloaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(op.beeps, 1);
    EXPECT_TRUE(op.shown.empty()) << "no question for the program's own unload";
    EXPECT_EQ(mainShown, 1);
    EXPECT_EQ(ended, 0);
    test::WaitUntil([this] { return window.isNull(); }, 5000);
    EXPECT_TRUE(window.isNull()) << "the window destroys itself";
}

TEST_F(F_MesureTest, AbandonDuringAPassStopsAfterTheCurrentChannel) {
    Select(0, 2, "2");
    Select(1, 2, "3");
    Select(2, 2, "4");
    Open();
    window->Minuterie1.start(1000);
    reader.replies = {{2, kPhReply}, {3, kPhReply}, {4, kPhReply}};
    // The click arrives while channel 1 waits for its reply.
    reader.duringExchange = [this] {
        reader.duringExchange = [this] {
            EXPECT_TRUE(state.PollInProgress);
            window->Commande1_Click();
        };
    };
    window->Minuterie1_Timer();
    EXPECT_EQ(reader.requests.size(), 2u) << "channel 2 is not polled";
    EXPECT_NE(window->Etiquette3[1]->text(), "") << "channel 1 is finished";
    EXPECT_EQ(window->Etiquette3[2]->text(), "");
    EXPECT_FALSE(state.PollInProgress);
    EXPECT_TRUE(port.isOpen());
    EXPECT_FALSE(window->Unloaded());
    EXPECT_EQ(mainShown, 0);
    EXPECT_EQ(op.beeps, 0);

    // The next tick carries the stop out.
    window->Minuterie1_Timer();
    EXPECT_EQ(reader.requests.size(), 2u);
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(window->Unloaded());
    EXPECT_EQ(mainShown, 1);
    EXPECT_EQ(op.beeps, 1);
}

TEST_F(F_MesureTest, CloseBoxAnsweredNoKeepsMeasuringAndNoPassRunsUnderTheQuestion) {
    Select(0, 2, "2");
    Open();
    window->Minuterie1.start(1000);
    op.answers = {false};
    EXPECT_FALSE(window->close());
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_TRUE(op.shown[0].question);
    EXPECT_EQ(op.shown[0].text, "Voulez-vous vraiment quitter l'application ?");
    EXPECT_EQ(op.shown[0].title, "MERIVAL   V 2.19 [ Mesure ]");
    EXPECT_EQ(op.shown[0].icon, OperatorIcon::Question);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->Minuterie1.isActive());
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(ended, 0);

    reader.replies[2] = kPhReply;
    window->Minuterie1_Timer();
    EXPECT_NE(window->Etiquette3[0]->text(), "");
    EXPECT_NE(window->Etiquette3[0]->text(), "HS");

    // A tick while the question is on screen starts no pass: "Oui" would wait for it.
    op.answers = {true};
    op.duringQuestion = [this] { window->Minuterie1_Timer(); };
    EXPECT_FALSE(window->close());
    EXPECT_EQ(reader.requests.size(), 1u);
    EXPECT_EQ(ended, 1);
}

TEST_F(F_MesureTest, CloseBoxAnsweredYesDuringAPassEndsTheProgram) {
    Select(0, 2, "2");
    Select(1, 2, "3");
    Select(3, 2, "5");
    Open();
    window->Minuterie1.start(1000);
    op.answers = {true};
    reader.replies = {{2, kPhReply}, {3, kPhReply}, {5, kPhReply}};
    reader.duringExchange = [this] { window->close(); };
    window->Minuterie1_Timer();

    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(reader.requests.size(), 1u) << "the pass went no further";
    EXPECT_FALSE(state.PollInProgress);
    ASSERT_FALSE(window.isNull()) << "not deleted under the pass";
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Minuterie1.isActive());
    EXPECT_EQ(op.beeps, 0) << "no unload handler ran";
    ASSERT_EQ(op.shown.size(), 1u);

    // Nothing of the window runs any more.
    window->Minuterie1_Timer();
    window->Commande1_Click();
    window->close();
    EXPECT_EQ(reader.requests.size(), 1u);
    EXPECT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(mainShown, 0);
}

TEST_F(F_MesureTest, TagsOnTheWindowBackgroundElidedAndRepaintedWhenTheTitlesChange) {
    const QString longTag =
        QStringLiteral("Bassin de décantation numéro trois, sortie vers la station d'épuration");
    Select(0, 2, "2", "Cuve");
    Select(1, 5, "4", longTag);
    Open();
    window->showMaximized();
    ASSERT_TRUE(test::WaitUntil(
        [this] {
            return window->frameGeometry().size() == window->screen()->availableGeometry().size();
        },
        10000));
    QLabel* flow = window->Etiquette1[1];
    const QStringList lines = flow->text().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(QChar(0x2026))) << lines[0].toStdString();
    EXPECT_TRUE(longTag.startsWith(lines[0].chopped(1)));
    EXPECT_LE(flow->fontMetrics().horizontalAdvance(lines[0]), flow->contentsRect().width());
    EXPECT_EQ(lines[1], "Volume Journalier");
    EXPECT_EQ(flow->toolTip(), longTag);
    EXPECT_EQ(window->Etiquette1[0]->text(), "Cuve");
    EXPECT_TRUE(window->Etiquette1[0]->toolTip().isEmpty());

    // The system's window colours, not the dialog grey.
    const QPalette system = QApplication::palette(flow);
    EXPECT_TRUE(flow->autoFillBackground());
    EXPECT_EQ(flow->palette().color(QPalette::Window), system.color(QPalette::Base));
    EXPECT_EQ(flow->palette().color(QPalette::WindowText), system.color(QPalette::Text));

    // OK in the configuration dialog rebuilds the titles: the window shows them with no resize
    // and no call from the test.
    const QSize size = window->size();
    store.setTag(0, "Cuve neuve");
    test::WaitUntil([] { return false; }, 300);  // the repaints the edit asked for
    EXPECT_EQ(window->Etiquette1[0]->text(), "Cuve") << "an edit counts from the titles";
    store.BuildChannelTitles();
    EXPECT_TRUE(
        test::WaitUntil([this] { return window->Etiquette1[0]->text() == "Cuve neuve"; }, 10000));
    EXPECT_EQ(window->size(), size);
}

TEST_F(F_MesureTest, RowVisibilityFollowsTheSelectionAtEachRepaint) {
    Select(0, 2, "2", "A");
    Select(2, 2, "3", "C");
    Open();
    const int row2Top = window->Etiquette3[2]->y();
    store.setSelected(2, 0);
    store.setSelected(1, 1);
    store.setTag(1, "B");
    store.BuildChannelTitles();
    window->Form_Paint();
    EXPECT_FALSE(window->Etiquette3[2]->isVisible());
    EXPECT_FALSE(window->Dessin1[2]->isVisible());
    EXPECT_TRUE(window->Etiquette1[1]->isVisible());
    EXPECT_EQ(window->Etiquette1[1]->text(), "B");
    EXPECT_EQ(window->Etiquette3[2]->y(), row2Top) << "rows move only at load";

    // A real repaint does the same.
    store.setSelected(1, 0);
    EXPECT_TRUE(test::WaitUntil([this] { return !window->Etiquette1[1]->isVisible(); }, 10000));
}

TEST_F(F_MesureTest, ARowInAlarmBlinksUntilAcknowledgedAndOthersLookAsBefore) {
    Select(0, 2, "2", "A");
    Select(1, 2, "3", "B");
    Open();
    const auto colours = [&](int n) {
        const QPalette p = window->Etiquette3[static_cast<size_t>(n)]->palette();
        return std::pair{p.color(QPalette::Window), p.color(QPalette::WindowText)};
    };
    const auto normal = std::pair{QColor(0, 0, 192), QColor(255, 255, 0)};
    EXPECT_EQ(colours(1), normal);
    EXPECT_FALSE(window->Acquitter->isVisible());
    int acknowledged = 0;
    QObject::connect(window, &F_Mesure::acknowledge, window, [&] { ++acknowledged; });

    window->setRowAlarm(1, RowAlarm::Unacknowledged);
    const auto alarm = std::pair{QColor(176, 0, 0), QColor(Qt::white)};
    EXPECT_EQ(colours(1), alarm);
    EXPECT_EQ(colours(0), normal);
    ASSERT_TRUE(window->Acquitter->isVisible());
    EXPECT_TRUE(test::WaitUntil([&] { return colours(1) == normal; }, 5000)) << "blinks";
    EXPECT_TRUE(test::WaitUntil([&] { return colours(1) == alarm; }, 5000));
    window->Acquitter->click();
    EXPECT_EQ(acknowledged, 1);

    window->setRowAlarm(1, RowAlarm::Acknowledged);
    EXPECT_FALSE(window->Acquitter->isVisible());
    EXPECT_FALSE(window->Clignotement.isActive()) << "steady";
    EXPECT_EQ(colours(1), alarm);
    window->setRowAlarm(1, RowAlarm::ReturnedUnacknowledged);
    EXPECT_EQ(colours(1), (std::pair{QColor(255, 176, 0), QColor(Qt::black)}));
    window->setRowAlarm(1, RowAlarm::None);
    EXPECT_EQ(colours(1), normal);
    EXPECT_FALSE(window->Acquitter->isVisible());
}

}  // namespace
}  // namespace merival
