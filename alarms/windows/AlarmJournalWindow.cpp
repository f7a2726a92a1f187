#include "alarms/windows/AlarmJournalWindow.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "alarms/AlarmJournal.h"
#include "base/Operator.h"
#include "base/SaveFile.h"
#include "base/windows/WindowFit.h"
#include "config/AppInfo.h"
#include "shell/FileDialogs.h"

namespace merival {
namespace {

// As many events as the journal gives at most.
constexpr qsizetype kShownEvents = 100000;

QString Cell(const AlarmEvent& e, int column) {
    switch (column) {
        case 0:
            return e.time.toLocalTime().toString(QStringLiteral("dd/MM/yyyy"));
        case 1:
            return e.time.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
        case 2:
            return e.channel >= 0 ? QString::number(e.channel) : QString();
        case 3:
            return e.tag;
        case 4:
            return e.text;
        case 5:
            return e.event;
        default:
            return {};
    }
}

}  // namespace

AlarmJournalModel::AlarmJournalModel(qsizetype capacity, QObject* parent)
    : QAbstractTableModel(parent), capacity_(capacity) {}

int AlarmJournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int AlarmJournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 7;
}

QVariant AlarmJournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole)) {
        return {};
    }
    if (index.column() == 6) {
        return deliveries_.value(index.row());  // long server answers: the tooltip has it all
    }
    return role == Qt::DisplayRole ? Cell(rows_[index.row()], index.column()) : QVariant();
}

QVariant AlarmJournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const QStringList headings = {QStringLiteral("Date"),        QStringLiteral("Heure"),
                                         QStringLiteral("Voie"),        QStringLiteral("Repère"),
                                         QStringLiteral("Valeur"),      QStringLiteral("Événement"),
                                         QStringLiteral("Notification")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return headings.value(section);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void AlarmJournalModel::SetEntries(QList<AlarmEvent> entries, QStringList deliveries) {
    beginResetModel();
    rows_ = std::move(entries);
    if (rows_.size() > capacity_) {
        rows_.resize(capacity_);
    }
    deliveries_ = std::move(deliveries);
    deliveries_.resize(rows_.size());
    endResetModel();
}

void AlarmJournalModel::AddNewest(const AlarmEvent& event) {
    if (rows_.size() >= capacity_) {
        const int last = rowCount() - 1;
        beginRemoveRows({}, last, last);
        rows_.removeLast();
        deliveries_.removeLast();
        endRemoveRows();
    }
    beginInsertRows({}, 0, 0);
    rows_.prepend(event);
    deliveries_.prepend(QString());
    endInsertRows();
}

AlarmJournalWindow::AlarmJournalWindow(AlarmJournal& journal, Operator& op,
                                       std::function<QString()> askPath, QWidget* parent)
    : QWidget(parent), journal_(journal), op_(op), askPath_(std::move(askPath)) {
    setObjectName(QStringLiteral("JournalAlarmes"));
    setWindowTitle(AppTitle() + QStringLiteral(" - Journal des alarmes"));
    if (!askPath_) {
        askPath_ = [this] {
            return AskSaveFile(this, QStringLiteral("Exporter le journal des alarmes"),
                               QDir::current().filePath(QStringLiteral("journal_alarmes.csv")),
                               QStringLiteral("Fichiers CSV (*.csv)"));
        };
    }
    model_ = new AlarmJournalModel(kShownEvents, this);
    Tableau = new QTableView(this);
    Tableau->setObjectName(QStringLiteral("Tableau"));
    Tableau->setModel(model_);
    Tableau->setWordWrap(false);
    // Fixed row heights and column widths: the view never measures 100,000 rows.
    Tableau->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Tableau->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    const QFontMetrics fm(fontMetrics());
    const int widths[] = {fm.horizontalAdvance(QStringLiteral("00/00/0000")),
                          fm.horizontalAdvance(QStringLiteral("00:00:00")),
                          fm.horizontalAdvance(QStringLiteral("Voie")),
                          fm.horizontalAdvance(QStringLiteral("Repère du point de mesure")),
                          fm.horizontalAdvance(QStringLiteral("100000 m3/h / 9999999 m3")),
                          fm.horizontalAdvance(QStringLiteral("Perte de communication"))};
    for (int column = 0; column < int(std::size(widths)); ++column) {
        Tableau->setColumnWidth(column, widths[column] + 20);
    }
    Tableau->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tableau->setSelectionBehavior(QAbstractItemView::SelectRows);
    Tableau->verticalHeader()->hide();
    Tableau->horizontalHeader()->setStretchLastSection(true);
    Actualiser = new QPushButton(QStringLiteral("Actualiser"), this);
    Actualiser->setObjectName(QStringLiteral("Actualiser"));
    Exporter = new QPushButton(QStringLiteral("Exporter CSV…"), this);
    Exporter->setObjectName(QStringLiteral("Exporter"));
    Fermer = new QPushButton(QStringLiteral("Fermer"), this);
    Fermer->setObjectName(QStringLiteral("Fermer"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Actualiser);
    buttons->addWidget(Exporter);
    buttons->addStretch();
    buttons->addWidget(Fermer);
    Notifications = new QLabel(this);
    Notifications->setObjectName(QStringLiteral("Notifications"));
    Notifications->setWordWrap(true);
    Notifications->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Notifications->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tableau);
    layout->addWidget(Notifications);
    layout->addLayout(buttons);
    resize(1000, 480);  // the notification column too, within a 1024-pixel screen
    PlaceOnOwnerWhenShown(this);
    BindDialogKeys(this, nullptr, Fermer);

    connect(&journal_, &AlarmJournal::entriesRead, this, &AlarmJournalWindow::Fill);
    connect(&journal_, &AlarmJournal::appended, this, &AlarmJournalWindow::Add);
    connect(Actualiser, &QPushButton::clicked, this, &AlarmJournalWindow::Refresh);
    connect(Fermer, &QPushButton::clicked, this, &QWidget::hide);
    connect(Exporter, &QPushButton::clicked, this, [this] {
        if (const QString path = askPath_(); !path.isEmpty()) {
            ExportCsv(path);
        }
    });
}

void AlarmJournalWindow::ShowFromMenu() {
    show();
    raise();
    activateWindow();
    Refresh();
}

void AlarmJournalWindow::Refresh() {
    ++reading_;
    late_.clear();
    journal_.RequestEntries();
}

void AlarmJournalWindow::Fill(const QList<AlarmEvent>& entries, const QStringList& deliveries) {
    if (reading_ == 0 || --reading_ > 0) {
        return;  // another read was asked for since: its answer is newer
    }
    QList<AlarmEvent> rows = entries;
    QStringList states = deliveries;
    for (const AlarmEvent& e : late_) {
        rows.prepend(e);
        states.prepend(QString());
    }
    late_.clear();
    model_->SetEntries(std::move(rows), std::move(states));
    Q_EMIT shown();
}

void AlarmJournalWindow::setDeliveryText(const QString& text) {
    const bool changed = text != Notifications->text();
    Notifications->setText(text);
    Notifications->setVisible(!text.isEmpty());
    if (changed && isVisible()) {
        Refresh();
    }
}

void AlarmJournalWindow::Add(const AlarmEvent& event) {
    if (reading_ > 0) {
        late_.append(event);
    } else if (isVisible()) {
        model_->AddNewest(event);
    }
}

bool AlarmJournalWindow::ExportCsv(const QString& path) {
    if (const Status saved = SaveWholeFile(path, JournalCsv(entries())); !saved.ok()) {
        op_.beep();
        op_.message(saved.message, AppTitle(), OperatorIcon::Error);
        return false;
    }
    op_.message(QStringLiteral("Journal exporté dans « %1 » (%2 événements).")
                    .arg(QDir::toNativeSeparators(path))
                    .arg(entries().size()),
                AppTitle(), OperatorIcon::Information);
    return true;
}

}  // namespace merival
