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
// Limits hold in a unit, shown beside their fields: the one they were saved with, or, for
// limits typed anew, the unit of the channel's latest reading (mainUnit, empty if none).
class AlarmSettingsDialog : public QWidget {
    Q_OBJECT
public:
    AlarmSettingsDialog(const ChannelStore& store, Operator& op, QChar decimalSeparator,
                        std::function<void(const AlarmSettings&)> saved,
                        std::function<QString(int channel)> mainUnit = {},
                        QWidget* parent = nullptr);

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
    // The unit beside the low limit, the high limit and the deadband of each channel.
    std::array<std::array<QLabel*, 3>, kChannelCount> Unite{};
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
    [[nodiscard]] QString LimitsUnit(int channel) const;
    void ShowUnits();

    const ChannelStore& store_;
    Operator& op_;
    QChar decimalSeparator_;
    std::function<void(const AlarmSettings&)> saved_;
    std::function<QString(int)> mainUnit_;
    std::array<QLabel*, kChannelCount> titles_{};
    std::array<QString, kChannelCount> savedUnits_{};
    std::array<bool, kChannelCount> edited_{};
};

}  // namespace merival
