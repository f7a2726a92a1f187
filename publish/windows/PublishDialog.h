#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

#include "publish/PublishSettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace merival {

class MqttLink;
class Operator;

// "Publication MQTT": the [Publication] section of merival.ini, with a connection test.
class PublishDialog : public QWidget {
    Q_OBJECT
public:
    explicit PublishDialog(Operator& op, QWidget* parent = nullptr);
    ~PublishDialog() override;

    // Reads merival.ini of the working directory and shows the dialog.
    void ShowFromMenu();
    void setSettings(const PublishSettings& settings);
    [[nodiscard]] PublishSettings settings() const;

    // Connects with the settings of the form and reports the outcome in Resultat.
    void Tester_Click();
    // Saves to merival.ini, then announces the new settings.
    void Valider_Click();

    QCheckBox* Actif = nullptr;
    QLineEdit* Hote = nullptr;
    QSpinBox* Port = nullptr;
    QLineEdit* Prefixe = nullptr;
    QLineEdit* Utilisateur = nullptr;
    QLineEdit* FichierMotDePasse = nullptr;
    QLineEdit* FichierCA = nullptr;
    QLineEdit* CertificatClient = nullptr;
    QLineEdit* CleClient = nullptr;
    QCheckBox* DecouverteHomeAssistant = nullptr;
    QPushButton* Tester = nullptr;
    QPushButton* Valider = nullptr;
    QPushButton* Annuler = nullptr;
    QLabel* Resultat = nullptr;

Q_SIGNALS:
    void saved(const merival::PublishSettings& settings);
    void testFinished(const QString& result);

private:
    void EndTest(const QString& result);
    void ShowResult(const QString& text);

    Operator& op_;
    std::unique_ptr<MqttLink> test_;
    QTimer testGuard_;
};

}  // namespace merival
