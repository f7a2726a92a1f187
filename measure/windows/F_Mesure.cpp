#include "measure/windows/F_Mesure.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLoggingCategory>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>

#include "base/Operator.h"
#include "config/ChannelStore.h"
#include "engine/MeasurementEngine.h"
#include "measure/MeasureState.h"

namespace merival {

Q_LOGGING_CATEGORY(lcMeasureWindow, "merival.measure.window", QtWarningMsg)

namespace {

const QString kDesignCaption = QStringLiteral(" [ Mesure ]");
const QString kInstrumentPicture = QStringLiteral("instrum1.bmp");
const QString kVolumeLines = QStringLiteral("\r\n\r\nVolume Journalier\r\n\r\nVolume Cumulé");

constexpr int kTitleTop = 240;
constexpr int kTitleHeight = 480;
constexpr int kShadowDx = 30;
constexpr int kShadowDy = 15;
constexpr int kButtonGap = 240;
constexpr int kButtonWidth = 1800;
constexpr int kButtonHeight = 495;
constexpr int kDecorationTopInset = 125;
constexpr int kDecorationSideInset = 60;
constexpr std::array<int, kChannelCount> kValueWidth{3290, 3290, 3290, 3285};
constexpr int kBlinkMs = 500;

QFont SansFont(double points, bool bold) {
    // The design font. Where it is missing, fonts of similar width come before the platform's
    // default sans serif, which is often too wide for the value labels' fixed width.
    static const bool substituted = [] {
        QFont::insertSubstitutions(
            QStringLiteral("MS Sans Serif"),
            {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
             QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
             QStringLiteral("Helvetica"), QStringLiteral("FreeSans")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Label captions take CR LF between lines; a label shows a line feed.
QString DisplayText(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Each line cut to the width with "…"; *cut tells whether any was.
QString ElideLines(const QString& text, const QFontMetrics& metrics, int width, bool* cut) {
    QStringList lines = text.split(u'\n');
    for (QString& line : lines) {
        const QString elided = metrics.elidedText(line, Qt::ElideRight, width);
        *cut = *cut || elided != line;
        line = elided;
    }
    return lines.join(u'\n');
}

}  // namespace

void MeasureTicker::start() {
    // The Mesure command has cleared the stop: the engine starts from a clean state too.
    if (!state_.StopRequested()) {
        engine_.clearStop();
    }
    engine_.startTicks(interval_);
}

void MeasureTicker::stop() {
    engine_.stopTicks();
}

bool MeasureTicker::isActive() const {
    return engine_.ticking();
}

F_Mesure::F_Mesure(MeasureWindowContext context, QWidget* parent)
    : QWidget(parent), Minuterie1(context.engine, context.state), context_(std::move(context)) {
    setObjectName(QStringLiteral("F_Mesure"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kDesignCaption);
    BuildControls();

    connect(&context_.engine, &MeasurementEngine::valueText, this, &F_Mesure::SetValueText);
    connect(&context_.engine, &MeasurementEngine::stopPending, this, &F_Mesure::Commande1_Click);

    // Selection and tags are shown at the next repaint; ask for one when they change.
    connect(&context_.store, &ChannelStore::selectionChanged, this, [this] { update(); });
    connect(&context_.store, &ChannelStore::recordChanged, this, [this] { update(); });
    connect(&context_.store, &ChannelStore::titlesChanged, this, [this] { update(); });
}

F_Mesure::~F_Mesure() {
    if (!halted_ && !unloaded_) {
        Minuterie1.stop();
    }
}

int F_Mesure::X(int twips) const {
    return TwipsToPixels(twips, logicalDpiX());
}

int F_Mesure::Y(int twips) const {
    return TwipsToPixels(twips, logicalDpiY());
}

void F_Mesure::BuildControls() {
    const QFont valueFont = SansFont(13.5, true);
    const QFont tagFont = SansFont(12, false);

    Feuille = new QWidget(this);
    Feuille->setObjectName(QStringLiteral("Feuille"));
    QWidget* const sheet = Feuille;

    Cadre1 = new QFrame(sheet);
    Cadre1->setObjectName(QStringLiteral("Cadre1"));
    Cadre1->setFrameShape(QFrame::Panel);
    Cadre1->setFrameShadow(QFrame::Sunken);
    Cadre1->setFont(valueFont);

    // The rows and the decoration under them live in the frame: their tops are frame
    // coordinates, so the frame ends 720 below the last value label.
    Dessin2 = new QLabel(Cadre1);
    Dessin2->setObjectName(QStringLiteral("Dessin2"));
    Dessin2->setPixmap(QPixmap(QStringLiteral(":/merival/backdrop.png")));
    Dessin2->setScaledContents(true);

    // A shadowed title: the grey copy lies under the dark one, a little right and lower.
    const QString title = QStringLiteral("Suivi des mesures");
    for (int i = 1; i >= 0; --i) {
        auto* label = new QLabel(title, sheet);
        label->setObjectName(QStringLiteral("Etiquette2_%1").arg(i));
        label->setFont(SansFont(18, true));
        label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, i == 0 ? QColor(0, 0, 128) : QColor(128, 128, 128));
        label->setPalette(palette);
        Etiquette2[static_cast<size_t>(i)] = label;
    }

    const QPixmap probe(QStringLiteral(":/merival/probe.png"));
    for (int n = 0; n < kChannelCount; ++n) {
        const auto k = static_cast<size_t>(n);

        auto* picture = new QLabel(Cadre1);
        picture->setObjectName(QStringLiteral("Dessin1_%1").arg(n));
        picture->setPixmap(probe);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Dessin1[k] = picture;

        auto* tag = new QLabel(Cadre1);
        tag->setObjectName(QStringLiteral("Etiquette1_%1").arg(n));
        tag->setFont(tagFont);
        tag->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // The system's window background and text (white and black by default).
        tag->setAutoFillBackground(true);
        QPalette tagPalette = tag->palette();
        tagPalette.setColor(QPalette::Window, tagPalette.color(QPalette::Base));
        tagPalette.setColor(QPalette::WindowText, tagPalette.color(QPalette::Text));
        tag->setPalette(tagPalette);
        Etiquette1[k] = tag;

        auto* value = new QLabel(Cadre1);
        value->setObjectName(QStringLiteral("Etiquette3_%1").arg(n));
        value->setFont(valueFont);
        value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        value->setAutoFillBackground(true);
        QPalette palette = value->palette();
        palette.setColor(QPalette::Window, QColor(0, 0, 192));
        palette.setColor(QPalette::WindowText, QColor(255, 255, 0));
        value->setPalette(palette);
        Etiquette3[k] = value;
        valuePalette_ = palette;
    }

    Commande1 = new QPushButton(QStringLiteral("ABANDON"), sheet);
    Commande1->setObjectName(QStringLiteral("Commande1"));
    connect(Commande1, &QPushButton::clicked, this, &F_Mesure::Commande1_Click);
    Acquitter = new QPushButton(QStringLiteral("Acquitter"), sheet);
    Acquitter->setObjectName(QStringLiteral("Acquitter"));
    Acquitter->hide();
    connect(Acquitter, &QPushButton::clicked, this, &F_Mesure::acknowledge);
    EtatLiaison = new QLabel(this);
    EtatLiaison->setObjectName(QStringLiteral("EtatLiaison"));
    EtatLiaison->hide();
    Clignotement.setInterval(kBlinkMs);
    connect(&Clignotement, &QTimer::timeout, this, [this] {
        blinkOn_ = !blinkOn_;
        ShowAlarms();
    });

    // Design-time geometry: the rows stacked as if every channel were selected.
    for (int n = 0; n < kChannelCount; ++n) {
        const auto k = static_cast<size_t>(n);
        const int top = design_.frameTop + kRowGap + n * (design_.valueHeight[k] + kRowGap);
        Dessin1[k]->setGeometry(X(kPictureLeft), Y(top - kPictureRise), X(kPictureWidth),
                                Y(design_.pictureHeight[k]));
        Etiquette1[k]->setGeometry(X(kTagLeft), Y(top), X(kTagWidth), Y(design_.valueHeight[k]));
        Etiquette3[k]->setGeometry(X(kValueLeft), Y(top), X(kValueWidth[k]),
                                   Y(design_.valueHeight[k]));
    }
    for (int i = 0; i < 2; ++i) {
        Etiquette2[static_cast<size_t>(i)]->setGeometry(X(kFrameLeft + i * kShadowDx),
                                                        Y(kTitleTop + i * kShadowDy),
                                                        X(kFrameWidth), Y(kTitleHeight));
    }
    const int bottom = design_.frameTop + kFrameMargin + kButtonGap;
    Cadre1->setGeometry(X(kFrameLeft), Y(design_.frameTop), X(kFrameWidth), Y(kFrameMargin));
    Commande1->setGeometry(X(kFrameLeft + (kFrameWidth - kButtonWidth) / 2), Y(bottom),
                           X(kButtonWidth), Y(kButtonHeight));
    Acquitter->setGeometry(X(kFrameLeft + kFrameWidth - kButtonWidth), Y(bottom), X(kButtonWidth),
                           Y(kButtonHeight));
    Feuille->resize(X(kFrameLeft * 2 + kFrameWidth), Y(bottom + kButtonHeight + kButtonGap));
}

void F_Mesure::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The rows keep their design geometry; a maximised window shows them centred.
    Feuille->move(qMax(0, (width() - Feuille->width()) / 2), 0);
    PlaceLinkState();
}

void F_Mesure::setLinkState(const QString& text) {
    EtatLiaison->setText(text);
    EtatLiaison->setVisible(!text.isEmpty());
    PlaceLinkState();
}

void F_Mesure::PlaceLinkState() {
    // At the foot of the window, never over the rows and their buttons.
    const int h = EtatLiaison->sizeHint().height();
    const int top = qMax(Feuille->geometry().bottom() + 1, height() - h - 4);
    EtatLiaison->setGeometry(8, top, qMax(0, width() - 16), h);
}

void F_Mesure::PlaceRows(const PaneLayout& layout) {
    for (int n = 0; n < kChannelCount; ++n) {
        const auto k = static_cast<size_t>(n);
        const PaneRow& row = layout.rows[k];
        if (!row.placed) {
            continue;
        }
        Etiquette3[k]->setGeometry(X(kValueLeft), Y(row.valueTop), X(kValueWidth[k]),
                                   Y(row.valueHeight));
        Etiquette1[k]->setGeometry(X(kTagLeft), Y(row.valueTop), X(kTagWidth), Y(row.valueHeight));
        Dessin1[k]->setGeometry(X(kPictureLeft), Y(row.pictureTop), X(kPictureWidth),
                                Y(row.pictureHeight));
        if (row.instrumentPicture) {
            const QString path = QFileInfo(kInstrumentPicture).absoluteFilePath();
            const QPixmap picture(path);
            if (picture.isNull()) {
                // The row keeps its design picture; the window opens all the same.
                qCWarning(lcMeasureWindow) << "cannot read" << path;
            } else {
                Dessin1[k]->setPixmap(picture);
            }
            Etiquette1[k]->setText(DisplayText(Etiquette1[k]->text() + kVolumeLines));
        }
    }
    Cadre1->setGeometry(X(kFrameLeft), Y(design_.frameTop), X(kFrameWidth), Y(layout.frameHeight));
    Dessin2->setGeometry(X(kDecorationSideInset), Y(kDecorationTopInset),
                         X(kFrameWidth - 2 * kDecorationSideInset), Y(layout.decorationHeight));
    const int buttonTop = design_.frameTop + layout.frameHeight + kButtonGap;
    Commande1->setGeometry(X(kFrameLeft + (kFrameWidth - kButtonWidth) / 2), Y(buttonTop),
                           X(kButtonWidth), Y(kButtonHeight));
    Acquitter->setGeometry(X(kFrameLeft + kFrameWidth - kButtonWidth), Y(buttonTop),
                           X(kButtonWidth), Y(kButtonHeight));
    Feuille->resize(X(kFrameLeft * 2 + kFrameWidth), Y(buttonTop + kButtonHeight + kButtonGap));
    setMinimumSize(Feuille->size());
    Feuille->move(qMax(0, (width() - Feuille->width()) / 2), 0);
    PlaceLinkState();
}

void F_Mesure::Form_Load() {
    setWindowTitle(AppTitle() + kDesignCaption);

    std::array<bool, kChannelCount> selected{};
    std::array<int, kChannelCount> types{};
    for (int n = 0; n < kChannelCount; ++n) {
        selected[static_cast<size_t>(n)] = context_.store.IsSelected(n);
        types[static_cast<size_t>(n)] = context_.store.ChannelType(n);
    }
    PlaceRows(LayOutChannelPanes(design_, selected, types));

    const Status opened = context_.engine.openPort(context_.settings);
    if (!opened.ok()) {
        // The window opens all the same; the channels read "HS".
        context_.op.beep();
        context_.op.message(opened.message, windowTitle(), OperatorIcon::Exclamation);
    }
}

void F_Mesure::Form_Paint() {
    for (int n = 0; n < kChannelCount; ++n) {
        const auto k = static_cast<size_t>(n);
        const bool selected = context_.store.IsSelected(n);
        if (selected) {
            SetTagText(n, DisplayText(context_.store.ChannelTitle(n)));
        }
        Etiquette1[k]->setVisible(selected);
        Etiquette3[k]->setVisible(selected);
        Dessin1[k]->setVisible(selected);
    }
}

void F_Mesure::paintEvent(QPaintEvent* event) {
    if (!halted_) {
        Form_Paint();
    }
    QWidget::paintEvent(event);
}

void F_Mesure::SetTagText(int channel, const QString& title) {
    QLabel* label = Etiquette1[static_cast<size_t>(channel)];
    bool cut = false;
    label->setText(ElideLines(title, label->fontMetrics(), label->contentsRect().width(), &cut));
    // The whole tag (the title's first line) where it had to be cut.
    label->setToolTip(cut ? title.section(u'\n', 0, 0) : QString());
}

void F_Mesure::SetValueText(int channel, const QString& text) {
    if (channel >= 0 && channel < kChannelCount) {
        Etiquette3[static_cast<size_t>(channel)]->setText(DisplayText(text));
    }
}

void F_Mesure::setRowAlarm(int channel, RowAlarm alarm) {
    if (channel < 0 || channel >= kChannelCount) {
        return;
    }
    rowAlarm_[static_cast<size_t>(channel)] = alarm;
    const bool waiting = std::any_of(rowAlarm_.begin(), rowAlarm_.end(), [](RowAlarm a) {
        return a == RowAlarm::Unacknowledged || a == RowAlarm::ReturnedUnacknowledged;
    });
    Acquitter->setVisible(waiting);
    if (waiting && !Clignotement.isActive()) {
        blinkOn_ = true;
        Clignotement.start();
    } else if (!waiting) {
        Clignotement.stop();
    }
    ShowAlarms();
}

void F_Mesure::ShowAlarms() {
    // White on dark red and black on amber both read as well as the normal yellow on blue.
    for (int n = 0; n < kChannelCount; ++n) {
        const RowAlarm alarm = rowAlarm_[static_cast<size_t>(n)];
        const bool blinking =
            alarm == RowAlarm::Unacknowledged || alarm == RowAlarm::ReturnedUnacknowledged;
        QPalette palette = valuePalette_;
        if (alarm != RowAlarm::None && (blinkOn_ || !blinking)) {
            const bool returned = alarm == RowAlarm::ReturnedUnacknowledged;
            palette.setColor(QPalette::Window, returned ? QColor(255, 176, 0) : QColor(176, 0, 0));
            palette.setColor(QPalette::WindowText, returned ? Qt::black : Qt::white);
        }
        Etiquette3[static_cast<size_t>(n)]->setPalette(palette);
    }
}

void F_Mesure::Minuterie1_Timer() {
    // No pass under the close question: its "Oui" would wait for that pass's exchanges.
    if (halted_ || unloaded_ || asking_) {
        return;
    }
    context_.engine.tick();
}

void F_Mesure::Commande1_Click() {
    if (halted_ || unloaded_) {
        return;
    }
    context_.state.StopKey = context_.state.EscapeKey;
    context_.engine.requestStop();
    if (context_.engine.passInProgress()) {
        // The pass ends after its current channel; the next tick comes back here.
        return;
    }
    Minuterie1.stop();
    context_.engine.closePort();
    programUnload_ = true;
    close();
    if (context_.showMainWindow) {
        context_.showMainWindow();
    }
}

void F_Mesure::Form_Unload() {
    if (!context_.engine.passInProgress()) {
        context_.op.beep();
    }
    unloaded_ = true;
    Minuterie1.stop();
    Q_EMIT unloaded();
}

void F_Mesure::closeEvent(QCloseEvent* event) {
    if (halted_) {
        event->ignore();
        hide();
        return;
    }
    if (!programUnload_) {
        // Form_QueryUnload: only the operator's close box asks.
        asking_ = true;
        context_.engine.setHeld(true);
        const bool quit =
            context_.op.askYesNo(QStringLiteral("Voulez-vous vraiment quitter l'application ?"),
                                 windowTitle(), OperatorIcon::Question);
        asking_ = false;
        context_.engine.setHeld(false);
        if (!quit) {
            event->ignore();
            return;
        }
        // Possibly in the middle of a pass: the window stays alive (hidden) until the program
        // has unwound, so nothing is deleted under the waiting exchange.
        event->ignore();
        Halt();
        context_.engine.closePort();
        if (context_.endApplication) {
            context_.endApplication();
        }
        return;
    }
    Form_Unload();
    event->accept();
}

void F_Mesure::Halt() {
    halted_ = true;
    // A pass in progress leaves after its current channel.
    context_.state.StopKey = context_.state.EscapeKey;
    context_.engine.requestStop();
    Minuterie1.stop();
    hide();
}

}  // namespace merival
