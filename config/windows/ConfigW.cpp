#include "config/windows/ConfigW.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QValidator>

#include "base/Operator.h"
#include "base/Windows1252.h"
#include "base/windows/WindowFit.h"
#include "config/ChannelStore.h"
#include "measure/MeasureState.h"
#include "serial/SerialSettings.h"

namespace merival {
namespace {

const QString kCaption = QStringLiteral("Configuration [ Application ]  ");
const QString kTitle = QStringLiteral("Paramétrage des voies de mesure");

const QColor kSelectedBox(0, 255, 0);
const QColor kUnselectedBox(255, 255, 255);
const QColor kSelectedLabel(0, 0, 255);
const QColor kUnselectedLabel(128, 128, 128);

// 30 x 15 twips at the screen's resolution.
constexpr int kShadowDxTwips = 30;
constexpr int kShadowDyTwips = 15;

Qt::CheckState ToCheckState(qint16 selected) {
    switch (selected) {
        case 0:
            return Qt::Unchecked;
        case 1:
            return Qt::Checked;
        default:
            return Qt::PartiallyChecked;
    }
}

qint16 FromCheckState(Qt::CheckState state) {
    switch (state) {
        case Qt::Unchecked:
            return 0;
        case Qt::Checked:
            return 1;
        default:
            return 2;
    }
}

void SetColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

// Hidden controls keep their place, so the columns do not move when rows change state.
void KeepPlaceWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

// "config.txt" stores texts in Windows-1252 between double quotes, with no escape: an edit
// that brings in a double quote or a character outside that set is refused whole.
class StorableTextValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        for (const QChar c : input) {
            if (c == QLatin1Char('"') || !InWindows1252(c)) {
                refused_ = c;
                return Invalid;
            }
        }
        return Acceptable;
    }
    [[nodiscard]] QChar refused() const { return refused_; }

private:
    mutable QChar refused_;
};

QString RefusalText(QChar c) {
    const QString why = c == QLatin1Char('"') ? QStringLiteral("le guillemet y termine le texte")
                                              : QStringLiteral("jeu de caractères Windows-1252");
    return QStringLiteral(
               "Caractère refusé : « %1 ». Le fichier « config.txt » ne peut pas "
               "l'enregistrer (%2).")
        .arg(c.isSurrogate() ? QStringLiteral("?") : QString(c), why);
}

}  // namespace

void ChannelCheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

ConfigW::ConfigW(ChannelStore& store, SerialSettings& settings, MeasureState& state, Operator& op,
                 std::function<void()> showMainWindow, QWidget* parent)
    : QWidget(parent),
      store_(store),
      settings_(settings),
      state_(state),
      op_(op),
      showMainWindow_(std::move(showMainWindow)) {
    setObjectName(QStringLiteral("ConfigW"));
    BuildControls();
    for (int k = 0; k < kChannelCount; ++k) {
        MirrorRow(k);
        Coche1_Click(k);
    }
    connect(&store_, &ChannelStore::recordChanged, this, &ConfigW::MirrorRow);
    connect(&store_, &ChannelStore::selectionChanged, this, &ConfigW::Coche1_Click);
}

ConfigW::~ConfigW() = default;

void ConfigW::BuildControls() {
    setAutoFillBackground(true);
    SetColor(this, QPalette::Window, QColor(192, 192, 192));

    auto* outer = new QVBoxLayout(this);

    // The shadowed title: the grey copy under the red one, 30 x 15 twips lower right.
    auto* titleBox = new QWidget(this);
    titleBox->setObjectName(QStringLiteral("TitleBox"));
    QFont titleFont = font();
    titleFont.setPointSizeF(18);
    titleFont.setBold(true);
    const int dx = qMax(1, logicalDpiX() * kShadowDxTwips / 1440);
    const int dy = qMax(1, logicalDpiY() * kShadowDyTwips / 1440);
    const QSize titleSize = QFontMetrics(titleFont).size(0, kTitle) + QSize(dx + 4, dy + 4);
    titleBox->setFixedSize(titleSize);
    for (int i = 1; i >= 0; --i) {
        auto* label = new QLabel(kTitle, titleBox);
        label->setObjectName(QStringLiteral("Etiquette5_%1").arg(i));
        label->setFont(titleFont);
        SetColor(label, QPalette::WindowText, i == 0 ? QColor(255, 0, 0) : QColor(128, 128, 128));
        label->move(i * dx, i * dy);
        label->resize(titleSize);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Etiquette5[static_cast<size_t>(i)] = label;
    }
    outer->addWidget(titleBox, 0, Qt::AlignHCenter);
    outer->addSpacing(12);

    // The rows and the buttons keep their natural width, centred in the maximised dialog.
    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("Corps"));
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(16);
    Cadre1 = new QFrame(body);
    Cadre1->setObjectName(QStringLiteral("Cadre1"));
    Cadre1->setFrameShape(QFrame::Box);
    auto* grid = new QGridLayout(Cadre1);
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(10);

    auto heading = [this](const QString& name, const QString& text) {
        auto* label = new QLabel(text, Cadre1);
        label->setObjectName(name);
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
        return label;
    };
    Etiquette6 = heading(QStringLiteral("Etiquette6"), QStringLiteral("Sélection"));
    Etiquette2 = heading(QStringLiteral("Etiquette2"), QStringLiteral("Type de mesure"));
    Etiquette3 = heading(QStringLiteral("Etiquette3"), QStringLiteral("Station"));
    Etiquette4 = heading(QStringLiteral("Etiquette4"), QStringLiteral("Repère"));
    grid->addWidget(Etiquette6, 0, 0, 1, 2, Qt::AlignLeft);
    grid->addWidget(Etiquette2, 0, 2);
    grid->addWidget(Etiquette3, 0, 3);
    grid->addWidget(Etiquette4, 0, 4);

    for (int k = 0; k < kChannelCount; ++k) {
        const auto r = static_cast<size_t>(k);
        const int row = k + 1;

        auto* label = new QLabel(QStringLiteral("Voie %1").arg(k), Cadre1);
        label->setObjectName(QStringLiteral("Etiquette1_%1").arg(k));
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        Etiquette1[r] = label;
        grid->addWidget(label, row, 0);

        auto* box = new ChannelCheckBox(Cadre1);
        box->setObjectName(QStringLiteral("Coche1_%1").arg(k));
        box->setTristate(true);
        box->setAutoFillBackground(true);
        box->setFixedSize(box->sizeHint() + QSize(8, 8));
        connect(box, &QCheckBox::clicked, this,
                [this, k] { store_.setSelected(k, FromCheckState(Coche1[k]->checkState())); });
        Coche1[r] = box;
        grid->addWidget(box, row, 1);

        auto* list = new QComboBox(Cadre1);
        list->setObjectName(QStringLiteral("ListeTypeMesure_%1").arg(k));
        list->setEditable(false);
        list->setMinimumContentsLength(12);
        connect(list, &QComboBox::activated, this,
                [this, k](int index) { store_.setTypeIndex(k, static_cast<qint16>(index)); });
        KeepPlaceWhenHidden(list);
        ListeTypeMesure[r] = list;
        grid->addWidget(list, row, 2);

        auto* frame = new QFrame(Cadre1);
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(k));
        frame->setFrameShape(QFrame::StyledPanel);
        auto* frameLayout = new QHBoxLayout(frame);
        frameLayout->setContentsMargins(6, 2, 6, 2);
        auto* address = new QLineEdit(frame);
        address->setObjectName(QStringLiteral("AdresseStation_%1").arg(k));
        RefuseUnstorableText(address);
        const int digit = address->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        address->setMinimumWidth(digit * 6);
        address->setMaximumWidth(digit * 8);
        address->setAutoFillBackground(true);
        SetColor(address, QPalette::Text, QColor(0, 0, 255));
        SetColor(address, QPalette::Base, QColor(255, 255, 255));
        address->installEventFilter(this);
        KeepPlaceWhenHidden(address);
        connect(address, &QLineEdit::textEdited, this,
                [this, k](const QString& text) { store_.setAddress(k, text); });
        AdresseStation[r] = address;
        frameLayout->addWidget(address);
        const std::array<QString, 2> captions{QStringLiteral("Base"), QStringLiteral("Ext.")};
        for (int i = 0; i < 2; ++i) {
            const auto j = static_cast<size_t>(i);
            auto* option = new QRadioButton(frame);
            option->setObjectName(QStringLiteral("Option%1_%2").arg(k + 1).arg(i));
            // Exclusivity belongs to the store; the buttons only show it.
            option->setAutoExclusive(false);
            connect(option, &QRadioButton::clicked, this, [this, k, i] {
                if (i == 0) {
                    store_.setBaseBlock(k, true);
                } else {
                    store_.setExtBlock(k, true);
                }
                MirrorRow(k);
            });
            auto* caption = new QLabel(captions[j], frame);
            caption->setObjectName(QStringLiteral("Label%1_%2").arg(k + 1).arg(i));
            caption->setBuddy(option);
            Option[r][j] = option;
            Label[r][j] = caption;
            frameLayout->addSpacing(8);
            frameLayout->addWidget(option);
            frameLayout->addWidget(caption);
            // Hidden until the version gate opens at load.
            option->hide();
            caption->hide();
        }
        KeepPlaceWhenHidden(frame);
        Frame1[r] = frame;
        grid->addWidget(frame, row, 3);

        auto* tag = new QLineEdit(Cadre1);
        tag->setObjectName(QStringLiteral("Texte2_%1").arg(k));
        RefuseUnstorableText(tag);
        tag->setMinimumWidth(tag->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 18);
        connect(tag, &QLineEdit::textEdited, this,
                [this, k](const QString& text) { store_.setTag(k, text); });
        KeepPlaceWhenHidden(tag);
        Texte2[r] = tag;
        grid->addWidget(tag, row, 4);
    }
    grid->setColumnStretch(4, 1);
    bodyLayout->addWidget(Cadre1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Commande1 = new QPushButton(QStringLiteral("OK"), body);
    Commande1->setObjectName(QStringLiteral("Commande1"));
    Commande2 = new QPushButton(QStringLiteral("ABANDON"), body);
    Commande2->setObjectName(QStringLiteral("Commande2"));
    for (QPushButton* b : {Commande1, Commande2}) {
        b->setMinimumWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("ABANDON")) + 48);
        buttons->addWidget(b);
    }
    bodyLayout->addLayout(buttons);
    outer->addWidget(body, 0, Qt::AlignHCenter);
    outer->addStretch(1);
    connect(Commande1, &QPushButton::clicked, this, &ConfigW::Commande1_Click);
    connect(Commande2, &QPushButton::clicked, this, &ConfigW::Commande2_Click);
    BindDialogKeys(this, Commande1, Commande2);
}

void ConfigW::RefuseUnstorableText(QLineEdit* box) {
    auto* validator = new StorableTextValidator(box);
    box->setValidator(validator);
    connect(box, &QLineEdit::inputRejected, this, [this, validator] {
        if (!validator->refused().isNull()) {
            Warn(RefusalText(validator->refused()));
        }
    });
}

void ConfigW::MirrorRow(int k) {
    if (k < 0 || k >= kChannelCount || mirroring_) {
        return;
    }
    mirroring_ = true;
    const auto r = static_cast<size_t>(k);
    const ChannelRecord& record = store_.Record(k);
    Coche1[r]->setCheckState(ToCheckState(record.Selected));
    const int index = record.TypeIndex >= 0 && record.TypeIndex < ListeTypeMesure[r]->count()
                          ? record.TypeIndex
                          : -1;
    ListeTypeMesure[r]->setCurrentIndex(index);
    // Text the operator is typing is the store's text already; leave the cursor alone.
    if (AdresseStation[r]->text() != record.Address) {
        AdresseStation[r]->setText(record.Address);
    }
    if (Texte2[r]->text() != record.Tag) {
        Texte2[r]->setText(record.Tag);
    }
    Option[r][0]->setChecked(record.BaseBlock);
    Option[r][1]->setChecked(record.ExtBlock);
    mirroring_ = false;
}

void ConfigW::Form_Load() {
    setWindowTitle(kCaption);
    for (int k = 0; k < kChannelCount; ++k) {
        Label[k][0]->setText(QStringLiteral("Base"));
        Label[k][1]->setText(QStringLiteral("Ext."));
        Etiquette1[k]->setText(QStringLiteral("Voie %1").arg(k));
    }
    Commande2->setText(QStringLiteral("ABANDON"));
    Etiquette6->setText(QStringLiteral("Sélection"));
    Etiquette4->setText(QStringLiteral("Repère"));
    Etiquette3->setText(QStringLiteral("Station"));
    Etiquette2->setText(QStringLiteral("Type de mesure"));
    for (QLabel* label : Etiquette5) {
        label->setText(kTitle);
    }
    showMaximized();

    for (QComboBox* list : ListeTypeMesure) {
        list->clear();
        list->addItems(InstrumentTypeList());
    }
    for (int k = 0; k < kChannelCount; ++k) {
        MirrorRow(k);
    }

    const Status config = store_.LoadChannelConfig();
    if (!config.ok()) {
        Warn(config.message);
    }
    const Status serial = LoadSerialSettings(settings_);
    if (!serial.ok()) {
        Warn(serial.message);
    }

    if (BlockChoiceEnabled()) {
        for (int k = 0; k < kChannelCount; ++k) {
            for (int i = 0; i < 2; ++i) {
                Option[k][i]->show();
                Label[k][i]->show();
            }
            // A hidden frame does not lay itself out: without this, the columns keep the width
            // of an address box alone until a row is selected.
            Frame1[k]->layout()->activate();
        }
    }
    state_.EscapeKey = QString(QChar(27));
}

void ConfigW::Coche1_Click(int k) {
    if (k < 0 || k >= kChannelCount) {
        return;
    }
    const auto r = static_cast<size_t>(k);
    const bool selected = store_.IsSelected(k);
    SetColor(Coche1[r], QPalette::Window, selected ? kSelectedBox : kUnselectedBox);
    SetColor(Coche1[r], QPalette::Button, selected ? kSelectedBox : kUnselectedBox);
    SetColor(Etiquette1[r], QPalette::WindowText, selected ? kSelectedLabel : kUnselectedLabel);
    ListeTypeMesure[r]->setVisible(selected);
    Frame1[r]->setVisible(selected);
    AdresseStation[r]->setVisible(selected);
    Texte2[r]->setVisible(selected);
}

void ConfigW::Etiquette1_Click(int k) {
    if (k < 0 || k >= kChannelCount) {
        return;
    }
    store_.setSelected(k, store_.Record(k).Selected == 1 ? 0 : 1);
}

void ConfigW::AdresseStation_LostFocus(int k) {
    if (k < 0 || k >= kChannelCount) {
        return;
    }
    const double address = NumericPrefix(AdresseStation[k]->text());
    if (address > 14 || address < 1) {
        op_.beep();
        op_.message(QStringLiteral("Erreur d'adresse"), AppTitle(), OperatorIcon::Exclamation);
        returningFocus_ = true;
        AdresseStation[k]->setFocus(Qt::OtherFocusReason);
        returningFocus_ = false;
    }
}

bool ConfigW::eventFilter(QObject* watched, QEvent* event) {
    for (int k = 0; k < kChannelCount; ++k) {
        if (watched == Etiquette1[k] && event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            Etiquette1_Click(k);
            return true;
        }
        if (watched == AdresseStation[k] && event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Leaving the field counts; a switch to another window or a menu does not, nor does
            // the focus leaving a box because another refused box takes it back, nor a box
            // hidden by its row being deselected.
            const bool leaves = reason != Qt::ActiveWindowFocusReason &&
                                reason != Qt::PopupFocusReason &&
                                reason != Qt::MenuBarFocusReason && reason != Qt::NoFocusReason;
            if (leaves && !returningFocus_ && AdresseStation[k]->isVisibleTo(this)) {
                AdresseStation_LostFocus(k);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConfigW::Warn(const QString& text) {
    op_.beep();
    op_.message(text, AppTitle(), OperatorIcon::Exclamation);
}

void ConfigW::Commande1_Click() {
    bool conflict = false;
    for (int i = 0; i < kChannelCount; ++i) {
        for (int j = i + 1; j < kChannelCount; ++j) {
            if (store_.IsSelected(i) && store_.IsSelected(j) &&
                store_.ChannelAddress(i) == store_.ChannelAddress(j) &&
                store_.IsBaseBlock(i) == store_.IsBaseBlock(j)) {
                conflict = true;
                AdresseStation[i]->setFocus(Qt::OtherFocusReason);
            }
        }
    }
    if (conflict) {
        Warn(QStringLiteral("les adresses doivent être différentes"));
        return;
    }
    const Status saved = store_.SaveChannelConfig();
    if (!saved.ok()) {
        // Nothing was handed over: the operator can retry or abandon.
        Warn(saved.message);
        return;
    }
    store_.BuildChannelTitles();
    hide();
    if (showMainWindow_) {
        showMainWindow_();
    }
}

void ConfigW::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (isVisible()) {
        Commande2_Click();
    }
}

void ConfigW::Commande2_Click() {
    const Status loaded = store_.LoadChannelConfig();
    if (!loaded.ok()) {
        Warn(loaded.message);
    }
    store_.BuildChannelTitles();
    hide();
    if (showMainWindow_) {
        showMainWindow_();
    }
}

}  // namespace merival
