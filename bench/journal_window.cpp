// What one alarm event costs the window thread while "Alarmes > Journal" shows 100,000
// events: the event added on top of the table; the whole list shown again in the model; and
// the table of 600,000 items, columns fitted to their contents, that each event rebuilt before
// (the journal's read of the rows, on its own thread, not counted). Offscreen platform unless
// another is set.
//
//   bench_journal_window

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "alarms/windows/AlarmJournalWindow.h"

using namespace merival;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    constexpr int kShown = 100000;
    const QDateTime start = QDateTime::currentDateTimeUtc();
    QList<AlarmEvent> events;
    for (int i = kShown; i > 0; --i) {
        events.append({start.addSecs(i), i % 4, QStringLiteral("Bassin"),
                       QStringLiteral("%1 pH").arg(i % 14), alarm_event::kHigh});
    }
    AlarmJournalModel model(kShown);
    // Set up as the window sets it up: rows of one height, no row numbers.
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->hide();
    view.setWordWrap(false);
    view.resize(800, 480);
    view.show();

    std::vector<double> reloads;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        model.SetEntries(events);
        view.repaint();
        QCoreApplication::processEvents();
        reloads.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(reloads.begin(), reloads.end());

    std::vector<double> rebuilt;
    QTableWidget items(0, 6);
    items.resize(800, 480);
    items.show();
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        items.setRowCount(kShown);
        for (int row = 0; row < kShown; ++row) {
            const AlarmEvent& e = events[row];
            const QDateTime local = e.time.toLocalTime();
            const QStringList cells = {local.toString(QStringLiteral("dd/MM/yyyy")),
                                       local.toString(QStringLiteral("HH:mm:ss")),
                                       QString::number(e.channel),
                                       e.tag,
                                       e.text,
                                       e.event};
            for (int column = 0; column < 6; ++column) {
                items.setItem(row, column, new QTableWidgetItem(cells[column]));
            }
        }
        items.resizeColumnsToContents();
        items.repaint();
        QCoreApplication::processEvents();
        rebuilt.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(rebuilt.begin(), rebuilt.end());
    items.hide();

    constexpr int kAdded = 2000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kAdded; ++i) {
        model.AddNewest({start.addSecs(kShown + i), 2, QStringLiteral("Sortie"),
                         QStringLiteral("9,1 pH"), alarm_event::kLow});
        view.repaint();
        QCoreApplication::processEvents();
    }
    const double added = double(t.nsecsElapsed()) / 1e3 / kAdded;
    std::printf("journal window with %d events shown, one new event:\n", kShown);
    std::printf("  added on top:          %8.1f us (mean of %d, repaint included)\n", added,
                kAdded);
    std::printf("  whole list shown again: %7.1f ms (median of 5, repaint included)\n",
                reloads[reloads.size() / 2]);
    std::printf("  600,000 items rebuilt:  %7.1f ms (median of 3, as before)\n",
                rebuilt[rebuilt.size() / 2]);
    return 0;
}
