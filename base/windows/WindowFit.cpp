#include "base/windows/WindowFit.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace merival {
namespace {

// Before a window is first mapped its frame is unknown: a title bar and borders are assumed.
constexpr QMargins kAssumedFrame(8, 32, 8, 8);

QMargins FrameOf(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    const QMargins known = handle != nullptr ? handle->frameMargins() : QMargins();
    return known.isNull() ? kAssumedFrame : known;
}

class PlaceOnShow : public QObject {
public:
    explicit PlaceOnShow(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show && !placed_ &&
            !event->spontaneous()) {
            placed_ = true;
            Place();
        }
        return false;
    }

private:
    void Place() {
        QWidget* owner = window_->parentWidget() != nullptr ? window_->parentWidget()->window()
                                                            : QApplication::activeWindow();
        if (owner == window_ || (owner != nullptr && !owner->isVisible())) {
            owner = nullptr;
        }
        const QScreen* screen = owner != nullptr ? owner->screen() : window_->screen();
        if (screen == nullptr) {
            return;
        }
        const QMargins frame = FrameOf(window_);
        const QSize wanted = window_->size().grownBy(frame);
        const QRect placed =
            PlaceWindow(wanted, owner != nullptr ? owner->frameGeometry() : QRect(),
                        screen->availableGeometry());
        window_->resize(placed.size().shrunkBy(frame).expandedTo(window_->minimumSize()));
        window_->move(placed.topLeft());
        // The window manager keeps it with its owner, above it.
        if (owner != nullptr && window_->windowHandle() != nullptr) {
            window_->windowHandle()->setTransientParent(owner->windowHandle());
        }
    }

    QWidget* window_;
    bool placed_ = false;
};

class DialogKeys : public QObject {
public:
    DialogKeys(QWidget* window, QPushButton* enter, QPushButton* escape)
        : QObject(window), window_(window), enter_(enter), escape_(escape) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier) {
            return false;
        }
        if (key->key() == Qt::Key_Escape && Usable(escape_)) {
            escape_->click();
            return true;
        }
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) {
            return false;
        }
        if (auto* focused = qobject_cast<QPushButton*>(window_->focusWidget());
            focused != nullptr && Usable(focused)) {
            focused->click();
            return true;
        }
        if (Usable(enter_)) {
            enter_->setFocus(Qt::OtherFocusReason);
            if (window_->focusWidget() == enter_) {
                enter_->click();
            }
            return true;
        }
        return false;
    }

private:
    static bool Usable(const QPushButton* button) {
        return button != nullptr && button->isEnabled() && button->isVisible();
    }

    QWidget* window_;
    QPointer<QPushButton> enter_;
    QPointer<QPushButton> escape_;
};

}  // namespace

QRect PlaceWindow(QSize frame, const QRect& owner, const QRect& available) {
    const QSize size = frame.boundedTo(available.size());
    QRect placed(QPoint(), size);
    placed.moveCenter(owner.isValid() ? owner.center() : available.center());
    // Back inside the area: right and bottom edges first, so the title bar stays reachable.
    placed.moveRight(std::min(placed.right(), available.right()));
    placed.moveBottom(std::min(placed.bottom(), available.bottom()));
    placed.moveLeft(std::max(placed.left(), available.left()));
    placed.moveTop(std::max(placed.top(), available.top()));
    return placed;
}

void PlaceOnOwnerWhenShown(QWidget* window) {
    window->installEventFilter(new PlaceOnShow(window));
}

void BindDialogKeys(QWidget* window, QPushButton* enter, QPushButton* escape) {
    window->installEventFilter(new DialogKeys(window, enter, escape));
    if (enter != nullptr) {
        enter->setDefault(true);
    }
}

}  // namespace merival
