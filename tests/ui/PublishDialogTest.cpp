#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>

#include "common/Mosquitto.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "config/windows/ConfigW.h"
#include "publish/windows/PublishDialog.h"
#include "serial/SerialSettings.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::PumpFor;

// Valider writes the section the publisher and merival-poll read; Tester reports in French
// whether the broker took the connection.
TEST(PublishDialogTest, SavesTheSectionAndTestsTheConnection) {
    test::CurrentTempDir dir;
    test::ScriptedOperator op;
    PublishDialog dialog(op);
    dialog.ShowFromMenu();
    EXPECT_FALSE(dialog.Actif->isChecked());
    EXPECT_EQ(dialog.Port->value(), 1883);

    dialog.Actif->setChecked(true);
    dialog.Valider_Click();
    ASSERT_EQ(op.shown.size(), 1u) << "an active publisher needs a host";
    EXPECT_EQ(op.shown[0].text, "Indiquez l'hôte du courtier.");

    test::MosquittoBroker broker(dir.path());
    ASSERT_TRUE(broker.Start());
    dialog.Hote->setText("127.0.0.1");
    dialog.Port->setValue(broker.port());
    dialog.Prefixe->setText("usine/ligne2");
    int tested = 0;
    QObject::connect(&dialog, &PublishDialog::testFinished, &dialog, [&] { ++tested; });
    dialog.Tester->click();
    ASSERT_TRUE(PumpFor([&] { return tested == 1; }));
    EXPECT_EQ(dialog.Resultat->text(),
              QStringLiteral("Connexion réussie : connecté à 127.0.0.1:%1.").arg(broker.port()));
    broker.Stop();
    dialog.Tester->click();
    ASSERT_TRUE(PumpFor([&] { return tested == 2; }));
    EXPECT_TRUE(dialog.Resultat->text().startsWith("Échec : "))
        << dialog.Resultat->text().toStdString();
    EXPECT_FALSE(dialog.Resultat->text().contains("reconnexion")) << "a test is one first try";

    // A long answer wraps, and the dialog grows to show all of it.
    dialog.Utilisateur->setText("exploitant");
    dialog.FichierMotDePasse->setText(
        dir.filePath(QStringLiteral("mot de passe du courtier de la station ").repeated(4)));
    dialog.Tester->click();
    ASSERT_EQ(tested, 3);
    const QRect result = dialog.Resultat->geometry();
    EXPECT_TRUE(dialog.Resultat->text().contains("mot de passe du courtier"));
    EXPECT_LE(result.bottom(), dialog.contentsRect().bottom());
    EXPECT_GE(result.height(), dialog.Resultat->heightForWidth(result.width()));
    dialog.Utilisateur->clear();
    dialog.FichierMotDePasse->clear();

    int saved = 0;
    QObject::connect(&dialog, &PublishDialog::saved, &dialog, [&] { ++saved; });
    test::PressKey(dialog.Prefixe, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(saved, 0);
    dialog.show();
    test::PressKey(dialog.Prefixe, Qt::Key_Return);
    ASSERT_EQ(saved, 1);
    EXPECT_FALSE(dialog.isVisible());
    const QString ini = QString::fromUtf8(dir.read("merival.ini"));
    for (const char* key : {"[Publication]", "Actif=true", "Hote=127.0.0.1", "Prefixe=usine/ligne2",
                            "Utilisateur=", "FichierMotDePasse=", "FichierCA=", "CertificatClient=",
                            "CleClient=", "DecouverteHomeAssistant=false"}) {
        EXPECT_TRUE(ini.contains(key)) << key << "\n" << ini.toStdString();
    }
}

// The main window shows the state of the link and follows new settings.
TEST(PublishDialogTest, StatusBarShowsTheLink) {
    test::CurrentTempDir dir;
    test::MosquittoBroker broker(dir.path());
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(dir.write("config.txt", WriteChannelConfigText({})));
    ASSERT_TRUE(dir.write("PortCom.dat", WriteSerialSettingsText({})));
    ASSERT_TRUE(dir.write("merival.ini", QStringLiteral("[Publication]\nActif=true\n"
                                                        "Hote=127.0.0.1\nPort=%1\n")
                                             .arg(broker.port())
                                             .toUtf8()));
    test::ScriptedOperator op;
    AppOptions options;
    options.op = &op;
    options.port = std::make_unique<test::FakePort>();
    options.exit = [](int) {};
    App app(std::move(options));
    app.Start();
    app.configW()->Commande1_Click();
    MERIVAL* main = app.mainWindow();
    ASSERT_NE(main, nullptr);
    auto* state = main->findChild<QLabel*>("EtatPublication");
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->isVisible());
    ASSERT_TRUE(PumpFor([&] { return state->text().startsWith("MQTT : connecté"); }))
        << state->text().toStdString();
    broker.Stop();
    ASSERT_TRUE(PumpFor([&] { return state->text().startsWith("MQTT : reconnexion"); }))
        << state->text().toStdString();

    // Turned off from the dialog: no publisher, no link state; the working folder stays.
    main->Config->actions().last()->trigger();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<PublishDialog*>(w)) {
            ASSERT_TRUE(d->isVisible());
            d->Actif->setChecked(false);
            d->Valider_Click();
        }
    }
    EXPECT_FALSE(state->isVisible());
    EXPECT_TRUE(main->statusBar()->isVisible());
    EXPECT_TRUE(main->findChild<QLabel*>("WorkFolder")->isVisible());
}

}  // namespace
}  // namespace merival
