#include "diagnostics/windows/TraficLigne.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/Operator.h"
#include "base/SaveFile.h"
#include "base/windows/WindowFit.h"
#include "config/AppInfo.h"
#include "diagnostics/ExchangeLog.h"
#include "shell/FileDialogs.h"

namespace merival {
namespace {

enum Column { kTime, kChannel, kAddress, kBlock, kOutcome, kReplyTime, kRequest, kReply };

QString Cell(const ExchangeEvent& e, int column) {
    switch (column) {
        case kTime:
            return TimeText(e.time);
        case kChannel:
            return ChannelText(e.channel);
        case kAddress:
            return e.address < 0 ? QStringLiteral("—") : QString::number(e.address);
        case kBlock:
            return BlockText(e.block);
        case kOutcome:
            return OutcomeText(e);
        case kReplyTime:
            return MsText(e.lastByteMs);
        case kRequest:
            return RequestHex(e);
        case kReply:
            return ReplyHex(e);
        default:
            return {};
    }
}

QVariant Background(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return {};
        case Outcome::EchoDropped:
            return QColor(255, 248, 200);
        case Outcome::Silence:
            return QColor(255, 224, 178);
        case Outcome::PortClosed:
        case Outcome::ConnectionRefused:
        case Outcome::ConnectionLost:
            return QColor(215, 215, 215);
        default:
            return QColor(255, 205, 205);
    }
}

QString Title() {
    return QStringLiteral("Trafic de la ligne");
}

}  // namespace

ExchangeTableModel::ExchangeTableModel(qsizetype capacity, QObject* parent)
    : QAbstractTableModel(parent),
      capacity_(capacity),
      fixed_(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {}

int ExchangeTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ExchangeTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ExchangeHeadings().size());
}

QVariant ExchangeTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const ExchangeEvent& e = event(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return Cell(e, index.column());
        case Qt::BackgroundRole:
            return Background(e.outcome);
        case Qt::FontRole:
            if (index.column() == kRequest || index.column() == kReply) {
                return fixed_;
            }
            if (index.column() == kOutcome && IsFault(e.outcome)) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::ToolTipRole:
            // The date, and the bytes that a narrow column elides.
            if (index.column() == kTime) {
                return TraceLine(e).section(u'\t', 0, 0);
            }
            return index.column() >= kRequest ? Cell(e, index.column()) : QVariant();
        default:
            return {};
    }
}

QVariant ExchangeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return ExchangeHeadings().value(section);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ExchangeTableModel::Append(std::vector<ExchangeEvent> events) {
    if (events.empty()) {
        return;
    }
    const auto excess = static_cast<qsizetype>(events.size()) - capacity_;
    if (excess > 0) {
        events.erase(events.begin(), events.begin() + excess);
    }
    const qsizetype overflow = static_cast<qsizetype>(rows_.size() + events.size()) - capacity_;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + overflow);
        endRemoveRows();
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(events.size()) - 1);
    std::move(events.begin(), events.end(), std::back_inserter(rows_));
    endInsertRows();
}

void ExchangeTableModel::Replace(const ExchangeEvent& event) {
    // Only the newest exchanges change: search from the end.
    for (auto row = static_cast<int>(rows_.size()) - 1; row >= 0; --row) {
        ExchangeEvent& shown = rows_[static_cast<size_t>(row)];
        if (shown.seq == event.seq) {
            shown = event;
            Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
            return;
        }
        if (shown.seq < event.seq) {
            return;
        }
    }
}

int ExchangeTableModel::RowOf(quint64 seq) const {
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), seq,
                                     [](const ExchangeEvent& e, quint64 s) { return e.seq < s; });
    return it != rows_.end() && it->seq == seq ? static_cast<int>(it - rows_.begin()) : -1;
}

void ExchangeTableModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

TraficLigne::TraficLigne(ExchangeLog& log, Operator& op, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), op_(op) {
    setObjectName(QStringLiteral("TraficLigne"));
    setWindowTitle(Title());
    auto* layout = new QVBoxLayout(this);
    BuildStatistics();
    BuildExchanges();

    auto* statsRow = new QHBoxLayout;
    statsRow->addWidget(new QLabel(QStringLiteral("Statistiques par voie"), this));
    statsRow->addStretch();
    statsRow->addWidget(RemiseAZero);
    layout->addLayout(statsRow);
    layout->addWidget(Statistiques);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Voie :"), this));
    controls->addWidget(FiltreVoie);
    controls->addStretch();
    for (QPushButton* button : {Pause, Effacer, Enregistrer}) {
        controls->addWidget(button);
    }
    layout->addLayout(controls);
    layout->addWidget(Echanges, 1);
    resize(1100, 640);
    PlaceOnOwnerWhenShown(this);

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &TraficLigne::Refresh);
}

void TraficLigne::BuildStatistics() {
    const QStringList headings = StatsHeadings();
    Statistiques = new QTableWidget(kChannelCount, static_cast<int>(headings.size()), this);
    Statistiques->setObjectName(QStringLiteral("Statistiques"));
    Statistiques->setHorizontalHeaderLabels(headings);
    Statistiques->verticalHeader()->hide();
    Statistiques->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Statistiques->setSelectionMode(QAbstractItemView::NoSelection);
    Statistiques->setFocusPolicy(Qt::NoFocus);
    Statistiques->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    for (int row = 0; row < kChannelCount; ++row) {
        for (int column = 0; column < headings.size(); ++column) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(column == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                               : Qt::AlignRight | Qt::AlignVCenter);
            Statistiques->setItem(row, column, item);
        }
    }
    Statistiques->setFixedHeight(Statistiques->horizontalHeader()->sizeHint().height() +
                                 kChannelCount *
                                     Statistiques->verticalHeader()->defaultSectionSize() +
                                 2 * Statistiques->frameWidth());
    Statistiques->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    RemiseAZero = new QPushButton(QStringLiteral("Remise à zéro"), this);
    RemiseAZero->setObjectName(QStringLiteral("RemiseAZero"));
    connect(RemiseAZero, &QPushButton::clicked, this, [this] {
        log_.ResetStats();
        RefreshStatistics();
    });
    RefreshStatistics();
}

void TraficLigne::BuildExchanges() {
    FiltreVoie = new QComboBox(this);
    FiltreVoie->setObjectName(QStringLiteral("FiltreVoie"));
    FiltreVoie->addItem(QStringLiteral("Toutes les voies"));
    for (int n = 0; n < kChannelCount; ++n) {
        FiltreVoie->addItem(ChannelText(n));
    }
    connect(FiltreVoie, &QComboBox::currentIndexChanged, this, &TraficLigne::FilterChanged);

    Pause = new QPushButton(QStringLiteral("Pause"), this);
    Pause->setObjectName(QStringLiteral("Pause"));
    Pause->setCheckable(true);
    connect(Pause, &QPushButton::toggled, this, [this](bool paused) {
        if (!paused) {
            Refresh();
            Echanges->scrollToBottom();
        }
    });
    Effacer = new QPushButton(QStringLiteral("Effacer"), this);
    Effacer->setObjectName(QStringLiteral("Effacer"));
    connect(Effacer, &QPushButton::clicked, this, &TraficLigne::Clear);
    Enregistrer = new QPushButton(QStringLiteral("Enregistrer…"), this);
    Enregistrer->setObjectName(QStringLiteral("Enregistrer"));
    connect(Enregistrer, &QPushButton::clicked, this, &TraficLigne::Save);

    model_ = new ExchangeTableModel(ExchangeLog::kCapacity, this);
    filter_ = new QSortFilterProxyModel(this);
    filter_->setSourceModel(model_);
    filter_->setFilterKeyColumn(kChannel);
    Echanges = new QTableView(this);
    Echanges->setObjectName(QStringLiteral("Echanges"));
    Echanges->setModel(filter_);
    Echanges->verticalHeader()->hide();
    // Fixed row heights: the view never measures 10,000 rows.
    Echanges->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Echanges->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    Echanges->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Echanges->setSelectionBehavior(QAbstractItemView::SelectRows);
    Echanges->setWordWrap(false);
    // Cut in the middle, so that the CRC at the end of a frame stays in view.
    Echanges->setTextElideMode(Qt::ElideMiddle);
    const QFontMetrics fm(fontMetrics());
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int widths[] = {
        fm.horizontalAdvance(QStringLiteral("00:00:00.000")),
        fm.horizontalAdvance(QStringLiteral("Voie 0")),
        fm.horizontalAdvance(QStringLiteral("Adresse")),
        fm.horizontalAdvance(QStringLiteral("Base")),
        QFontMetrics(bold).horizontalAdvance(QStringLiteral("Réponse trop longue")),
        fm.horizontalAdvance(QStringLiteral("Temps de réponse")),
        fixed.horizontalAdvance(QStringLiteral("01 03 00 00 00 08 | 44 0C")),
        // A whole reply of eight registers; longer ones are whole in their tooltip.
        fixed.horizontalAdvance(QStringLiteral("01 03 10") + QStringLiteral(" 00").repeated(16) +
                                QStringLiteral(" | 00 00"))};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column) {
        Echanges->setColumnWidth(column, widths[column] + 16);
    }
}

void TraficLigne::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    Echanges->scrollToBottom();
    refresh_.start();
}

void TraficLigne::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

bool TraficLigne::Following() const {
    const QScrollBar* bar = Echanges->verticalScrollBar();
    return !Pause->isChecked() && bar->value() >= bar->maximum();
}

void TraficLigne::Refresh() {
    if (!Pause->isChecked()) {
        for (const ExchangeEvent& e : log_.AmendedSince(amendmentsSeen_)) {
            model_->Replace(e);
        }
        amendmentsSeen_ = log_.amendments();
        std::vector<ExchangeEvent> events = log_.Since(lastSeq_);
        if (!events.empty()) {
            lastSeq_ = events.back().seq;
            const bool follow = Following();
            // The exchange the operator reads at the top stays there while the oldest go.
            const QModelIndex top = filter_->mapToSource(Echanges->indexAt(QPoint(0, 0)));
            const quint64 topSeq = top.isValid() ? model_->event(top.row()).seq : 0;
            model_->Append(std::move(events));
            if (follow) {
                Echanges->scrollToBottom();
            } else if (const int row = model_->RowOf(topSeq); row >= 0) {
                Echanges->scrollTo(filter_->mapFromSource(model_->index(row, 0)),
                                   QAbstractItemView::PositionAtTop);
            }
        }
    }
    RefreshStatistics();
}

void TraficLigne::RefreshStatistics() {
    const auto& stats = log_.stats();
    for (int row = 0; row < kChannelCount; ++row) {
        const QStringList cells = StatsCells(row, stats[static_cast<size_t>(row)]);
        for (int column = 0; column < cells.size(); ++column) {
            QTableWidgetItem* item = Statistiques->item(row, column);
            if (item->text() != cells[column]) {
                item->setText(cells[column]);
            }
        }
    }
}

void TraficLigne::FilterChanged(int index) {
    const QString pattern =
        index <= 0 ? QString()
                   : QStringLiteral("^%1$").arg(QRegularExpression::escape(ChannelText(index - 1)));
    filter_->setFilterRegularExpression(pattern);
    Echanges->scrollToBottom();
}

void TraficLigne::Clear() {
    log_.Clear();
    model_->Clear();
}

QString TraficLigne::SavedText() const {
    QList<QStringList> statsRows = {StatsHeadings()};
    for (int row = 0; row < kChannelCount; ++row) {
        statsRows << StatsCells(row, log_.stats()[static_cast<size_t>(row)]);
    }
    QString text = Title() + QStringLiteral(", ") +
                   QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                   QStringLiteral("\n\n") + AlignedTable(statsRows) + u'\n' +
                   ExchangeHeadings().join(u'\t') + u'\n';
    for (int row = 0; row < filter_->rowCount(); ++row) {
        const QModelIndex source = filter_->mapToSource(filter_->index(row, 0));
        text += TraceLine(model_->event(source.row())) + u'\n';
    }
    return text;
}

void TraficLigne::Save() {
    const QString path = chooseFile_
                             ? chooseFile_()
                             : AskSaveFile(this, QStringLiteral("Enregistrer le trafic"),
                                           QDir::current().filePath(QStringLiteral("trafic.txt")),
                                           QStringLiteral("Texte (*.txt)"));
    if (path.isEmpty()) {
        return;
    }
    const Status saved = SaveWholeFile(path, SavedText().toUtf8());
    if (!saved.ok()) {
        op_.beep();
        op_.message(saved.message, AppTitle(), OperatorIcon::Error);
    }
}

}  // namespace merival
