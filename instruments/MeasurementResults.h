#pragma once

#include <QString>

namespace merival {

// The last decoded values, shared by all channels: each successful poll overwrites its
// family's fields, the cycle scales some of them in place while formatting.
struct MeasurementResults {
    double FlowRate = 0;
    qint16 FlowRange = 0;
    double DailyVolume = 0;
    double CumulatedVolume = 0;
    double PhValue = 0;
    double RedoxValue = 0;
    double ConductivityValue = 0;
    qint16 ConductivityRange = 0;
    double ResistivityValue = 0;
    qint16 ResistivityRange = 0;
    double TemperatureValue = 0;
    double SecondResistivityValue = 0;
    double OxygenValue = 0;
    qint16 OxygenUnitFlag = 0;
    double ChlorineValue = 0;
    double TurbidityValue = 0;
    qint16 TurbidityRange = 0;
    QString TurbidityUnit;
    double Model562Value = 0;
    qint16 Model562Range = 0;
    QString Model562Unit;
    double Model738Value = 0;
    qint16 Model738Range = 0;
    QString Model738Unit;

    bool operator==(const MeasurementResults&) const = default;
};

}  // namespace merival
