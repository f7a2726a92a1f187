#pragma once

#include <QPointer>
#include <QWidget>

#include "base/Operator.h"

namespace merival {

// The real operator: the system beep and QMessageBox.
class QtOperator : public Operator {
public:
    void beep() override;
    void message(const QString& text, const QString& title, OperatorIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, OperatorIcon icon) override;

    // Boxes are centred on this window when it is set.
    void setParentWindow(QWidget* window) { parent_ = window; }

private:
    QPointer<QWidget> parent_;
};

}  // namespace merival
