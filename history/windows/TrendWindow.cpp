#include "history/windows/TrendWindow.h"

#include <QCategoryAxis>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSqlDatabase>
#include <QThread>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>
#include <QtCharts/QChartView>
#include <functional>

#include "base/windows/WindowFit.h"
#include "history/Storage.h"
#include "history/TrendAxes.h"
#include "shell/FileDialogs.h"

namespace merival {

// Wheel: zoom on the time axis around the cursor; drag: pan; double click: back to the
// period; the time under the cursor is reported.
class TrendChartView : public QChartView {
public:
    std::function<void(qint64 from, qint64 to)> rangeChosen;
    std::function<void()> reset;
    std::function<void(qint64 ms)> hovered;

    using QChartView::QChartView;

protected:
    void wheelEvent(QWheelEvent* event) override {
        const auto [from, to] = Range();
        const double at = TimeAt(event->position());
        const double factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
        if (to > from && rangeChosen) {
            rangeChosen(qint64(at - (at - from) * factor), qint64(at + (to - at) * factor));
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        dragX_ = event->position().x();
        dragging_ = event->button() == Qt::LeftButton;
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (dragging_) {
            chart()->scroll(dragX_ - event->position().x(), 0);
            dragX_ = event->position().x();
            moved_ = true;
        }
        if (hovered) {
            hovered(qint64(TimeAt(event->position())));
        }
    }
    void mouseReleaseEvent(QMouseEvent*) override {
        if (dragging_ && moved_ && rangeChosen) {
            const auto [from, to] = Range();
            rangeChosen(qint64(from), qint64(to));
        }
        dragging_ = moved_ = false;
    }
    void mouseDoubleClickEvent(QMouseEvent*) override {
        if (reset) {
            reset();
        }
    }

private:
    std::pair<double, double> Range() const {
        const auto axes = chart()->axes(Qt::Horizontal);
        const auto* axis = axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
        return axis == nullptr ? std::pair{0.0, 0.0} : std::pair{axis->min(), axis->max()};
    }
    double TimeAt(QPointF position) const {
        const auto [from, to] = Range();
        const QRectF area = chart()->plotArea();
        const double x = chart()->mapFromScene(mapToScene(position.toPoint())).x();
        return area.width() <= 0 ? from : from + (x - area.left()) / area.width() * (to - from);
    }

    double dragX_ = 0;
    bool dragging_ = false;
    bool moved_ = false;
};

namespace {

const QString kConnection = QStringLiteral("merival-history-courbes");
constexpr qint64 kHourMs = 3600LL * 1000;

const QString kDateFormat = QStringLiteral("dd/MM/yyyy HH:mm");

// One line that never asks for width: it is cut to what the window gives it, and the tooltip
// holds it whole.
class ReadOut : public QLabel {
public:
    explicit ReadOut(QWidget* parent) : QLabel(parent) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setMinimumWidth(0);
    }
    void setWholeText(const QString& text) {
        whole_ = text;
        setToolTip(text);
        Elide();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Elide();
    }

private:
    void Elide() {
        setText(fontMetrics().elidedText(whole_, Qt::ElideRight, contentsRect().width()));
    }

    QString whole_;
};

// The axis' labels and grid lines at the given marks only.
void SetTicks(QCategoryAxis* axis, const QList<AxisTick>& ticks) {
    for (const QString& label : axis->categoriesLabels()) {
        axis->remove(label);
    }
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setStartValue(axis->min());
    for (const AxisTick& tick : ticks) {
        if (tick.at > axis->min() && tick.at <= axis->max()) {
            axis->append(tick.label, tick.at);
        }
    }
}

}  // namespace

TrendWindow::TrendWindow(QString databasePath, QChar decimal, QWidget* parent)
    : QWidget(parent), path_(std::move(databasePath)), decimal_(decimal) {
    setWindowTitle(QStringLiteral("Historique - Courbes"));
    setObjectName(QStringLiteral("TrendWindow"));
    resize(1000, 650);
    PlaceOnOwnerWhenShown(this);

    Periode = new QComboBox(this);
    Periode->setObjectName(QStringLiteral("Periode"));
    Periode->addItems({QStringLiteral("Dernière heure"), QStringLiteral("24 heures"),
                       QStringLiteral("7 jours"), QStringLiteral("30 jours"),
                       QStringLiteral("Du … au …")});
    Debut = new QDateTimeEdit(QDateTime::currentDateTime().addDays(-1), this);
    Fin = new QDateTimeEdit(QDateTime::currentDateTime(), this);
    for (QDateTimeEdit* edit : {Debut, Fin}) {
        edit->setObjectName(edit == Debut ? QStringLiteral("Debut") : QStringLiteral("Fin"));
        edit->setDisplayFormat(kDateFormat);
        edit->setCalendarPopup(true);
        // A date being typed is taken once whole (Enter, leaving the field, or the calendar).
        edit->setKeyboardTracking(false);
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, &TrendWindow::ChooseTypedPeriod);
    }
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Période :"), this));
    bar->addWidget(Periode);
    bar->addWidget(Debut);
    bar->addWidget(new QLabel(QStringLiteral("au"), this));
    bar->addWidget(Fin);
    bar->addStretch();
    // The channels and the picture on a second line: both fit a 1024-pixel screen.
    auto* channels = new QHBoxLayout;
    for (int n = 0; n < 4; ++n) {
        Voie[n] = new QCheckBox(QStringLiteral("Voie %1").arg(n), this);
        Voie[n]->setChecked(true);
        connect(Voie[n], &QCheckBox::toggled, this, [this] { Refresh(); });
        channels->addWidget(Voie[n]);
    }
    channels->addStretch();
    Image = new QPushButton(QStringLiteral("Enregistrer l'image"), this);
    Image->setObjectName(QStringLiteral("Image"));
    channels->addWidget(Image);
    connect(Image, &QPushButton::clicked, this, &TrendWindow::SaveImageClick);

    view_ = new TrendChartView(new QChart, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->chart()->legend()->setAlignment(Qt::AlignBottom);
    connect(view_->chart(), &QChart::plotAreaChanged, this, &TrendWindow::UpdateTicks,
            Qt::QueuedConnection);
    view_->rangeChosen = [this](qint64 from, qint64 to) {
        zoomed_ = true;
        Query({from, std::max(to, from + 1000)});
    };
    view_->reset = [this] { ShowPeriod(Period(Periode->currentIndex())); };
    auto* readOut = new ReadOut(this);
    Curseur = readOut;
    Curseur->setObjectName(QStringLiteral("Curseur"));
    readOut->setWholeText(
        QStringLiteral("Molette : zoom ; glisser : déplacer ; double clic : période "
                       "entière."));
    view_->hovered = [this](qint64 ms) { ShowValuesAt(ms); };
    view_->setMouseTracking(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(channels);
    layout->addWidget(view_, 1);
    layout->addWidget(Curseur);

    connect(Periode, &QComboBox::currentIndexChanged, this,
            [this](int index) { ShowPeriod(Period(index)); });

    reader_ = new QThread(this);
    readerContext_ = new QObject;
    readerContext_->moveToThread(reader_);
    reader_->start();

    live_ = new QTimer(this);
    connect(live_, &QTimer::timeout, this, [this] {
        if (!zoomed_ && Periode->currentIndex() != Chosen) {
            Query(CurrentPeriod());
        }
    });
    Periode->setCurrentIndex(Day);
    ShowPeriod(Day);
}

TrendWindow::~TrendWindow() {
    QMetaObject::invokeMethod(
        readerContext_, [] { CloseStorage(kConnection); }, Qt::BlockingQueuedConnection);
    reader_->quit();
    reader_->wait();
    delete readerContext_;
}

void TrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (Periode->currentIndex() != Chosen) {
        live_->start();
    }
}

void TrendWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    live_->stop();
}

QChartView* TrendWindow::chartView() const {
    return view_;
}

HistoryPeriod TrendWindow::CurrentPeriod() const {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    switch (Period(Periode->currentIndex())) {
        case LastHour:
            return {now - kHourMs, now};
        case Day:
            return {now - 24 * kHourMs, now};
        case Week:
            return {now - 7 * 24 * kHourMs, now};
        case Month:
            return {now - 30 * 24 * kHourMs, now};
        case Chosen:
            break;
    }
    return {Debut->dateTime().toMSecsSinceEpoch(), Fin->dateTime().toMSecsSinceEpoch()};
}

void TrendWindow::ShowPeriod(Period period) {
    if (Periode->currentIndex() != period) {
        Periode->setCurrentIndex(period);  // comes back here
        return;
    }
    zoomed_ = false;
    const HistoryPeriod shown = CurrentPeriod();
    // Fresh data about every pixel column, between 2 s and a minute.
    live_->setInterval(int(std::clamp<qint64>((shown.toMs - shown.fromMs) / 1000, 2000, 60000)));
    if (period == Chosen || !isVisible()) {
        live_->stop();
    } else {
        live_->start();
    }
    Query(shown);
}

void TrendWindow::ChooseTypedPeriod() {
    if (showingFields_) {
        return;
    }
    if (Periode->currentIndex() != Chosen) {
        Periode->setCurrentIndex(Chosen);  // shows the period typed
    } else {
        ShowPeriod(Chosen);
    }
}

void TrendWindow::ShowInFields(HistoryPeriod period) {
    // The fields follow the period shown, except while the operator is typing in them.
    showingFields_ = true;
    for (auto [edit, ms] : {std::pair{Debut, period.fromMs}, std::pair{Fin, period.toMs}}) {
        if (!edit->hasFocus()) {
            edit->setDateTime(QDateTime::fromMSecsSinceEpoch(ms));
        }
    }
    showingFields_ = false;
}

void TrendWindow::Refresh() {
    Query(zoomed_ ? shown_ : CurrentPeriod());
}

void TrendWindow::Query(HistoryPeriod period) {
    TrendRequest request{period, {}, std::max(200, view_->width())};
    for (int n = 0; n < 4; ++n) {
        if (Voie[n]->isChecked()) {
            request.channels.append(n);
        }
    }
    const int generation = ++generation_;
    const QString path = path_;
    QPointer<TrendWindow> window(this);
    QMetaObject::invokeMethod(readerContext_, [window, path, request, generation] {
        TrendData data;
        if (!QSqlDatabase::contains(kConnection)) {
            data.status = OpenStorage(kConnection, path, StorageAccess::Read).status;
        }
        if (data.status.ok()) {
            data = QueryTrend(kConnection, request);
        }
        if (!data.status.ok()) {
            CloseStorage(kConnection);  // tried again on the next request
        }
        QMetaObject::invokeMethod(window, [window, data, request, generation] {
            if (window && generation == window->generation_) {
                window->Draw(data, request.period);
            }
        });
    });
}

void TrendWindow::Draw(const TrendData& data, HistoryPeriod period) {
    data_ = data;
    shown_ = period;
    if (Periode->currentIndex() != Chosen) {
        ShowInFields(period);
    }
    QChart* chart = view_->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    auto* time = new QCategoryAxis;
    time->setRange(double(period.fromMs), double(period.toMs));
    chart->addAxis(time, Qt::AlignBottom);
    chart->setTitle(data.status.ok()
                        ? (data.series.isEmpty()
                               ? QStringLiteral("Aucune mesure enregistrée sur la période")
                               : QString())
                        : data.status.message);

    QHash<QString, QCategoryAxis*> unitAxes;
    QHash<QString, std::pair<double, double>> unitRanges;
    int colour = 0;
    for (const TrendSeries& s : data.series) {
        QCategoryAxis*& axis = unitAxes[s.unit];
        if (axis == nullptr) {
            axis = new QCategoryAxis;
            axis->setTitleText(s.unit.isEmpty() ? QStringLiteral("(sans unité)") : s.unit);
            // One set of horizontal lines, the first unit's: more would cross each other.
            axis->setGridLineVisible(unitAxes.size() == 1);
            chart->addAxis(axis, unitAxes.size() % 2 == 1 ? Qt::AlignLeft : Qt::AlignRight);
            unitRanges[s.unit] = {std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::lowest()};
        }
        auto& [low, high] = unitRanges[s.unit];
        const QColor color = QColor::fromHsv((colour++ * 67) % 360, 200, 200);
        const QString name = QStringLiteral("Voie %1 %2 (%3)").arg(s.channel).arg(s.name, s.unit);
        bool first = true;
        for (const QList<QPointF>& segment : s.segments) {
            auto* line = new QLineSeries;
            line->setName(name);
            line->replace(segment);
            line->setColor(color);
            for (const QPointF& p : segment) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
            }
            chart->addSeries(line);
            line->attachAxis(time);
            line->attachAxis(axis);
            if (!first) {
                for (QLegendMarker* marker : chart->legend()->markers(line)) {
                    marker->setVisible(false);
                }
            }
            first = false;
        }
    }
    for (auto it = unitAxes.begin(); it != unitAxes.end(); ++it) {
        const auto [low, high] = unitRanges[it.key()];
        const double margin =
            high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(low) * 0.05);
        it.value()->setRange(low - margin, high + margin);
    }
    UpdateTicks();
    Q_EMIT drawn();
}

void TrendWindow::UpdateTicks() {
    // About one time label per 110 pixels and one value label per 45.
    const QRectF area = view_->chart()->plotArea();
    const int across = std::max(2, int(area.width() / 110));
    const int up = std::max(2, int(area.height() / 45));
    const auto axes = view_->chart()->axes();
    for (QAbstractAxis* a : axes) {
        auto* axis = qobject_cast<QCategoryAxis*>(a);
        if (axis == nullptr) {
            continue;
        }
        const bool horizontal = axis->orientation() == Qt::Horizontal;
        const int count = horizontal ? across : up;
        if (axis->property("ticks").toInt() == count && axis->count() > 0) {
            continue;  // the labels do not change with the plot area's small moves
        }
        axis->setProperty("ticks", count);
        SetTicks(axis, horizontal ? TimeTicks(qint64(axis->min()), qint64(axis->max()), count)
                                  : ValueTicks(axis->min(), axis->max(), count, decimal_));
    }
}

QString TrendWindow::ValuesAt(qint64 ms) const {
    QStringList lines{
        QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))};
    for (const TrendSeries& s : data_.series) {
        // The nearest column within a few pixels; none in a gap.
        const double reach =
            double(shown_.toMs - shown_.fromMs) / std::max(200, view_->width()) * 3;
        double best = reach;
        std::pair<double, double> bounds{0, 0};
        bool found = false;
        for (const QList<QPointF>& segment : s.segments) {
            const auto it = std::lower_bound(segment.begin(), segment.end(), double(ms),
                                             [](const QPointF& p, double x) { return p.x() < x; });
            for (auto near : {it, it == segment.begin() ? it : it - 1}) {
                if (near != segment.end() && std::abs(near->x() - double(ms)) <= best) {
                    best = std::abs(near->x() - double(ms));
                    bounds = {near->y(), near->y()};
                    for (auto p = segment.begin(); p != segment.end(); ++p) {
                        if (p->x() == near->x()) {
                            bounds = {std::min(bounds.first, p->y()),
                                      std::max(bounds.second, p->y())};
                        }
                    }
                    found = true;
                }
            }
        }
        if (found) {
            const QString value = bounds.first == bounds.second
                                      ? PlainNumber(bounds.first, decimal_)
                                      : PlainNumber(bounds.first, decimal_) +
                                            QStringLiteral(" à ") +
                                            PlainNumber(bounds.second, decimal_);
            lines << QStringLiteral("Voie %1 %2 : %3 %4").arg(s.channel).arg(s.name, value, s.unit);
        }
    }
    return lines.join(QStringLiteral("   "));
}

QString TrendWindow::ImageCaption() const {
    const auto date = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    };
    QStringList channels;
    for (const TrendSeries& s : data_.series) {
        const QString channel =
            QStringLiteral("Voie %1").arg(s.channel) +
            (s.tag.trimmed().isEmpty() ? QString()
                                       : QStringLiteral(" « %1 »").arg(s.tag.trimmed()));
        if (!channels.contains(channel)) {
            channels << channel;
        }
    }
    return QStringLiteral("Du %1 au %2").arg(date(shown_.fromMs), date(shown_.toMs)) +
           (channels.isEmpty() ? QString()
                               : QStringLiteral(" — ") + channels.join(QStringLiteral(", ")));
}

void TrendWindow::ShowValuesAt(qint64 ms) {
    static_cast<ReadOut*>(Curseur)->setWholeText(ValuesAt(ms));
}

bool TrendWindow::SaveImage(const QString& path) {
    const QPixmap chart = view_->grab();
    const QString caption = ImageCaption();
    const QFontMetrics metrics(font());
    const QRect line(10, 0, chart.width() - 20, 0);
    const QRect text =
        metrics.boundingRect(line, Qt::AlignLeft | Qt::TextWordWrap, caption).adjusted(0, 0, 0, 12);
    QImage image(chart.width(), chart.height() + text.height(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    painter.setPen(Qt::black);
    painter.drawText(text.translated(0, 6), Qt::AlignLeft | Qt::TextWordWrap, caption);
    painter.drawPixmap(0, text.height(), chart);
    painter.end();
    return image.save(path, "PNG");
}

void TrendWindow::SaveImageClick() {
    const QString path =
        AskSaveFile(this, QStringLiteral("Enregistrer l'image"), QStringLiteral("courbes.png"),
                    QStringLiteral("Images PNG (*.png)"));
    if (!path.isEmpty() && !SaveImage(path)) {
        Curseur->setText(QStringLiteral("L'image « %1 » n'a pas pu être enregistrée.").arg(path));
    }
}

}  // namespace merival
