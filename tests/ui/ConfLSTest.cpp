#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/ChannelStore.h"
#include "engine/MeasurementEngine.h"
#include "instruments/Polling.h"
#include "measure/MeasureState.h"
#include "serial/LinkSettings.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"
#include "serial/Transport.h"
#include "serial/windows/ConfLS.h"
#include "ui/UiFakes.h"

using namespace merival;
using merival::test::CurrentTempDir;
using merival::test::ScriptedOperator;

namespace {

// A pseudo-terminal whose slave end is linked as COMn in the current directory. The master
// stays open for the object's lifetime, so the slave can be opened.
class LinkedPty {
public:
    explicit LinkedPty(int portNumber) : link_(QStringLiteral("COM%1").arg(portNumber)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        const char* slave = ptsname(master_);
        if (slave != nullptr) {
            QFile::remove(link_);
            linked_ = QFile::link(QString::fromLocal8Bit(slave), link_);
        }
    }
    ~LinkedPty() {
        QFile::remove(link_);
        if (master_ >= 0) {
            ::close(master_);
        }
    }
    LinkedPty(const LinkedPty&) = delete;
    LinkedPty& operator=(const LinkedPty&) = delete;

    [[nodiscard]] bool ok() const { return linked_; }
    // The line speed the slave side is set to (the pair shares one termios).
    [[nodiscard]] speed_t speed() const {
        termios t{};
        return tcgetattr(master_, &t) == 0 ? cfgetospeed(&t) : B0;
    }

private:
    QString link_;
    int master_ = -1;
    bool linked_ = false;
};

// A COMn entry that names no device, so the port is absent whatever the machine has.
void LinkAbsentPort(int portNumber) {
    QFile::link(QStringLiteral("/nonexistent/merival-tty%1").arg(portNumber),
                QStringLiteral("COM%1").arg(portNumber));
}

// COM1 and COM2 present, COM3 and COM4 absent, and a PortCom.dat with the given record.
struct Bench {
    explicit Bench(const SerialSettings& stored) {
        LinkAbsentPort(3);
        LinkAbsentPort(4);
        EXPECT_TRUE(com1.ok() && com2.ok()) << "pseudo-terminals unavailable";
        EXPECT_TRUE(dir.write(QStringLiteral("PortCom.dat"), WriteSerialSettingsText(stored)));
        state.EscapeKey = QString(QChar(27));
    }

    QRadioButton* option(const char* control, int index) const {
        return dialog.findChild<QRadioButton*>(QStringLiteral("%1_%2").arg(control).arg(index));
    }
    QPushButton* command(int index) const {
        return dialog.findChild<QPushButton*>(QStringLiteral("Command%1").arg(index));
    }
    std::array<bool, 4> portsEnabled() const {
        std::array<bool, 4> enabled{};
        for (int i = 0; i < 4; ++i) {
            enabled[i] = option("Option1", i)->isEnabled();
        }
        return enabled;
    }
    // The record the selected buttons stand for (-1 where none is selected).
    SerialSettings selection() const {
        const auto checked = [this](const char* control, int count) {
            for (int i = 0; i < count; ++i) {
                if (option(control, i)->isChecked()) {
                    return qint16(i);
                }
            }
            return qint16(-1);
        };
        return {qint16(checked("Option1", 4) + 1), checked("Option2", 3), checked("Option3", 3),
                checked("Option4", 2)};
    }
    QByteArray stored() const { return dir.read(QStringLiteral("PortCom.dat")); }

    CurrentTempDir dir;
    LinkedPty com1{1};
    LinkedPty com2{2};
    SerialSettings settings{4, 2, 2, 1};  // what the start-up read, overwritten by the load
    QtSerialPort port;
    Transport transport{port, settings};
    MeasureState state;
    TransportRegisterReader reader{transport};
    ChannelStore store;
    MeasurementEngine engine{transport, reader, store, state, QLatin1Char(',')};
    ScriptedOperator op;
    ConfLS dialog{settings, engine, op};
};

constexpr std::array<bool, 4> kCom1And2{true, true, false, false};

}  // namespace

TEST(ConfLS, LoadProbesPortsAndSelectsTheStoredRecord) {
    const struct {
        const char* name;
        SerialSettings stored;
        SerialSettings shown;
    } rows[] = {
        {"present port kept", {2, 1, 1, 1}, {2, 1, 1, 1}},
        {"absent port becomes COM1", {3, 2, 2, 0}, {1, 2, 2, 0}},
        {"absent COM4 becomes COM1", {4, 0, 0, 1}, {1, 0, 0, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench b(row.stored);
        b.dialog.ShowFromMenu();
        EXPECT_TRUE(b.dialog.isVisible());
        EXPECT_TRUE(b.op.shown.empty()) << b.op.texts().join('|').toStdString();
        EXPECT_EQ(b.portsEnabled(), kCom1And2);
        EXPECT_EQ(b.settings, row.shown);
        EXPECT_EQ(b.selection(), row.shown);
        // The replacement is not saved until "Valider".
        EXPECT_EQ(b.stored(), WriteSerialSettingsText(row.stored));
    }
}

TEST(ConfLS, PaintedBeforeThePortsAreTried) {
    // The absent Com4 is enabled until the probing disables it: a paint that sees it enabled
    // happened before the ports were tried.
    struct FirstPaint : QObject {
        int paints = 0;
        bool enabledThen = false;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint && paints++ == 0) {
                enabledThen = qobject_cast<QWidget*>(watched)->isEnabled();
            }
            return false;
        }
    } seen;
    Bench b({1, 0, 0, 0});
    b.option("Option1", 3)->installEventFilter(&seen);
    b.dialog.ShowFromMenu();
    EXPECT_GE(seen.paints, 1);
    EXPECT_TRUE(seen.enabledThen);
    EXPECT_FALSE(b.option("Option1", 3)->isEnabled());
}

TEST(ConfLS, ProbingSkipsThePortHeldByTheTransport) {
    Bench b({2, 0, 0, 0});
    b.settings.Port = 2;
    ASSERT_TRUE(b.transport.OpenPort().ok());
    b.dialog.ShowFromMenu();
    // A second opening of the held line would fail: without the skip Com2 would be disabled
    // and the record moved to COM1.
    EXPECT_EQ(b.portsEnabled(), kCom1And2);
    EXPECT_EQ(b.settings.Port, 2);
    EXPECT_TRUE(b.transport.IsOpen());
}

TEST(ConfLS, FileProblemsAreReportedAndTheDialogGoesOn) {
    {
        SCOPED_TRACE("missing PortCom.dat");
        Bench b({1, 0, 0, 0});
        QFile::remove(b.dir.filePath("PortCom.dat"));
        b.dialog.ShowFromMenu();
        ASSERT_EQ(b.op.shown.size(), 1u);
        EXPECT_TRUE(b.op.shown[0].text.contains("PortCom.dat"));
        EXPECT_EQ(b.op.shown[0].icon, OperatorIcon::Exclamation);
        EXPECT_TRUE(b.dialog.isVisible());
        EXPECT_EQ(b.selection(), b.settings);
    }
    {
        SCOPED_TRACE("save refused");
        Bench b({1, 0, 0, 0});
        b.dialog.ShowFromMenu();
        QFile::remove(b.dir.filePath("PortCom.dat"));
        ASSERT_TRUE(QDir(b.dir.path()).mkdir("PortCom.dat"));
        b.command(1)->click();
        EXPECT_TRUE(b.dialog.isVisible());
        ASSERT_EQ(b.op.shown.size(), 1u);
        EXPECT_TRUE(b.op.shown[0].text.contains("PortCom.dat"));
        EXPECT_EQ(b.op.shown[0].icon, OperatorIcon::Error);
        EXPECT_EQ(b.op.beeps, 1);
    }
}

TEST(ConfLS, ValiderSavesAbandonAndCloseBoxRevert) {
    const SerialSettings stored{2, 0, 1, 0};
    const SerialSettings edited{1, 2, 1, 0};
    const struct {
        const char* name;
        int command;  // 0: the close box; with a key, the button that has the focus (-1: none)
        int key;
        bool polling;
        SerialSettings after;
    } rows[] = {
        {"Valider", 1, 0, false, edited},
        {"Abandon", 3, 0, false, stored},
        {"close box", 0, 0, false, stored},
        {"close box during a poll", 0, 0, true, edited},
        {"Enter", -1, Qt::Key_Return, false, edited},
        {"Escape", -1, Qt::Key_Escape, false, stored},
        {"Enter on Abandon", 3, Qt::Key_Enter, false, stored},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench b(stored);
        b.dialog.ShowFromMenu();
        b.option("Option2", 2)->click();
        b.option("Option1", 0)->click();
        b.state.PollInProgress = row.polling;
        if (row.key != 0) {
            QWidget* focus = row.command > 0 ? static_cast<QWidget*>(b.command(row.command))
                                             : b.option("Option1", 0);
            focus->setFocus();
            test::PressKey(focus, row.key);
        } else if (row.command == 0) {
            b.dialog.close();
        } else {
            b.command(row.command)->click();
        }
        EXPECT_FALSE(b.dialog.isVisible());
        EXPECT_EQ(b.settings, row.after);
        EXPECT_EQ(b.selection(), row.after);
        const bool saved = std::string(row.name) == "Valider" || row.key == Qt::Key_Return;
        EXPECT_EQ(b.stored(), WriteSerialSettingsText(saved ? edited : stored));
        EXPECT_TRUE(b.op.shown.empty());
    }
}

TEST(ConfLS, HiddenDialogReshowsAsLeftClosedDialogLoadsAnew) {
    Bench b({1, 0, 0, 0});
    b.dialog.ShowFromMenu();
    b.option("Option2", 1)->click();
    b.command(1)->click();  // saved and hidden

    // COM3 appears, and the file changes behind the dialog's back.
    LinkedPty com3(3);
    ASSERT_TRUE(b.dir.write("PortCom.dat", WriteSerialSettingsText({3, 2, 0, 0})));
    b.dialog.ShowFromMenu();
    EXPECT_TRUE(b.dialog.isVisible());
    EXPECT_EQ(b.portsEnabled(), kCom1And2);                  // no probing
    EXPECT_EQ(b.selection(), (SerialSettings{1, 1, 0, 0}));  // no reload

    b.dialog.close();
    b.dialog.ShowFromMenu();
    EXPECT_EQ(b.portsEnabled(), (std::array<bool, 4>{true, true, true, false}));
    EXPECT_EQ(b.settings, (SerialSettings{3, 2, 0, 0}));
    EXPECT_EQ(b.selection(), b.settings);
}

TEST(ConfLS, DdeLectureOpensTheSelectedLineOrSaysWhyNot) {
    const struct {
        const char* name;
        int heldPort;     // 0: nothing open before the click
        bool removeCom2;  // the device vanishes after the probing
        QString reason;   // empty: the port opens
    } rows[] = {
        {"opens", 0, false, ""},
        {"device gone", 0, true, "COM2"},
        {"same port already open", 2, false, "port déjà ouvert"},
        {"other port already open", 1, false, "le port COM1 est déjà ouvert"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench b({1, 0, 0, 0});
        b.dialog.ShowFromMenu();
        if (row.heldPort != 0) {
            b.settings.Port = qint16(row.heldPort);
            ASSERT_TRUE(b.transport.OpenPort().ok());
        }
        if (row.removeCom2) {
            QFile::remove("COM2");
            LinkAbsentPort(2);
        }
        b.option("Option1", 1)->click();
        b.option("Option2", 1)->click();
        b.command(2)->click();
        EXPECT_TRUE(b.dialog.isVisible());
        EXPECT_EQ(b.stored(), WriteSerialSettingsText({1, 0, 0, 0}));  // nothing saved
        if (row.reason.isEmpty()) {
            EXPECT_TRUE(b.op.shown.empty()) << b.op.texts().join('|').toStdString();
            ASSERT_TRUE(b.transport.IsOpen());
            EXPECT_EQ(b.port.portNumber(), 2);
            EXPECT_EQ(b.com2.speed(), speed_t(B4800));
            continue;
        }
        ASSERT_EQ(b.op.shown.size(), 1u);
        const QString text = b.op.shown[0].text;
        EXPECT_TRUE(text.contains("COM2") && text.contains(row.reason)) << text.toStdString();
        EXPECT_EQ(b.op.shown[0].icon, OperatorIcon::Error);
        EXPECT_EQ(b.op.beeps, 1);
        // A port that was open stays open on its line, at its speed.
        EXPECT_EQ(b.transport.IsOpen(), row.heldPort != 0);
        if (row.heldPort != 0) {
            EXPECT_EQ(b.port.portNumber(), row.heldPort);
            EXPECT_EQ((row.heldPort == 1 ? b.com1 : b.com2).speed(), speed_t(B9600));
        }
    }
}

TEST(ConfLS, UsableWhileAnExchangeWaits) {
    Bench b({1, 0, 0, 0});
    b.settings = {1, 0, 0, 0};
    ASSERT_TRUE(b.transport.OpenPort().ok());
    b.transport.setTimeOuts(2000, 300);  // nobody answers on the line
    b.state.PollInProgress = true;

    bool waiting = true;
    bool usedDuringWait = false;
    QTimer::singleShot(0, &b.dialog, [&] {
        b.dialog.ShowFromMenu();
        b.option("Option2", 2)->click();
        b.command(1)->click();
        usedDuringWait = waiting && !b.dialog.isVisible();
    });
    b.transport.ClearInput();
    b.transport.SendFrame(QByteArray::fromHex("0103000000084409"));
    const ReplyResult reply = b.transport.ReadReply(21);
    waiting = false;

    EXPECT_FALSE(reply.ok);
    EXPECT_TRUE(usedDuringWait);
    EXPECT_EQ(b.stored(), WriteSerialSettingsText({1, 2, 0, 0}));
    // The saved speed waits for the next opening; the open line keeps its own.
    EXPECT_TRUE(b.transport.IsOpen());
    EXPECT_EQ(b.com1.speed(), speed_t(B9600));
    EXPECT_TRUE(b.option("Option1", 0)->isEnabled());
}

TEST(ConfLS, NetworkChoiceGoesToMerivalIniAndTheSerialChoiceLeavesItAlone) {
    Bench b({2, 1, 1, 1});
    b.dialog.ShowFromMenu();
    auto* serialLine = b.dialog.findChild<QRadioButton*>(QStringLiteral("SerialLine"));
    auto* networkLine = b.dialog.findChild<QRadioButton*>(QStringLiteral("NetworkLine"));
    auto* network = b.dialog.findChild<QWidget*>(QStringLiteral("NetworkFrame"));
    ASSERT_TRUE(serialLine && networkLine && network);
    EXPECT_TRUE(serialLine->isChecked());
    EXPECT_FALSE(network->isVisible());
    const QByteArray portCom = b.stored();

    // Valider with the serial port: PortCom.dat as before, no merival.ini appears.
    b.command(1)->click();
    EXPECT_EQ(b.stored(), portCom);
    EXPECT_FALSE(QFile::exists(b.dir.filePath(QStringLiteral("merival.ini"))));

    b.dialog.ShowFromMenu();
    networkLine->setChecked(true);
    EXPECT_TRUE(network->isVisible());
    EXPECT_FALSE(b.option("Option1", 1)->isVisible());
    EXPECT_TRUE(b.option("Option1", 1)->isEnabled());
    b.command(1)->click();  // no host yet
    ASSERT_EQ(b.op.texts().size(), 1);
    EXPECT_TRUE(b.op.texts()[0].contains(QStringLiteral("hôte")));
    b.dialog.findChild<QLineEdit*>(QStringLiteral("Host"))->setText(QStringLiteral(" 10.1.2.3 "));
    b.dialog.findChild<QComboBox*>(QStringLiteral("Kind"))->setCurrentIndex(1);
    EXPECT_EQ(b.dialog.findChild<QSpinBox*>(QStringLiteral("TcpPort"))->value(), 502);
    b.command(1)->click();
    EXPECT_FALSE(b.dialog.isVisible());
    EXPECT_EQ(b.stored(), portCom);
    LinkSettings link = LoadLinkSettings();
    EXPECT_EQ(link.mode, LinkMode::ModbusTcp);
    EXPECT_EQ(link.host, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(EffectivePort(link), 502);

    // Abandon puts back what was saved; choosing the serial port again is saved as such.
    b.dialog.ShowFromMenu();
    serialLine->setChecked(true);
    b.command(3)->click();
    b.dialog.ShowFromMenu();
    EXPECT_TRUE(networkLine->isChecked());
    serialLine->setChecked(true);
    b.command(1)->click();
    EXPECT_EQ(LoadLinkSettings().mode, LinkMode::Serial);
    EXPECT_EQ(b.stored(), portCom);
}
