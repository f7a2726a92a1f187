#include "serial/LinePort.h"

#include <QScopedValueRollback>

#include "serial/QtSerialPort.h"
#include "serial/TcpPort.h"

namespace merival {

LinePort::LinePort(Loader load) : load_(std::move(load)) {
    if (!load_) {
        load_ = [] { return LoadLinkSettings(); };
    }
}

LinePort::~LinePort() = default;

void LinePort::Replace(const LinkSettings& settings) {
    if (inner_) {
        inner_->close();
    }
    current_ = settings;
    if (settings.mode == LinkMode::Serial) {
        inner_ = std::make_unique<QtSerialPort>();
    } else {
        inner_ = std::make_unique<TcpPort>(settings);
    }
    inner_->setPortNumber(number_);
    if (option2_) {
        inner_->setOption2();
    }
}

bool LinePort::setPortNumber(int number) {
    if (isOpen() || number < 1 || (inner_ && !inner_->setPortNumber(number))) {
        return false;
    }
    number_ = number;
    return true;
}

bool LinePort::setSettings(const QString& settings) {
    settingsText_ = settings;
    return !inner_ || inner_->setSettings(settings);
}

void LinePort::setOption2() {
    option2_ = true;
    if (inner_) {
        inner_->setOption2();
    }
}

void LinePort::close() {
    if (inner_) {
        inner_->close();
    }
}

qint64 LinePort::inBufferCount() const {
    return inner_ ? inner_->inBufferCount() : 0;
}

void LinePort::discardInput() {
    if (inner_) {
        inner_->discardInput();
    }
}

qint64 LinePort::outBufferCount() const {
    return inner_ ? inner_->outBufferCount() : 0;
}

void LinePort::discardOutput() {
    if (inner_) {
        inner_->discardOutput();
    }
}

void LinePort::write(const QByteArray& bytes) {
    if (inner_) {
        inner_->write(bytes);
    }
}

QByteArray LinePort::readAll() {
    return inner_ ? inner_->readAll() : QByteArray();
}

NetworkFacts LinePort::networkFacts() const {
    return inner_ ? inner_->networkFacts() : NetworkFacts{};
}

bool LinePort::open(QString* error) {
    if (opening_) {
        return Busy(error);
    }
    const LinkSettings settings = load_();
    if (!inner_ || !(settings == current_)) {
        Replace(settings);
    }
    if (!settingsText_.isEmpty() && !inner_->setSettings(settingsText_)) {
        if (error != nullptr) {
            *error = QStringLiteral("Le port COM%1 refuse les paramètres %2.")
                         .arg(number_)
                         .arg(settingsText_);
        }
        return false;
    }
    const QScopedValueRollback<bool> opening(opening_, true);
    return inner_->open(error);
}

bool LinePort::reopen(QString* error) {
    if (opening_) {
        return Busy(error);
    }
    if (!inner_) {
        return open(error);
    }
    const QScopedValueRollback<bool> opening(opening_, true);
    return inner_->reopen(error);
}

bool LinePort::Busy(QString* error) {
    // A connection may take a while, with the event loop running: a second opening meanwhile
    // (the dialog's "Dde Lecture") must not replace the port under the first.
    if (error != nullptr) {
        *error = QStringLiteral("La liaison est déjà en cours d'ouverture.");
    }
    return false;
}

std::unique_ptr<SerialPortInterface> MakePort(LinePort::Loader load) {
    return std::make_unique<LinePort>(std::move(load));
}

}  // namespace merival
