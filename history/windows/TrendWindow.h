#pragma once

#include <QPointer>
#include <QWidget>
#include <array>

#include "history/HistoryQuery.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QThread;
class QTimer;

namespace merival {

class TrendChartView;

// "Courbes": one curve per recorded number of the chosen channels over a period, read by a
// thread of its own so that the window never waits on the disk.
class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(QString databasePath, QChar decimal, QWidget* parent = nullptr);
    ~TrendWindow() override;

    enum Period { LastHour, Day, Week, Month, Chosen };
    // Shows the period (Chosen: the from-to fields) and asks for its data.
    void ShowPeriod(Period period);
    // Asks again for the period shown (live update, zoom, pan).
    void Refresh();
    // The chart as a PNG file, under a line naming the period and the channels' tags; false
    // when it could not be written.
    bool SaveImage(const QString& path);
    [[nodiscard]] QString ImageCaption() const;

    [[nodiscard]] const TrendData& data() const { return data_; }
    [[nodiscard]] HistoryPeriod shownPeriod() const { return shown_; }
    // The values under a time, one line per curve, as the cursor shows them.
    [[nodiscard]] QString ValuesAt(qint64 ms) const;
    // Puts them in the read-out, as the cursor does.
    void ShowValuesAt(qint64 ms);

    QComboBox* Periode = nullptr;
    QDateTimeEdit* Debut = nullptr;
    QDateTimeEdit* Fin = nullptr;
    std::array<QCheckBox*, 4> Voie{};
    QPushButton* Image = nullptr;
    // The values under the cursor, cut to the window's width (whole in its tooltip).
    QLabel* Curseur = nullptr;
    QChartView* chartView() const;

Q_SIGNALS:
    // The data of a request arrived and is drawn.
    void drawn();

protected:
    // A hidden window asks for nothing.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Query(HistoryPeriod period);
    void Draw(const TrendData& data, HistoryPeriod period);
    // Labels at round values and times, as many as the plot area holds.
    void UpdateTicks();
    void ShowInFields(HistoryPeriod period);
    void ChooseTypedPeriod();
    void SaveImageClick();
    HistoryPeriod CurrentPeriod() const;

    QString path_;
    QChar decimal_;
    QThread* reader_ = nullptr;
    QObject* readerContext_ = nullptr;
    TrendChartView* view_ = nullptr;
    QTimer* live_ = nullptr;
    QTimer* settle_ = nullptr;
    int generation_ = 0;
    bool zoomed_ = false;
    bool showingFields_ = false;
    TrendData data_;
    HistoryPeriod shown_;
};

}  // namespace merival
