#pragma once

#include <QWidget>

#include "notify/NotifySettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace merival {

class Notifier;
class Operator;

// "Alarmes > Notifications…": the [Notifications] section of merival.ini, with a test
// message sent by the notifier.
class NotifySettingsDialog : public QWidget {
    Q_OBJECT
public:
    NotifySettingsDialog(Notifier& notifier, Operator& op, QWidget* parent = nullptr);

    // Reads merival.ini of the working directory and shows the dialog.
    void ShowFromMenu();
    void setSettings(const NotifySettings& settings);
    [[nodiscard]] NotifySettings settings() const;

    // Sends a test message with the settings of the form; the answer goes to Resultat.
    void Tester_Click();
    // Checks, saves to merival.ini, then announces the new settings.
    void Valider_Click();

    QLineEdit* ServeurSMTP = nullptr;
    QSpinBox* PortSMTP = nullptr;
    QComboBox* Securite = nullptr;
    QLineEdit* Utilisateur = nullptr;
    QLineEdit* FichierMotDePasse = nullptr;
    QLineEdit* FichierCA = nullptr;
    QLineEdit* Expediteur = nullptr;
    QLineEdit* Destinataires = nullptr;
    QCheckBox* Activation = nullptr;
    QCheckBox* Retour = nullptr;
    QCheckBox* Acquittement = nullptr;
    QCheckBox* Perte = nullptr;
    QLineEdit* Webhook = nullptr;
    QLineEdit* EnteteWebhook = nullptr;
    QComboBox* ModeleWebhook = nullptr;
    QSpinBox* Regroupement = nullptr;
    QSpinBox* MessagesParHeure = nullptr;
    QLabel* Avertissement = nullptr;
    QPushButton* Tester = nullptr;
    QPushButton* Valider = nullptr;
    QPushButton* Annuler = nullptr;
    QLabel* Resultat = nullptr;

Q_SIGNALS:
    void saved(const merival::NotifySettings& settings);
    void testFinished(const QString& answer);

private:
    void UpdateWarning();

    Notifier& notifier_;
    Operator& op_;
};

}  // namespace merival
