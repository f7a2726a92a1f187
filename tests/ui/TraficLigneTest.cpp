#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetrics>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "diagnostics/ExchangeLog.h"
#include "diagnostics/windows/TraficLigne.h"
#include "instruments/Frame.h"

namespace merival {
namespace {

QByteArray Reply(quint8 address) {
    QByteArray frame =
        QByteArray(1, char(address)) + QByteArray::fromHex("0310") + QByteArray(16, '\x01');
    return frame + FrameCrc(frame);
}

class TraficLigneTest : public ::testing::Test {
protected:
    TraficLigneTest() { window.show(); }

    // Exchanges with channels 0, 1, 2, 3, 0, ...; every fifth one is a silence.
    void Exchange(int count) {
        for (int i = 0; i < count; ++i, ++made) {
            ExchangeRecord r;
            r.time = 1700000000000 + made;
            r.request = BuildReadRequest(quint8(1 + made % 4), 3, 0, 8).frame;
            r.expectedLength = 21;
            if (made % 5 != 4) {
                r.reply = Reply(quint8(1 + made % 4));
                r.lastByteMs = 25;
            }
            log.setChannel(made % 4);
            log.exchanged(r);
        }
    }

    QString Cell(int row, int column) const {
        const auto* model = window.Echanges->model();
        return model->index(row, column).data().toString();
    }
    int Rows() const { return window.Echanges->model()->rowCount(); }

    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    ExchangeLog log;
    TraficLigne window{log, op};
    int made = 0;
};

TEST_F(TraficLigneTest, FollowsTheLineUnlessScrolledOrPausedAndFaultsStandOut) {
    Exchange(300);
    window.Refresh();
    ASSERT_EQ(Rows(), 300);
    EXPECT_EQ(Cell(299, 4), "Silence");  // the newest at the bottom
    EXPECT_EQ(Cell(298, 4), "OK");
    EXPECT_TRUE(window.Following());
    const QModelIndex ok = window.Echanges->model()->index(298, 4);
    const QModelIndex silence = window.Echanges->model()->index(299, 4);
    EXPECT_FALSE(ok.data(Qt::BackgroundRole).isValid());
    EXPECT_TRUE(silence.data(Qt::BackgroundRole).isValid());
    EXPECT_EQ(window.Statistiques->item(1, 1)->text(), "75");  // Voie 1: requests
    EXPECT_EQ(window.Statistiques->item(0, 3)->text(), "15");  // Voie 0: silences
    // A whole reply fits its column: no byte cut out of the middle.
    const QModelIndex reply = window.Echanges->model()->index(298, 7);
    const QFontMetrics fixed(reply.data(Qt::FontRole).value<QFont>());
    EXPECT_GE(window.Echanges->columnWidth(7), fixed.horizontalAdvance(reply.data().toString()));

    // The operator scrolls up: the rows stay where they are while exchanges come.
    QScrollBar* bar = window.Echanges->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const int reading = bar->value();
    Exchange(20);
    window.Refresh();
    EXPECT_EQ(Rows(), 320);
    EXPECT_EQ(bar->value(), reading);
    EXPECT_FALSE(window.Following());
    // At capacity the oldest rows go, and the row read at the top stays at the top.
    const QString topTime = Cell(window.Echanges->rowAt(0), 0);
    Exchange(ExchangeLog::kCapacity - 250);
    window.Refresh();
    EXPECT_EQ(Rows(), ExchangeLog::kCapacity);
    EXPECT_EQ(Cell(window.Echanges->rowAt(0), 0), topTime);
    EXPECT_FALSE(window.Following());
    bar->setValue(bar->maximum());
    EXPECT_TRUE(window.Following());

    // Paused: nothing moves; released: everything that came meanwhile, and following again.
    window.Pause->click();
    Exchange(10);
    window.Refresh();
    EXPECT_EQ(Rows(), ExchangeLog::kCapacity);
    EXPECT_FALSE(window.Following());
    window.Pause->click();
    EXPECT_EQ(Cell(Rows() - 1, 0), TimeText(1700000000000 + made - 1));
    EXPECT_TRUE(window.Following());
    EXPECT_EQ(window.Statistiques->item(1, 1)->text(), "2520");

    // Bytes that trail a reply already shown turn its row into a fault.
    Exchange(1);
    window.Refresh();
    log.trailing("\xAA\xBB");
    window.Refresh();
    EXPECT_EQ(Cell(Rows() - 1, 4), "Réponse trop longue");
    EXPECT_TRUE(Cell(Rows() - 1, 7).endsWith("+ AA BB"));
}

TEST_F(TraficLigneTest, FilterClearAndSave) {
    Exchange(40);
    window.Refresh();
    window.FiltreVoie->setCurrentIndex(2);  // "Voie 1"
    ASSERT_EQ(Rows(), 10);
    for (int row = 0; row < Rows(); ++row) {
        EXPECT_EQ(Cell(row, 1), "Voie 1");
        EXPECT_EQ(Cell(row, 2), "2");
    }

    const QString path = dir.filePath("trafic.txt");
    window.setFileChooser([&path] { return path; });
    window.Enregistrer->click();
    const QStringList lines = QString::fromUtf8(dir.read("trafic.txt")).split(u'\n');
    ASSERT_GE(lines.size(), 20);
    EXPECT_TRUE(lines[0].startsWith("Trafic de la ligne, "));
    EXPECT_TRUE(lines[3].startsWith("Voie 0  10  "));  // statistics of every channel
    const qsizetype headings = lines.indexOf(ExchangeHeadings().join(u'\t'));
    ASSERT_GT(headings, 0);
    EXPECT_EQ(lines.size() - headings - 2, 10);  // the rows the filter shows
    EXPECT_TRUE(lines[headings + 1].contains("\tVoie 1\t2\tBase\tOK\t25 ms\t02 03 00 00 00 08 | "));

    // A file that cannot be written is reported; nothing else happens.
    window.setFileChooser([this] { return dir.filePath("missing/trafic.txt"); });
    window.Enregistrer->click();
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_TRUE(op.shown[0].text.contains("trafic.txt"));
    EXPECT_EQ(op.beeps, 1);

    window.Effacer->click();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(log.size(), 0);
    EXPECT_EQ(window.Statistiques->item(1, 1)->text(), "10");  // counters have their own reset
    window.RemiseAZero->click();
    EXPECT_EQ(window.Statistiques->item(1, 1)->text(), "0");
    Exchange(4);
    window.Refresh();
    EXPECT_EQ(Rows(), 1);
}

}  // namespace
}  // namespace merival
