#include "serial/LinePort.h"

#include <QScopedValueRollback>

#include "serial/QtSerialPort.h"
#include "serial/TcpPort.h"

namespace merival {

LinePort::LinePort(Loader load) : load_(std::move(load)) {
    if (!load_) {
        load_ = [] { return LoadLinkSettings(); };
    }
    Replace(LinkSettings{});
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
    if (!settingsText_.isEmpty()) {
        inner_->setSettings(settingsText_);
    }
    if (option2_) {
        inner_->setOption2();
    }
}

bool LinePort::setPortNumber(int number) {
    if (!inner_->setPortNumber(number)) {
        return false;
    }
    number_ = number;
    return true;
}

bool LinePort::setSettings(const QString& settings) {
    settingsText_ = settings;
    return inner_->setSettings(settings);
}

void LinePort::setOption2() {
    option2_ = true;
    inner_->setOption2();
}

bool LinePort::open(QString* error) {
    if (opening_) {
        return Busy(error);
    }
    const LinkSettings settings = load_();
    if (!(settings == current_)) {
        Replace(settings);
    }
    const QScopedValueRollback<bool> opening(opening_, true);
    return inner_->open(error);
}

bool LinePort::reopen(QString* error) {
    if (opening_) {
        return Busy(error);
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
