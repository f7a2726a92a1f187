#pragma once

#include <QChar>
#include <QWidget>
#include <array>
#include <functional>

#include "alarms/AlarmSettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace merival {

class ChannelStore;
class Operator;

// "Alarmes > Seuils…": the alarm settings of merival.ini. Numbers are typed with the locale's
// decimal separator; Valider refuses bad input with a French message and saves nothing then.
class AlarmSettingsDialog : public QWidget {
    Q_OBJECT
public:
    AlarmSettingsDialog(const ChannelStore& store, Operator& op, QChar decimalSeparator,
                        std::function<void(const AlarmSettings&)> saved, QWidget* parent = nullptr);

    // Fills the fields from merival.ini and shows the dialog.
    void ShowFromMenu();
    // Checks every field, then saves and hides; false (with a message) when a field is bad.
    bool Valider_Click();

    std::array<QCheckBox*, kChannelCount> CocheBas{};
    std::array<QLineEdit*, kChannelCount> SeuilBas{};
    std::array<QCheckBox*, kChannelCount> CocheHaut{};
    std::array<QLineEdit*, kChannelCount> SeuilHaut{};
    std::array<QLineEdit*, kChannelCount> BandeMorte{};
    std::array<QLineEdit*, kChannelCount> Retard{};
    QCheckBox* CochePerte = nullptr;
    QLineEdit* PerteCommunication = nullptr;
    QLineEdit* IntervalleStationMuette = nullptr;
    QLineEdit* Commande = nullptr;
    QLineEdit* Arguments = nullptr;
    QPushButton* Valider = nullptr;
    QPushButton* Abandon = nullptr;

private:
    void BuildControls();
    void Fill(const AlarmSettings& settings);
    // The settings the fields hold, or nullopt after telling the operator what is wrong.
    [[nodiscard]] std::optional<AlarmSettings> Read();
    bool Refuse(QLineEdit* field, const QString& text);
    void UpdateEnabled();

    const ChannelStore& store_;
    Operator& op_;
    QChar decimalSeparator_;
    std::function<void(const AlarmSettings&)> saved_;
    std::array<QLabel*, kChannelCount> titles_{};
};

}  // namespace merival
