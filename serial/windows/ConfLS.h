#pragma once

#include <QWidget>
#include <array>

#include "base/Operator.h"
#include "serial/LinkSettings.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QSpinBox;
class QPushButton;
class QRadioButton;

namespace merival {

class Operator;
class MeasurementEngine;
struct SerialSettings;

// The serial link dialog. Edits the shared SerialSettings in place. Above them, the choice of
// line: the serial port, or a network converter or gateway ([Liaison] of merival.ini).
class ConfLS : public QWidget {
    Q_OBJECT
public:
    // The line's engine holds the one port: the dialog asks it which port it holds and has
    // it opened.
    ConfLS(SerialSettings& settings, MeasurementEngine& engine, Operator& op,
           QWidget* parent = nullptr);
    ~ConfLS() override;

    // The menu entry: loads the dialog on first use (and after the close box unloaded it),
    // otherwise only shows it again.
    void ShowFromMenu();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Form_Unload();
    void Option1_Click(int index);
    void Option2_Click(int index);
    void Option3_Click(int index);
    void Option4_Click(int index);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    void PaintNow();
    void ProbePorts();
    void RestoreSettingsView();
    void ReloadSettings();
    void Report(const QString& text, OperatorIcon icon);
    // The line choice and the network fields, from and to [Liaison].
    void RestoreLinkView();
    [[nodiscard]] LinkSettings EditedLink() const;
    [[nodiscard]] Status SaveLink();
    void ShowLinkKind(bool network);

    SerialSettings& settings_;
    MeasurementEngine& engine_;
    Operator& op_;
    bool loaded_ = false;

    std::array<QRadioButton*, 4> Option1{};
    std::array<QRadioButton*, 3> Option2{};
    std::array<QRadioButton*, 3> Option3{};
    std::array<QRadioButton*, 2> Option4{};
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;

    LinkSettings link_;  // as last loaded from merival.ini
    QRadioButton* serialLine_ = nullptr;
    QRadioButton* networkLine_ = nullptr;
    QWidget* serialFrames_ = nullptr;
    QGroupBox* networkFrame_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* tcpPort_ = nullptr;
    QComboBox* kind_ = nullptr;
};

}  // namespace merival
