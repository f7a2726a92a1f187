#pragma once

#include <QWidget>
#include <memory>

class QDateTimeEdit;
class QPlainTextEdit;
class QPushButton;
class QThread;

namespace merival {

// "Alarmes > Rapport": the alarm-management figures of a period, read from the journal on a
// thread of its own.
class AlarmReportWindow : public QWidget {
    Q_OBJECT
public:
    // The database defaults to "historique.sqlite" of the working directory.
    explicit AlarmReportWindow(const QString& databasePath = {}, QWidget* parent = nullptr);
    ~AlarmReportWindow() override;

    // Shows the window and computes the last 30 days.
    void ShowFromMenu();
    void Calculer_Click();

    QDateTimeEdit* Du = nullptr;
    QDateTimeEdit* Au = nullptr;
    QPushButton* Calculer = nullptr;
    QPushButton* Fermer = nullptr;
    QPlainTextEdit* Rapport = nullptr;

Q_SIGNALS:
    // The report (or the reason it could not be made) is shown.
    void shown();

private:
    QString path_;
    std::unique_ptr<QThread> worker_;
};

}  // namespace merival
