#include "publish/windows/PublishDialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "base/IniFile.h"
#include "base/Operator.h"
#include "base/windows/WindowFit.h"
#include "publish/MqttLink.h"
#include "shell/FileDialogs.h"

namespace merival {
namespace {

constexpr int kTestGuardMs = 10000;
const QString kTitle = QStringLiteral("Publication MQTT");

QLineEdit* Field(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// A file name box with a "..." button that picks the file.
QWidget* FileRow(QLineEdit* edit) {
    auto* row = new QWidget(edit->parentWidget());
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* pick = new QPushButton(QStringLiteral("..."), row);
    pick->setMaximumWidth(32);
    layout->addWidget(edit);
    layout->addWidget(pick);
    QObject::connect(pick, &QPushButton::clicked, edit, [edit] {
        const QString file = AskOpenFile(edit->window(), kTitle, edit->text());
        if (!file.isEmpty()) {
            edit->setText(file);
        }
    });
    return row;
}

}  // namespace

PublishDialog::PublishDialog(Operator& op, QWidget* parent) : QWidget(parent), op_(op) {
    setObjectName(QStringLiteral("PublishDialog"));
    setWindowTitle(kTitle);
    setWindowFlag(Qt::Dialog);
    Actif = new QCheckBox(QStringLiteral("Publier les valeurs"), this);
    Actif->setObjectName(QStringLiteral("Actif"));
    Hote = Field(this, "Hote");
    Port = new QSpinBox(this);
    Port->setObjectName(QStringLiteral("Port"));
    Port->setRange(1, 65535);
    Prefixe = Field(this, "Prefixe");
    Prefixe->setPlaceholderText(QStringLiteral("merival/<nom du poste>"));
    Utilisateur = Field(this, "Utilisateur");
    FichierMotDePasse = Field(this, "FichierMotDePasse");
    FichierCA = Field(this, "FichierCA");
    CertificatClient = Field(this, "CertificatClient");
    CleClient = Field(this, "CleClient");
    DecouverteHomeAssistant = new QCheckBox(QStringLiteral("Découverte Home Assistant"), this);
    DecouverteHomeAssistant->setObjectName(QStringLiteral("DecouverteHomeAssistant"));
    Tester = new QPushButton(QStringLiteral("Tester"), this);
    Tester->setObjectName(QStringLiteral("Tester"));
    Valider = new QPushButton(QStringLiteral("Valider"), this);
    Valider->setObjectName(QStringLiteral("Valider"));
    Annuler = new QPushButton(QStringLiteral("Annuler"), this);
    Annuler->setObjectName(QStringLiteral("Annuler"));
    Resultat = new QLabel(this);
    Resultat->setObjectName(QStringLiteral("Resultat"));
    Resultat->setWordWrap(true);
    Resultat->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* form = new QFormLayout(this);
    form->addRow(Actif);
    form->addRow(QStringLiteral("Courtier (hôte)"), Hote);
    form->addRow(QStringLiteral("Port"), Port);
    form->addRow(QStringLiteral("Préfixe"), Prefixe);
    form->addRow(QStringLiteral("Utilisateur"), Utilisateur);
    form->addRow(QStringLiteral("Fichier mot de passe"), FileRow(FichierMotDePasse));
    form->addRow(QStringLiteral("Fichier CA (TLS)"), FileRow(FichierCA));
    form->addRow(QStringLiteral("Certificat client"), FileRow(CertificatClient));
    form->addRow(QStringLiteral("Clé client"), FileRow(CleClient));
    form->addRow(DecouverteHomeAssistant);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Tester);
    buttons->addStretch();
    buttons->addWidget(Valider);
    buttons->addWidget(Annuler);
    form->addRow(buttons);
    form->addRow(Resultat);
    PlaceOnOwnerWhenShown(this);
    BindDialogKeys(this, Valider, Annuler);

    // TLS changes the usual port.
    connect(FichierCA, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (Port->value() == kMqttPort && !text.isEmpty()) {
            Port->setValue(kMqttTlsPort);
        } else if (Port->value() == kMqttTlsPort && text.isEmpty()) {
            Port->setValue(kMqttPort);
        }
    });
    connect(Tester, &QPushButton::clicked, this, &PublishDialog::Tester_Click);
    connect(Valider, &QPushButton::clicked, this, &PublishDialog::Valider_Click);
    connect(Annuler, &QPushButton::clicked, this, &QWidget::hide);
    testGuard_.setSingleShot(true);
    connect(&testGuard_, &QTimer::timeout, this, [this] {
        EndTest(QStringLiteral("Échec : pas de réponse de %1:%2 en %3 s.")
                    .arg(Hote->text().trimmed())
                    .arg(Port->value())
                    .arg(kTestGuardMs / 1000));
    });
}

PublishDialog::~PublishDialog() = default;

void PublishDialog::ShowFromMenu() {
    const std::unique_ptr<QSettings> ini = OpenIni();
    setSettings(LoadPublishSettings(*ini));
    Resultat->clear();
    show();
    raise();
    activateWindow();
}

void PublishDialog::setSettings(const PublishSettings& s) {
    Actif->setChecked(s.active);
    Hote->setText(s.host);
    Port->setValue(s.port);
    Prefixe->setText(s.prefix);
    Utilisateur->setText(s.user);
    FichierMotDePasse->setText(s.passwordFile);
    FichierCA->setText(s.caFile);
    CertificatClient->setText(s.clientCert);
    CleClient->setText(s.clientKey);
    DecouverteHomeAssistant->setChecked(s.homeAssistant);
}

PublishSettings PublishDialog::settings() const {
    return {Actif->isChecked(),
            Hote->text().trimmed(),
            Port->value(),
            Prefixe->text().trimmed(),
            Utilisateur->text().trimmed(),
            FichierMotDePasse->text().trimmed(),
            FichierCA->text().trimmed(),
            CertificatClient->text().trimmed(),
            CleClient->text().trimmed(),
            DecouverteHomeAssistant->isChecked()};
}

void PublishDialog::Tester_Click() {
    if (Hote->text().trimmed().isEmpty()) {
        EndTest(QStringLiteral("Échec : indiquez l'hôte du courtier."));
        return;
    }
    test_ = std::make_unique<MqttLink>();
    connect(test_.get(), &MqttLink::stateChanged, this,
            [this](LinkState state, const QString& text) {
                if (state == LinkState::Connected) {
                    EndTest(QStringLiteral("Connexion réussie : %1.").arg(text));
                } else if (state == LinkState::Refused) {
                    EndTest(QStringLiteral("Échec : %1.").arg(text));
                } else if (state == LinkState::Reconnecting) {
                    // The link would try again; for a test this first try is the answer.
                    const qsizetype open = text.lastIndexOf(u'(');
                    const QString reason =
                        open >= 0 && text.endsWith(u')') ? text.mid(open + 1).chopped(1) : text;
                    EndTest(QStringLiteral("Échec : connexion à %1:%2 impossible (%3).")
                                .arg(Hote->text().trimmed())
                                .arg(Port->value())
                                .arg(reason));
                }
            });
    Tester->setEnabled(false);
    ShowResult(QStringLiteral("Test en cours…"));
    if (const Status started = test_->Start(WithFilesIn(settings(), QDir::current()));
        !started.ok()) {
        // The link may have told its refusal already: the test ends once.
        if (test_) {
            EndTest(QStringLiteral("Échec : %1").arg(started.message));
        }
        return;
    }
    testGuard_.start(kTestGuardMs);
}

void PublishDialog::EndTest(const QString& result) {
    testGuard_.stop();
    ShowResult(result);
    Tester->setEnabled(true);
    if (test_) {
        // Not deleted from inside its own signal; the dialog's child meanwhile, so that a
        // dialog closed before the event loop turns again still takes it (and its helper
        // thread) with it.
        disconnect(test_.get(), nullptr, this, nullptr);
        MqttLink* link = test_.release();
        link->setParent(this);
        link->deleteLater();
    }
    Q_EMIT testFinished(result);
}

void PublishDialog::ShowResult(const QString& text) {
    Resultat->setText(KeepGuillemets(text));
    // A long answer wraps over more lines: the dialog grows to show them all.
    layout()->activate();
    if (const int needed = heightForWidth(width()); needed > height()) {
        resize(width(), needed);
    }
}

void PublishDialog::Valider_Click() {
    const PublishSettings s = settings();
    if (s.active && s.host.isEmpty()) {
        op_.beep();
        op_.message(QStringLiteral("Indiquez l'hôte du courtier."), kTitle,
                    OperatorIcon::Exclamation);
        return;
    }
    const std::unique_ptr<QSettings> ini = OpenIni();
    SavePublishSettings(*ini, s);
    ini->sync();
    if (const Status status = IniStatus(*ini); !status.ok()) {
        op_.beep();
        op_.message(status.message, kTitle, OperatorIcon::Error);
        return;
    }
    hide();
    Q_EMIT saved(s);
}

}  // namespace merival
