#include "alarms/windows/AlarmSettingsDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "base/IniFile.h"
#include "base/Operator.h"
#include "base/windows/WindowFit.h"
#include "config/AppInfo.h"
#include "config/ChannelStore.h"

namespace merival {
namespace {

// Beyond this a limit or deadband is a typing slip, not a measurement.
constexpr double kHuge = 1e15;

QLineEdit* NumberField(QWidget* parent, const QString& name, int n) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QStringLiteral("%1%2").arg(name).arg(n));
    field->setMaximumWidth(110);
    return field;
}

}  // namespace

AlarmSettingsDialog::AlarmSettingsDialog(const ChannelStore& store, Operator& op,
                                         QChar decimalSeparator,
                                         std::function<void(const AlarmSettings&)> saved,
                                         std::function<QString(int)> mainUnit, QWidget* parent)
    : QWidget(parent),
      store_(store),
      op_(op),
      decimalSeparator_(decimalSeparator),
      saved_(std::move(saved)),
      mainUnit_(std::move(mainUnit)) {
    setObjectName(QStringLiteral("Seuils"));
    setWindowTitle(AppTitle() + QStringLiteral(" - Seuils d'alarme"));
    setWindowFlag(Qt::Dialog);
    BuildControls();
    PlaceOnOwnerWhenShown(this);
    BindDialogKeys(this, Valider, Abandon);
}

void AlarmSettingsDialog::BuildControls() {
    auto* channels = new QGroupBox(QStringLiteral("Valeur principale de chaque voie"), this);
    auto* grid = new QGridLayout(channels);
    const QStringList headers = {QString(), QStringLiteral("Seuil bas"),
                                 QStringLiteral("Seuil haut"), QStringLiteral("Bande morte"),
                                 QStringLiteral("Retard (s)")};
    for (int c = 0; c < headers.size(); ++c) {
        grid->addWidget(new QLabel(headers[c], channels), 0, c);
    }
    for (int n = 0; n < kChannelCount; ++n) {
        titles_[n] = new QLabel(channels);
        grid->addWidget(titles_[n], n + 1, 0);
        const auto limit = [&](std::array<QCheckBox*, kChannelCount>& boxes,
                               std::array<QLineEdit*, kChannelCount>& fields, const QString& box,
                               const QString& field, int column) {
            auto* cell = new QWidget(channels);
            auto* row = new QHBoxLayout(cell);
            row->setContentsMargins(0, 0, 0, 0);
            boxes[n] = new QCheckBox(cell);
            boxes[n]->setObjectName(QStringLiteral("%1%2").arg(box).arg(n));
            fields[n] = NumberField(cell, field, n);
            row->addWidget(boxes[n]);
            row->addWidget(fields[n]);
            Unite[n][column - 1] = new QLabel(cell);
            Unite[n][column - 1]->setObjectName(QStringLiteral("Unite%1%2").arg(field).arg(n));
            Unite[n][column - 1]->setMinimumWidth(40);
            row->addWidget(Unite[n][column - 1]);
            grid->addWidget(cell, n + 1, column);
            connect(boxes[n], &QCheckBox::toggled, this, &AlarmSettingsDialog::UpdateEnabled);
            connect(boxes[n], &QCheckBox::clicked, this, [this, n] {
                edited_[n] = true;
                ShowUnits();
            });
            connect(fields[n], &QLineEdit::textEdited, this, [this, n] {
                edited_[n] = true;
                ShowUnits();
            });
        };
        limit(CocheBas, SeuilBas, QStringLiteral("CocheBas"), QStringLiteral("SeuilBas"), 1);
        limit(CocheHaut, SeuilHaut, QStringLiteral("CocheHaut"), QStringLiteral("SeuilHaut"), 2);
        auto* deadband = new QWidget(channels);
        auto* deadbandRow = new QHBoxLayout(deadband);
        deadbandRow->setContentsMargins(0, 0, 0, 0);
        BandeMorte[n] = NumberField(deadband, QStringLiteral("BandeMorte"), n);
        Unite[n][2] = new QLabel(deadband);
        Unite[n][2]->setObjectName(QStringLiteral("UniteBandeMorte%1").arg(n));
        Unite[n][2]->setMinimumWidth(40);
        deadbandRow->addWidget(BandeMorte[n]);
        deadbandRow->addWidget(Unite[n][2]);
        grid->addWidget(deadband, n + 1, 3);
        Retard[n] = NumberField(channels, QStringLiteral("Retard"), n);
        grid->addWidget(Retard[n], n + 1, 4);
    }

    auto* stations = new QGroupBox(QStringLiteral("Stations muettes"), this);
    auto* loss = new QGridLayout(stations);
    CochePerte = new QCheckBox(QStringLiteral("Perte de communication après"), stations);
    CochePerte->setObjectName(QStringLiteral("CochePerte"));
    PerteCommunication = NumberField(stations, QStringLiteral("PerteCommunication"), 0);
    PerteCommunication->setObjectName(QStringLiteral("PerteCommunication"));
    IntervalleStationMuette = NumberField(stations, QStringLiteral("Intervalle"), 0);
    IntervalleStationMuette->setObjectName(QStringLiteral("IntervalleStationMuette"));
    loss->addWidget(CochePerte, 0, 0);
    loss->addWidget(PerteCommunication, 0, 1);
    loss->addWidget(new QLabel(QStringLiteral("passages HS de suite"), stations), 0, 2);
    loss->addWidget(
        new QLabel(QStringLiteral("Interroger une station perdue toutes les"), stations), 1, 0);
    loss->addWidget(IntervalleStationMuette, 1, 1);
    loss->addWidget(new QLabel(QStringLiteral("s"), stations), 1, 2);
    connect(CochePerte, &QCheckBox::toggled, this, &AlarmSettingsDialog::UpdateEnabled);

    auto* command = new QGroupBox(QStringLiteral("Commande sur alarme (facultative)"), this);
    auto* form = new QGridLayout(command);
    Commande = new QLineEdit(command);
    Commande->setObjectName(QStringLiteral("Commande"));
    Arguments = new QLineEdit(command);
    Arguments->setObjectName(QStringLiteral("Arguments"));
    form->addWidget(new QLabel(QStringLiteral("Programme"), command), 0, 0);
    form->addWidget(Commande, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("Arguments"), command), 1, 0);
    form->addWidget(Arguments, 1, 1);
    form->addWidget(
        new QLabel(QStringLiteral("suivis de : événement, voie, repère, valeur"), command), 2, 1);

    Valider = new QPushButton(QStringLiteral("Valider"), this);
    Valider->setObjectName(QStringLiteral("Valider"));
    Abandon = new QPushButton(QStringLiteral("Abandon"), this);
    Abandon->setObjectName(QStringLiteral("Abandon"));
    connect(Valider, &QPushButton::clicked, this, [this] { Valider_Click(); });
    connect(Abandon, &QPushButton::clicked, this, &QWidget::hide);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Valider);
    buttons->addWidget(Abandon);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(channels);
    layout->addWidget(stations);
    layout->addWidget(command);
    layout->addLayout(buttons);
}

void AlarmSettingsDialog::UpdateEnabled() {
    for (int n = 0; n < kChannelCount; ++n) {
        SeuilBas[n]->setEnabled(CocheBas[n]->isChecked());
        SeuilHaut[n]->setEnabled(CocheHaut[n]->isChecked());
    }
    PerteCommunication->setEnabled(CochePerte->isChecked());
}

QString AlarmSettingsDialog::LimitsUnit(int n) const {
    const QString reading = mainUnit_ ? mainUnit_(n) : QString();
    if (edited_[n] || savedUnits_[n].isEmpty()) {
        return reading.isEmpty() ? savedUnits_[n] : reading;
    }
    return savedUnits_[n];
}

void AlarmSettingsDialog::ShowUnits() {
    for (int n = 0; n < kChannelCount; ++n) {
        for (QLabel* label : Unite[n]) {
            label->setText(LimitsUnit(n));
        }
    }
}

void AlarmSettingsDialog::Fill(const AlarmSettings& s) {
    const auto number = [this](double value) { return TypedNumber(value, decimalSeparator_); };
    for (int n = 0; n < kChannelCount; ++n) {
        const QString tag = store_.Record(n).Tag.trimmed();
        titles_[n]->setText(QStringLiteral("Voie %1").arg(n) +
                            (tag.isEmpty() ? QString() : QStringLiteral(" - ") + tag));
        const ChannelAlarmSettings& c = s.channels[n];
        CocheBas[n]->setChecked(c.low.has_value());
        SeuilBas[n]->setText(c.low ? number(*c.low) : QString());
        CocheHaut[n]->setChecked(c.high.has_value());
        SeuilHaut[n]->setText(c.high ? number(*c.high) : QString());
        BandeMorte[n]->setText(number(c.deadband));
        Retard[n]->setText(number(c.delaySeconds));
        savedUnits_[n] = c.unit;
        edited_[n] = false;
    }
    ShowUnits();
    CochePerte->setChecked(s.lossPasses > 0);
    PerteCommunication->setText(QString::number(s.lossPasses > 0 ? s.lossPasses : 3));
    IntervalleStationMuette->setText(number(s.silentIntervalSeconds));
    Commande->setText(s.command);
    Arguments->setText(s.arguments);
    UpdateEnabled();
}

void AlarmSettingsDialog::ShowFromMenu() {
    const auto ini = OpenIni();
    Fill(LoadAlarmSettings(*ini));
    show();
    raise();
    activateWindow();
}

bool AlarmSettingsDialog::Refuse(QLineEdit* field, const QString& text) {
    op_.beep();
    op_.message(text, AppTitle(), OperatorIcon::Exclamation);
    field->setFocus();
    field->selectAll();
    return false;
}

std::optional<AlarmSettings> AlarmSettingsDialog::Read() {
    AlarmSettings s;
    const QString separator = QStringLiteral(" (séparateur décimal « %1 »)").arg(decimalSeparator_);
    // A field's number within [min, max]; empty gives the fallback when there is one.
    const auto read = [&](QLineEdit* field, const QString& what, double min, double max,
                          std::optional<double> empty) -> std::optional<double> {
        if (field->text().trimmed().isEmpty() && empty) {
            return empty;
        }
        const std::optional<double> value = ParseTypedNumber(field->text(), decimalSeparator_);
        if (!value) {
            Refuse(field, QStringLiteral("%1 : « %2 » n'est pas un nombre%3.")
                              .arg(what, field->text().trimmed(), separator));
            return std::nullopt;
        }
        // Limits that only keep numbers sane are not worth naming.
        if ((*value < min && min <= -kHuge) || (*value > max && max >= kHuge)) {
            Refuse(field, QStringLiteral("%1 : « %2 » est hors des valeurs admises.")
                              .arg(what, field->text().trimmed()));
            return std::nullopt;
        }
        if (*value < min && max >= kHuge) {
            Refuse(field,
                   QStringLiteral("%1 : « %2 » est inférieur à %3.")
                       .arg(what, field->text().trimmed(), TypedNumber(min, decimalSeparator_)));
            return std::nullopt;
        }
        if (*value < min || *value > max) {
            Refuse(field, QStringLiteral("%1 doit être compris entre %2 et %3.")
                              .arg(what, TypedNumber(min, decimalSeparator_),
                                   TypedNumber(max, decimalSeparator_)));
            return std::nullopt;
        }
        return value;
    };
    for (int n = 0; n < kChannelCount; ++n) {
        const QString voie = QStringLiteral("Voie %1 : ").arg(n);
        ChannelAlarmSettings& c = s.channels[n];
        if (CocheBas[n]->isChecked()) {
            c.low = read(SeuilBas[n], voie + QStringLiteral("seuil bas"), -kHuge, kHuge, {});
            if (!c.low) {
                return std::nullopt;
            }
        }
        if (CocheHaut[n]->isChecked()) {
            c.high = read(SeuilHaut[n], voie + QStringLiteral("seuil haut"), -kHuge, kHuge, {});
            if (!c.high) {
                return std::nullopt;
            }
        }
        if (c.low && c.high && *c.low >= *c.high) {
            Refuse(SeuilHaut[n], voie + QStringLiteral("le seuil haut doit être supérieur au "
                                                       "seuil bas."));
            return std::nullopt;
        }
        const auto deadband =
            read(BandeMorte[n], voie + QStringLiteral("bande morte"), 0, kHuge, 0);
        const auto delay = read(Retard[n], voie + QStringLiteral("retard"), 0, 86400, 0);
        if (!deadband || !delay) {
            return std::nullopt;
        }
        c.deadband = *deadband;
        c.delaySeconds = *delay;
        c.unit = LimitsUnit(n);
    }
    if (CochePerte->isChecked()) {
        const auto passes = read(PerteCommunication,
                                 QStringLiteral("Perte de communication (passages)"), 1, 10000, {});
        if (!passes) {
            return std::nullopt;
        }
        if (*passes != std::floor(*passes)) {
            Refuse(PerteCommunication, QStringLiteral("Perte de communication : le nombre de "
                                                      "passages doit être entier."));
            return std::nullopt;
        }
        s.lossPasses = static_cast<int>(*passes);
    } else {
        s.lossPasses = 0;
    }
    const auto interval = read(IntervalleStationMuette,
                               QStringLiteral("Intervalle d'une station perdue (s)"), 1, 3600, {});
    if (!interval) {
        return std::nullopt;
    }
    s.silentIntervalSeconds = *interval;
    s.command = Commande->text().trimmed();
    s.arguments = Arguments->text();
    return s;
}

bool AlarmSettingsDialog::Valider_Click() {
    const std::optional<AlarmSettings> settings = Read();
    if (!settings) {
        return false;
    }
    const auto ini = OpenIni();
    SaveAlarmSettings(*ini, *settings);
    ini->sync();
    if (const Status written = IniStatus(*ini); !written.ok()) {
        op_.beep();
        op_.message(written.message, AppTitle(), OperatorIcon::Error);
        return false;
    }
    if (saved_) {
        saved_(*settings);
    }
    hide();
    return true;
}

}  // namespace merival
