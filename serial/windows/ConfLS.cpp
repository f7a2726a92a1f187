#include "serial/windows/ConfLS.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "base/IniFile.h"
#include "base/windows/WindowFit.h"
#include "config/AppInfo.h"
#include "engine/MeasurementEngine.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"

namespace merival {
namespace {

constexpr int kExposeWaitMs = 500;

// One opening and closing, on a port object of its own: the one the transport owns is never
// touched, and the device is named exactly as the transport would name it.
bool PortOpens(int number) {
    QtSerialPort probe;
    if (!probe.setPortNumber(number) || !probe.open(nullptr)) {
        return false;
    }
    probe.close();
    return true;
}

template <std::size_t N>
std::array<QRadioButton*, N> AddOptions(QGroupBox* frame, const QString& control,
                                        const std::array<const char*, N>& captions) {
    std::array<QRadioButton*, N> buttons{};
    auto* layout = new QVBoxLayout(frame);
    for (std::size_t i = 0; i < N; ++i) {
        buttons[i] = new QRadioButton(QString::fromUtf8(captions[i]), frame);
        buttons[i]->setObjectName(QStringLiteral("%1_%2").arg(control).arg(i));
        layout->addWidget(buttons[i]);
    }
    layout->addStretch();
    return buttons;
}

}  // namespace

ConfLS::ConfLS(SerialSettings& settings, MeasurementEngine& engine, Operator& op, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings), engine_(engine), op_(op) {
    setObjectName(QStringLiteral("ConfLS"));
    setWindowTitle(QStringLiteral("Configuration (Liaison série)"));

    auto* portFrame = new QGroupBox(QStringLiteral("Port"), this);
    portFrame->setObjectName(QStringLiteral("Frame1"));
    Option1 = AddOptions<4>(portFrame, QStringLiteral("Option1"), {"Com1", "Com2", "Com3", "Com4"});
    auto* speedFrame = new QGroupBox(QStringLiteral("Vitesse"), this);
    speedFrame->setObjectName(QStringLiteral("Frame2"));
    Option2 = AddOptions<3>(speedFrame, QStringLiteral("Option2"), {"9600", "4800", "2400"});
    auto* parityFrame = new QGroupBox(QStringLiteral("Parité"), this);
    parityFrame->setObjectName(QStringLiteral("Frame3"));
    Option3 = AddOptions<3>(parityFrame, QStringLiteral("Option3"), {"SANS", "PAIRE", "IMPAIRE"});
    auto* stopFrame = new QGroupBox(QStringLiteral("Stop"), this);
    stopFrame->setObjectName(QStringLiteral("Frame4"));
    Option4 = AddOptions<2>(stopFrame, QStringLiteral("Option4"), {"1", "2"});

    Command1 = new QPushButton(QStringLiteral("Valider"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("Dde Lecture"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3 = new QPushButton(QStringLiteral("Abandon"), this);
    Command3->setObjectName(QStringLiteral("Command3"));

    auto* lineFrame = new QGroupBox(QStringLiteral("Liaison"), this);
    lineFrame->setObjectName(QStringLiteral("LineFrame"));
    serialLine_ = new QRadioButton(QStringLiteral("Port série"), lineFrame);
    serialLine_->setObjectName(QStringLiteral("SerialLine"));
    networkLine_ = new QRadioButton(QStringLiteral("Réseau"), lineFrame);
    networkLine_->setObjectName(QStringLiteral("NetworkLine"));
    auto* lineLayout = new QHBoxLayout(lineFrame);
    lineLayout->addWidget(serialLine_);
    lineLayout->addWidget(networkLine_);
    lineLayout->addStretch();

    // One container, so that choosing the network hides the serial frames as a whole.
    serialFrames_ = new QWidget(this);
    auto* frames = new QHBoxLayout(serialFrames_);
    frames->setContentsMargins(0, 0, 0, 0);
    frames->addWidget(portFrame);
    frames->addWidget(speedFrame);
    frames->addWidget(parityFrame);
    frames->addWidget(stopFrame);

    networkFrame_ = new QGroupBox(QStringLiteral("Réseau"), this);
    networkFrame_->setObjectName(QStringLiteral("NetworkFrame"));
    host_ = new QLineEdit(networkFrame_);
    host_->setObjectName(QStringLiteral("Host"));
    tcpPort_ = new QSpinBox(networkFrame_);
    tcpPort_->setObjectName(QStringLiteral("TcpPort"));
    tcpPort_->setRange(1, 65535);
    kind_ = new QComboBox(networkFrame_);
    kind_->setObjectName(QStringLiteral("Kind"));
    kind_->addItem(QStringLiteral("RTU sur TCP (convertisseur)"));
    kind_->addItem(QStringLiteral("Modbus TCP (passerelle)"));
    auto* networkLayout = new QFormLayout(networkFrame_);
    networkLayout->addRow(QStringLiteral("Hôte"), host_);
    networkLayout->addRow(QStringLiteral("Port"), tcpPort_);
    networkLayout->addRow(QStringLiteral("Type"), kind_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lineFrame);
    layout->addWidget(serialFrames_);
    layout->addWidget(networkFrame_);
    layout->addLayout(buttons);

    connect(networkLine_, &QRadioButton::toggled, this, [this](bool on) { ShowLinkKind(on); });
    connect(kind_, &QComboBox::currentIndexChanged, this, [this](int index) {
        // A port left at the other kind's usual number follows the kind.
        const int usual[] = {kRtuTcpDefaultPort, kModbusTcpDefaultPort};
        if (index >= 0 && tcpPort_->value() == usual[1 - index]) {
            tcpPort_->setValue(usual[index]);
        }
    });

    // Selecting a button, by the operator or by RestoreSettingsView, runs its click handler,
    // so the record and the buttons always agree.
    for (int i = 0; i < int(Option1.size()); ++i) {
        connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                Option1_Click(i);
            }
        });
    }
    for (int i = 0; i < int(Option2.size()); ++i) {
        connect(Option2[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                Option2_Click(i);
            }
        });
    }
    for (int i = 0; i < int(Option3.size()); ++i) {
        connect(Option3[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                Option3_Click(i);
            }
        });
    }
    for (int i = 0; i < int(Option4.size()); ++i) {
        connect(Option4[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                Option4_Click(i);
            }
        });
    }
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    PlaceOnOwnerWhenShown(this);
    BindDialogKeys(this, Command1, Command3);
}

ConfLS::~ConfLS() = default;

void ConfLS::ShowFromMenu() {
    if (!loaded_) {
        Form_Load();
        return;
    }
    show();
    raise();
    activateWindow();
}

void ConfLS::Form_Load() {
    loaded_ = true;
    ReloadSettings();
    RestoreLinkView();
    show();
    raise();
    PaintNow();
    ProbePorts();
    RestoreSettingsView();
}

void ConfLS::PaintNow() {
    // The window system maps a shown window a little later; opening a slow port blocks, so the
    // dialog waits (briefly) to be on screen and paints itself before the ports are tried.
    QDeadlineTimer deadline(kExposeWaitMs);
    QTimer wake;
    wake.start(10);
    while (windowHandle() != nullptr && !windowHandle()->isExposed() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
    }
    repaint();
}

void ConfLS::ReloadSettings() {
    const Status status = LoadSerialSettings(settings_);
    if (!status.ok()) {
        op_.beep();
        Report(status.message, OperatorIcon::Exclamation);
    }
}

void ConfLS::ProbePorts() {
    // The port an open measurement holds stays usable: probing it would mean closing it
    // under the measurement.
    const int held = engine_.heldPort();
    for (int number = 1; number <= int(Option1.size()); ++number) {
        Option1[number - 1]->setEnabled(number == held || PortOpens(number));
    }
}

void ConfLS::RestoreSettingsView() {
    auto select = [](auto& buttons, int index) {
        if (index < 0 || index >= int(buttons.size())) {
            index = 0;
        }
        buttons[index]->setChecked(true);
        return index;
    };
    settings_.SpeedIndex = qint16(select(Option2, settings_.SpeedIndex));
    settings_.ParityIndex = qint16(select(Option3, settings_.ParityIndex));
    settings_.StopBitsIndex = qint16(select(Option4, settings_.StopBitsIndex));
    const int port = settings_.Port;
    if (port >= 1 && port <= int(Option1.size()) && Option1[port - 1]->isEnabled()) {
        Option1[port - 1]->setChecked(true);
    } else {
        settings_.Port = 1;
        Option1[0]->setChecked(true);
    }
}

void ConfLS::Option1_Click(int index) {
    settings_.Port = qint16(index + 1);
}

void ConfLS::Option2_Click(int index) {
    settings_.SpeedIndex = qint16(index);
}

void ConfLS::Option3_Click(int index) {
    settings_.ParityIndex = qint16(index);
}

void ConfLS::Option4_Click(int index) {
    settings_.StopBitsIndex = qint16(index);
}

void ConfLS::Command1_Click() {
    for (const Status& status : {SaveSerialSettings(settings_), SaveLink()}) {
        if (!status.ok()) {
            op_.beep();
            Report(status.message, OperatorIcon::Error);
            return;
        }
    }
    hide();
}

void ConfLS::ShowLinkKind(bool network) {
    serialFrames_->setVisible(!network);
    networkFrame_->setVisible(network);
}

void ConfLS::RestoreLinkView() {
    link_ = LoadLinkSettings();
    const bool network = link_.mode != LinkMode::Serial;
    (network ? networkLine_ : serialLine_)->setChecked(true);
    ShowLinkKind(network);
    host_->setText(link_.host);
    kind_->setCurrentIndex(link_.mode == LinkMode::ModbusTcp ? 1 : 0);
    tcpPort_->setValue(network ? EffectivePort(link_) : kRtuTcpDefaultPort);
}

LinkSettings ConfLS::EditedLink() const {
    LinkSettings edited = link_;
    if (serialLine_->isChecked()) {
        edited.mode = LinkMode::Serial;
        return edited;
    }
    edited.mode = kind_->currentIndex() == 1 ? LinkMode::ModbusTcp : LinkMode::RtuTcp;
    edited.host = host_->text().trimmed();
    edited.port = tcpPort_->value();
    return edited;
}

Status ConfLS::SaveLink() {
    const LinkSettings edited = EditedLink();
    // The serial line as it was: merival.ini is left as it is (or absent).
    if (edited.mode == LinkMode::Serial && link_.mode == LinkMode::Serial) {
        return Status::Ok();
    }
    if (edited.mode != LinkMode::Serial && edited.host.isEmpty()) {
        return Status::Error(QStringLiteral("Indiquez l'hôte de la liaison réseau."));
    }
    const std::unique_ptr<QSettings> ini = OpenIni();
    SaveLinkSettings(*ini, edited);
    ini->sync();
    if (Status status = IniStatus(*ini); !status.ok()) {
        return status;
    }
    link_ = edited;
    return Status::Ok();
}

void ConfLS::Command2_Click() {
    // The one port object is busy (a measurement, or an earlier request): reopening it here
    // would pull the line from under its user.
    if (const int held = engine_.heldPort(); held != 0) {
        const QString reason = held == settings_.Port
                                   ? QStringLiteral("port déjà ouvert")
                                   : QStringLiteral("le port COM%1 est déjà ouvert").arg(held);
        op_.beep();
        Report(QStringLiteral("Impossible d'ouvrir le port COM%1 : %2.")
                   .arg(QString::number(settings_.Port), reason),
               OperatorIcon::Error);
        return;
    }
    const Status status = engine_.openPort(settings_);
    if (!status.ok()) {
        op_.beep();
        Report(status.message, OperatorIcon::Error);
    }
}

void ConfLS::Command3_Click() {
    ReloadSettings();
    RestoreSettingsView();
    RestoreLinkView();
    hide();
}

void ConfLS::Form_Unload() {
    // A running measurement may reopen its port with the record at any moment: mid-poll the
    // record is left as the operator set it.
    if (!engine_.passInProgress()) {
        ReloadSettings();
        RestoreSettingsView();
        RestoreLinkView();
    }
    loaded_ = false;
}

void ConfLS::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void ConfLS::Report(const QString& text, OperatorIcon icon) {
    op_.message(text, AppTitle(), icon);
}

}  // namespace merival
