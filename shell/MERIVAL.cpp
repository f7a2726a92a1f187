#include "shell/MERIVAL.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStatusBar>

#include "base/Operator.h"
#include "config/AppInfo.h"
#include "config/ChannelStore.h"
#include "measure/MeasureState.h"
#include "measure/windows/F_Mesure.h"

namespace merival {

MERIVAL::MERIVAL(const ChannelStore& store, MeasureState& state, Operator& op,
                 MainWindowCommands commands, QWidget* parent)
    : QMainWindow(parent), store_(store), state_(state), op_(op), commands_(std::move(commands)) {
    setObjectName(QStringLiteral("MERIVAL"));
    setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));

    Fichier = menuBar()->addMenu(QStringLiteral("&Fichier"));
    Fichier->setObjectName(QStringLiteral("Fichier"));
    Quitter = Fichier->addAction(QStringLiteral("&Quitter"));
    Quitter->setObjectName(QStringLiteral("Quitter"));

    Config = menuBar()->addMenu(QStringLiteral("&Configuration"));
    Config->setObjectName(QStringLiteral("Config"));
    LS = Config->addAction(QStringLiteral("&Liaison Série"));
    LS->setObjectName(QStringLiteral("LS"));
    ConfApp = Config->addAction(QStringLiteral("&Application"));
    ConfApp->setObjectName(QStringLiteral("ConfApp"));

    // The menu title is the command itself.
    Mesure = menuBar()->addAction(QStringLiteral("&Mesure"));
    Mesure->setObjectName(QStringLiteral("Mesure"));

    Logger = menuBar()->addMenu(QStringLiteral("&Logger"));
    Logger->setObjectName(QStringLiteral("Logger"));
    RAZfich = Logger->addAction(QStringLiteral("&Init/RAZ fichier"));
    RAZfich->setObjectName(QStringLiteral("RAZfich"));
    Extract = Logger->addAction(QStringLiteral("&Extraction Données"));
    Extract->setObjectName(QStringLiteral("Extract"));

    Historique = menuBar()->addMenu(QStringLiteral("&Historique"));
    Historique->setObjectName(QStringLiteral("Historique"));
    Alarmes = menuBar()->addMenu(QStringLiteral("&Alarmes"));
    Alarmes->setObjectName(QStringLiteral("Alarmes"));
    Diagnostic = menuBar()->addMenu(QStringLiteral("&Diagnostic"));
    Diagnostic->setObjectName(QStringLiteral("Diagnostic"));

    connect(Quitter, &QAction::triggered, this, &MERIVAL::Quitter_Click);
    connect(LS, &QAction::triggered, this, &MERIVAL::LS_Click);
    connect(ConfApp, &QAction::triggered, this, &MERIVAL::ConfApp_Click);
    connect(Mesure, &QAction::triggered, this, &MERIVAL::Mesure_Click);
    connect(RAZfich, &QAction::triggered, this, &MERIVAL::RAZfich_Click);
    connect(Extract, &QAction::triggered, this, &MERIVAL::Extract_Click);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    setCentralWidget(central);
    Picture1 = new QLabel(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    const QPixmap logo(QStringLiteral(":/merival/logo.bmp"));
    Picture1->setPixmap(logo);
    Picture1->resize(logo.size());
    resize(logo.width() + 160, logo.height() + 200);
}

MERIVAL::~MERIVAL() {
    delete mesure_.data();
}

void MERIVAL::Form_Load() {
    for (QMenu* menu : {Historique, Alarmes, Diagnostic}) {
        menu->menuAction()->setVisible(!menu->actions().isEmpty());
    }
    // Where config.txt, PortCom.dat and the exports are: the operator may not have chosen it.
    auto* folder = new QLabel(
        QStringLiteral("Dossier de travail : ") + QDir::toNativeSeparators(QDir::currentPath()),
        statusBar());
    folder->setObjectName(QStringLiteral("WorkFolder"));
    statusBar()->addWidget(folder);
    show();
    CentreLogo();
    // The design caption is empty.
    setWindowTitle(AppTitle() + windowTitle());
    showMaximized();
}

void MERIVAL::CentreLogo() {
    const QWidget* area = centralWidget();
    Picture1->move((area->width() - Picture1->width()) / 2,
                   (area->height() - Picture1->height()) / 2);
}

void MERIVAL::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    CentreLogo();
}

void MERIVAL::Quitter_Click() {
    if (commands_.endApplication) {
        commands_.endApplication();
    }
}

void MERIVAL::closeEvent(QCloseEvent* event) {
    // Form_Unload: the program ends; nothing else is asked.
    event->accept();
    Quitter_Click();
}

void MERIVAL::LS_Click() {
    if (commands_.showSerialLink) {
        commands_.showSerialLink();
    }
}

void MERIVAL::ConfApp_Click() {
    if (commands_.showConfiguration) {
        commands_.showConfiguration();
    }
}

void MERIVAL::RAZfich_Click() {
    if (commands_.showLoggerReset) {
        commands_.showLoggerReset();
    }
}

void MERIVAL::Extract_Click() {
    if (commands_.showLoggerExport) {
        commands_.showLoggerExport();
    }
}

F_Mesure* MERIVAL::MeasureWindow() const {
    return mesure_ && !mesure_->Unloaded() ? mesure_.data() : nullptr;
}

void MERIVAL::setLinkState(const QString& text) {
    linkState_ = text;
    if (F_Mesure* mesure = MeasureWindow()) {
        mesure->setLinkState(text);
    }
}

void MERIVAL::Mesure_Click() {
    state_.StopKey.clear();
    int count = 0;
    for (int k = 0; k < kChannelCount; ++k) {
        if (store_.IsSelected(k)) {
            ++count;
        }
    }
    if (count == 0) {
        op_.beep();
        op_.message(QStringLiteral("Aucune mesure de configurée"), windowTitle(),
                    OperatorIcon::Exclamation);
        return;
    }
    if (!MeasureWindow() && commands_.createMeasureWindow) {
        mesure_ = commands_.createMeasureWindow();
        if (!mesure_) {
            return;
        }
        mesure_->Form_Load();
        mesure_->setLinkState(linkState_);
    }
    if (!mesure_) {
        return;
    }
    mesure_->showMaximized();
    mesure_->raise();
    mesure_->activateWindow();
    mesure_->Minuterie1.setInterval(1000);
    mesure_->Minuterie1.start();
}

}  // namespace merival
