#pragma once

#include <QCheckBox>
#include <QWidget>
#include <array>
#include <functional>

#include "config/AppInfo.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace merival {

class ChannelStore;
class Operator;
struct MeasureState;
struct SerialSettings;

// The channel check box: three states, but a click only toggles between checked and
// unchecked (the third state comes from the file alone).
class ChannelCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override;
};

// The start-up window and the editor of the channel store. The store owns the values: the
// controls show them and write the operator's edits back.
class ConfigW : public QWidget {
    Q_OBJECT
public:
    ConfigW(ChannelStore& store, SerialSettings& settings, MeasureState& state, Operator& op,
            std::function<void()> showMainWindow, QWidget* parent = nullptr);
    ~ConfigW() override;

    // Program-wide start-up: captions, type lists, "config.txt", "PortCom.dat", block choice,
    // EscapeKey. Runs once.
    void Form_Load();
    // Applies the look of row k for its selection state.
    void Coche1_Click(int k);
    void Etiquette1_Click(int k);
    void AdresseStation_LostFocus(int k);
    // OK: refuses equal addresses on the same block, else saves and hands over.
    void Commande1_Click();
    // ABANDON: back to the file's content, then hands over.
    void Commande2_Click();

    std::array<QLabel*, kChannelCount> Etiquette1{};
    std::array<ChannelCheckBox*, kChannelCount> Coche1{};
    std::array<QComboBox*, kChannelCount> ListeTypeMesure{};
    std::array<QFrame*, kChannelCount> Frame1{};
    std::array<QLineEdit*, kChannelCount> AdresseStation{};
    // Option1..Option4 of the design: row k's pair, index 0 "Base" and 1 "Ext.".
    std::array<std::array<QRadioButton*, 2>, kChannelCount> Option{};
    // Label1..Label4 of the design: the captions beside the option pair of row k.
    std::array<std::array<QLabel*, 2>, kChannelCount> Label{};
    std::array<QLineEdit*, kChannelCount> Texte2{};
    std::array<QLabel*, 2> Etiquette5{};
    QLabel* Etiquette6 = nullptr;
    QLabel* Etiquette2 = nullptr;
    QLabel* Etiquette3 = nullptr;
    QLabel* Etiquette4 = nullptr;
    QFrame* Cadre1 = nullptr;
    QPushButton* Commande1 = nullptr;
    QPushButton* Commande2 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The close box discards the edits like ABANDON: the dialog is only ever hidden, and the
    // program never goes on without a window.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    // Edits that "config.txt" could not hold are refused, with a beep and a message.
    void RefuseUnstorableText(QLineEdit* box);
    // Shows the store's record k in the controls of row k.
    void MirrorRow(int k);
    void Warn(const QString& text);

    ChannelStore& store_;
    SerialSettings& settings_;
    MeasureState& state_;
    Operator& op_;
    std::function<void()> showMainWindow_;
    bool mirroring_ = false;
    bool returningFocus_ = false;  // the focus goes back to a refused address box
};

}  // namespace merival
