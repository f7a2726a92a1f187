#include "shell/QtOperator.h"

#include <QApplication>
#include <QMessageBox>

namespace merival {
namespace {
QMessageBox::Icon ToQt(OperatorIcon icon) {
    switch (icon) {
        case OperatorIcon::Information:
            return QMessageBox::Information;
        case OperatorIcon::Exclamation:
            return QMessageBox::Warning;
        case OperatorIcon::Error:
            return QMessageBox::Critical;
        case OperatorIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

void QtOperator::beep() {
    QApplication::beep();
}

void QtOperator::message(const QString& text, const QString& title, OperatorIcon icon) {
    QMessageBox box(ToQt(icon), title, KeepGuillemets(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtOperator::askYesNo(const QString& text, const QString& title, OperatorIcon icon) {
    QMessageBox box(ToQt(icon), title, KeepGuillemets(text), QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace merival
