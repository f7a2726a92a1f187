#include "config/AppInfo.h"

namespace merival {
namespace {
const QString kProductWord = QStringLiteral("MERIVAL  ");
const QString kVersionSuffix = QStringLiteral(" V 2.19");
constexpr double kBlockChoiceThreshold = 1.01;
}  // namespace

QString AppTitle() {
    return kProductWord + kVersionSuffix;
}

double VersionNumber() {
    return kVersionSuffix.right(4).toDouble();
}

bool BlockChoiceEnabled() {
    return VersionNumber() > kBlockChoiceThreshold;
}

const QStringList& InstrumentTypeList() {
    static const QStringList list = {
        QStringLiteral("Résistivité"), QStringLiteral("Conductivité"), QStringLiteral("pH"),
        QStringLiteral("Rh"),          QStringLiteral("Oxygène"),      QStringLiteral("Débit"),
        QStringLiteral("Chlore"),      QStringLiteral("C_TOR"),        QStringLiteral("NaCl"),
        QStringLiteral("NaOH"),        QStringLiteral("HCl"),          QStringLiteral("H2SO4"),
        QStringLiteral("Turbidité"),   QStringLiteral("R_847"),        QStringLiteral("738     "),
        QStringLiteral("562     "),
    };
    return list;
}

}  // namespace merival
