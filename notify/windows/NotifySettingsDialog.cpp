#include "notify/windows/NotifySettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "base/IniFile.h"
#include "base/Operator.h"
#include "notify/Notifier.h"

namespace merival {
namespace {

const QString kTitle = QStringLiteral("Notifications des alarmes");

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

}  // namespace

NotifySettingsDialog::NotifySettingsDialog(Notifier& notifier, Operator& op, QWidget* parent)
    : QWidget(parent), notifier_(notifier), op_(op) {
    setObjectName(QStringLiteral("NotifySettingsDialog"));
    setWindowTitle(kTitle);
    ServeurSMTP = Named(new QLineEdit(this), "ServeurSMTP");
    PortSMTP = Named(new QSpinBox(this), "PortSMTP");
    PortSMTP->setRange(1, 65535);
    Securite = Named(new QComboBox(this), "Securite");
    Securite->addItems(
        {QStringLiteral("aucune"), QStringLiteral("starttls"), QStringLiteral("tls")});
    Utilisateur = Named(new QLineEdit(this), "Utilisateur");
    FichierMotDePasse = Named(new QLineEdit(this), "FichierMotDePasse");
    FichierCA = Named(new QLineEdit(this), "FichierCA");
    FichierCA->setPlaceholderText(QStringLiteral("certificats du système"));
    Expediteur = Named(new QLineEdit(this), "Expediteur");
    Destinataires = Named(new QLineEdit(this), "Destinataires");
    Destinataires->setPlaceholderText(QStringLiteral("adresses séparées par des virgules"));
    Activation =
        Named(new QCheckBox(QStringLiteral("Activation (seuil haut ou bas)"), this), "Activation");
    Retour = Named(new QCheckBox(QStringLiteral("Retour à la normale"), this), "Retour");
    Acquittement = Named(new QCheckBox(QStringLiteral("Acquittement"), this), "Acquittement");
    Perte = Named(new QCheckBox(QStringLiteral("Perte de communication"), this), "Perte");
    Webhook = Named(new QLineEdit(this), "Webhook");
    Webhook->setPlaceholderText(QStringLiteral("https://..."));
    EnteteWebhook = Named(new QLineEdit(this), "EnteteWebhook");
    EnteteWebhook->setPlaceholderText(QStringLiteral("Authorization: Bearer ..."));
    ModeleWebhook = Named(new QComboBox(this), "ModeleWebhook");
    ModeleWebhook->addItems({QStringLiteral("JSON de l'événement"),
                             QStringLiteral("Texte pour messagerie (champ « text »)")});
    Regroupement = Named(new QSpinBox(this), "Regroupement");
    Regroupement->setRange(0, 3600);
    Regroupement->setSuffix(QStringLiteral(" s"));
    MessagesParHeure = Named(new QSpinBox(this), "MessagesParHeure");
    MessagesParHeure->setRange(1, 3600);
    Avertissement = Named(new QLabel(this), "Avertissement");
    Avertissement->setWordWrap(true);
    Avertissement->setStyleSheet(QStringLiteral("color: #a04000"));
    Avertissement->setText(
        QStringLiteral("Sans sécurité, le courriel et le mot de passe "
                       "traversent le réseau en clair."));
    Tester = Named(new QPushButton(QStringLiteral("Tester"), this), "Tester");
    Valider = Named(new QPushButton(QStringLiteral("Valider"), this), "Valider");
    Annuler = Named(new QPushButton(QStringLiteral("Annuler"), this), "Annuler");
    Resultat = Named(new QLabel(this), "Resultat");
    Resultat->setWordWrap(true);
    Resultat->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* mail = new QGroupBox(QStringLiteral("Courriel"), this);
    auto* mailForm = new QFormLayout(mail);
    mailForm->addRow(QStringLiteral("Serveur SMTP"), ServeurSMTP);
    mailForm->addRow(QStringLiteral("Port"), PortSMTP);
    mailForm->addRow(QStringLiteral("Sécurité"), Securite);
    mailForm->addRow(Avertissement);
    mailForm->addRow(QStringLiteral("Utilisateur"), Utilisateur);
    mailForm->addRow(QStringLiteral("Fichier mot de passe"), FichierMotDePasse);
    mailForm->addRow(QStringLiteral("Fichier CA"), FichierCA);
    mailForm->addRow(QStringLiteral("Expéditeur"), Expediteur);
    mailForm->addRow(QStringLiteral("Destinataires"), Destinataires);
    auto* hook = new QGroupBox(QStringLiteral("Webhook"), this);
    auto* hookForm = new QFormLayout(hook);
    hookForm->addRow(QStringLiteral("Adresse"), Webhook);
    hookForm->addRow(QStringLiteral("En-tête"), EnteteWebhook);
    hookForm->addRow(QStringLiteral("Modèle"), ModeleWebhook);
    auto* events = new QGroupBox(QStringLiteral("Événements envoyés"), this);
    auto* eventsForm = new QFormLayout(events);
    for (QCheckBox* box : {Activation, Retour, Acquittement, Perte}) {
        eventsForm->addRow(box);
    }
    eventsForm->addRow(QStringLiteral("Regrouper pendant"), Regroupement);
    eventsForm->addRow(QStringLiteral("Messages par heure, au plus"), MessagesParHeure);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Tester);
    buttons->addStretch();
    buttons->addWidget(Valider);
    buttons->addWidget(Annuler);
    // Mail beside the webhook and the events: the whole dialog fits a 1024 x 768 screen.
    auto* right = new QVBoxLayout;
    right->addWidget(hook);
    right->addWidget(events);
    right->addStretch();
    auto* columns = new QHBoxLayout;
    columns->addWidget(mail, 1);
    columns->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    setMinimumWidth(820);
    layout->addLayout(buttons);
    layout->addWidget(Resultat);

    connect(ServeurSMTP, &QLineEdit::textChanged, this, &NotifySettingsDialog::UpdateWarning);
    connect(Securite, &QComboBox::currentIndexChanged, this, [this](int index) {
        // The usual port follows implicit TLS.
        if (index == 2 && PortSMTP->value() == kSmtpPort) {
            PortSMTP->setValue(kSmtpsPort);
        } else if (index != 2 && PortSMTP->value() == kSmtpsPort) {
            PortSMTP->setValue(kSmtpPort);
        }
        UpdateWarning();
    });
    connect(Tester, &QPushButton::clicked, this, &NotifySettingsDialog::Tester_Click);
    connect(Valider, &QPushButton::clicked, this, &NotifySettingsDialog::Valider_Click);
    connect(Annuler, &QPushButton::clicked, this, &QWidget::hide);
    connect(&notifier_, &Notifier::tested, this, [this](bool ok, const QString& answer) {
        Tester->setEnabled(true);
        Resultat->setText((ok ? QStringLiteral("Essai réussi.\n") : QStringLiteral("Échec.\n")) +
                          answer);
        Q_EMIT testFinished(answer);
    });
}

void NotifySettingsDialog::ShowFromMenu() {
    const std::unique_ptr<QSettings> ini = OpenIni();
    setSettings(LoadNotifySettings(*ini));
    Resultat->clear();
    show();
    raise();
    activateWindow();
}

void NotifySettingsDialog::setSettings(const NotifySettings& s) {
    ServeurSMTP->setText(s.server);
    Securite->setCurrentIndex(int(s.security));
    PortSMTP->setValue(s.port);
    Utilisateur->setText(s.user);
    FichierMotDePasse->setText(s.passwordFile);
    FichierCA->setText(s.caFile);
    Expediteur->setText(s.sender);
    Destinataires->setText(s.recipients.join(QStringLiteral(", ")));
    Activation->setChecked(s.activation);
    Retour->setChecked(s.returned);
    Acquittement->setChecked(s.acknowledged);
    Perte->setChecked(s.loss);
    Webhook->setText(s.webhook);
    EnteteWebhook->setText(s.webhookHeader);
    ModeleWebhook->setCurrentIndex(int(s.webhookFormat));
    Regroupement->setValue(s.groupSeconds);
    MessagesParHeure->setValue(s.perHour);
    UpdateWarning();
}

NotifySettings NotifySettingsDialog::settings() const {
    NotifySettings s;
    s.server = ServeurSMTP->text().trimmed();
    s.port = PortSMTP->value();
    s.security = SmtpSecurity(Securite->currentIndex());
    s.user = Utilisateur->text().trimmed();
    s.passwordFile = FichierMotDePasse->text().trimmed();
    s.caFile = FichierCA->text().trimmed();
    s.sender = Expediteur->text().trimmed();
    for (const QString& r : Destinataires->text().split(u',', Qt::SkipEmptyParts)) {
        if (!r.trimmed().isEmpty()) {
            s.recipients.append(r.trimmed());
        }
    }
    s.activation = Activation->isChecked();
    s.returned = Retour->isChecked();
    s.acknowledged = Acquittement->isChecked();
    s.loss = Perte->isChecked();
    s.webhook = Webhook->text().trimmed();
    s.webhookHeader = EnteteWebhook->text().trimmed();
    s.webhookFormat = WebhookFormat(ModeleWebhook->currentIndex());
    s.groupSeconds = Regroupement->value();
    s.perHour = MessagesParHeure->value();
    return s;
}

void NotifySettingsDialog::UpdateWarning() {
    Avertissement->setVisible(ClearTextAcrossNetwork(settings()));
}

void NotifySettingsDialog::Tester_Click() {
    const NotifySettings s = settings();
    if (const Status checked = CheckNotifySettings(s); !checked.ok()) {
        Resultat->setText(QStringLiteral("Échec.\n") + checked.message);
        Q_EMIT testFinished(checked.message);
        return;
    }
    Tester->setEnabled(false);
    Resultat->setText(QStringLiteral("Envoi du message d'essai…"));
    notifier_.Test(WithFilesIn(s, QFileInfo(IniPath()).absoluteDir()));
}

void NotifySettingsDialog::Valider_Click() {
    const NotifySettings s = settings();
    if (const Status checked = CheckNotifySettings(s); !checked.ok()) {
        op_.beep();
        op_.message(checked.message, kTitle, OperatorIcon::Exclamation);
        return;
    }
    const std::unique_ptr<QSettings> ini = OpenIni();
    SaveNotifySettings(*ini, s);
    ini->sync();
    if (const Status written = IniStatus(*ini); !written.ok()) {
        op_.beep();
        op_.message(written.message, kTitle, OperatorIcon::Error);
        return;
    }
    hide();
    Q_EMIT saved(s);
}

}  // namespace merival
