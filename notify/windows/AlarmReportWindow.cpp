#include "notify/windows/AlarmReportWindow.h"

#include <QDateTimeEdit>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "config/AppInfo.h"
#include "history/Storage.h"
#include "notify/AlarmReport.h"

namespace merival {

AlarmReportWindow::AlarmReportWindow(const QString& databasePath, QWidget* parent)
    : QWidget(parent), path_(databasePath.isEmpty() ? HistoryPath() : databasePath) {
    setObjectName(QStringLiteral("RapportAlarmes"));
    setWindowTitle(AppTitle() + QStringLiteral(" - Rapport des alarmes"));
    const QString format = QStringLiteral("dd/MM/yyyy HH:mm");
    Du = new QDateTimeEdit(this);
    Du->setObjectName(QStringLiteral("Du"));
    Au = new QDateTimeEdit(this);
    Au->setObjectName(QStringLiteral("Au"));
    for (QDateTimeEdit* edit : {Du, Au}) {
        edit->setDisplayFormat(format);
        edit->setCalendarPopup(true);
    }
    Calculer = new QPushButton(QStringLiteral("Calculer"), this);
    Calculer->setObjectName(QStringLiteral("Calculer"));
    Fermer = new QPushButton(QStringLiteral("Fermer"), this);
    Fermer->setObjectName(QStringLiteral("Fermer"));
    Rapport = new QPlainTextEdit(this);
    Rapport->setObjectName(QStringLiteral("Rapport"));
    Rapport->setReadOnly(true);
    Rapport->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* period = new QHBoxLayout;
    period->addWidget(new QLabel(QStringLiteral("Du"), this));
    period->addWidget(Du);
    period->addWidget(new QLabel(QStringLiteral("au"), this));
    period->addWidget(Au);
    period->addWidget(Calculer);
    period->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(Fermer);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(period);
    layout->addWidget(Rapport);
    layout->addLayout(bottom);
    resize(760, 620);
    connect(Calculer, &QPushButton::clicked, this, &AlarmReportWindow::Calculer_Click);
    connect(Fermer, &QPushButton::clicked, this, &QWidget::hide);
}

AlarmReportWindow::~AlarmReportWindow() {
    if (worker_) {
        worker_->wait();
    }
}

void AlarmReportWindow::ShowFromMenu() {
    const QDateTime now = QDateTime::currentDateTime();
    Au->setDateTime(now);
    Du->setDateTime(now.addDays(-30));
    show();
    raise();
    activateWindow();
    Calculer_Click();
}

void AlarmReportWindow::Calculer_Click() {
    if (worker_ && worker_->isRunning()) {
        return;
    }
    if (worker_) {
        worker_->wait();
    }
    const qint64 from = Du->dateTime().toMSecsSinceEpoch();
    const qint64 to = Au->dateTime().toMSecsSinceEpoch();
    if (from >= to) {
        Rapport->setPlainText(
            QStringLiteral("La période est vide : la date de début doit "
                           "précéder la date de fin."));
        Q_EMIT shown();
        return;
    }
    Calculer->setEnabled(false);
    Rapport->setPlainText(QStringLiteral("Calcul en cours…"));
    worker_.reset(QThread::create([this, path = path_, from, to] {
        const QString connection = QStringLiteral("merival-rapport");
        QList<JournalRow> rows;
        Status status = OpenJournalReadOnly(connection, path);
        if (status.ok()) {
            status = ReadJournalRows(connection, from, to, &rows);
            CloseStorage(connection);
        }
        const QString text =
            status.ok() ? FormatAlarmReport(ComputeAlarmReport(rows, from, to)) : status.message;
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                Rapport->setPlainText(text);
                Calculer->setEnabled(true);
                Q_EMIT shown();
            },
            Qt::QueuedConnection);
    }));
    worker_->start();
}

}  // namespace merival
