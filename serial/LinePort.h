#pragma once

#include <functional>
#include <memory>

#include "serial/LinkSettings.h"
#include "serial/SerialPortInterface.h"

namespace merival {

// The line [Liaison] names: the serial port of "PortCom.dat" or a network connection. Each
// open() reads the settings again, so a change made in the serial link dialog applies at the
// next opening; reopen() keeps the line the last open() chose.
class LinePort : public SerialPortInterface {
public:
    using Loader = std::function<LinkSettings()>;
    explicit LinePort(Loader load);
    ~LinePort() override;

    bool setPortNumber(int number) override;
    [[nodiscard]] int portNumber() const override { return number_; }
    bool setSettings(const QString& settings) override;
    void setOption2() override;

    bool open(QString* error) override;
    bool reopen(QString* error) override;
    void close() override { inner_->close(); }
    [[nodiscard]] bool isOpen() const override { return inner_->isOpen(); }

    [[nodiscard]] qint64 inBufferCount() const override { return inner_->inBufferCount(); }
    void discardInput() override { inner_->discardInput(); }
    [[nodiscard]] qint64 outBufferCount() const override { return inner_->outBufferCount(); }
    void discardOutput() override { inner_->discardOutput(); }
    void write(const QByteArray& bytes) override { inner_->write(bytes); }
    [[nodiscard]] QByteArray readAll() override { return inner_->readAll(); }

    [[nodiscard]] std::optional<LinkTiming> timing() const override { return current_.timing; }
    [[nodiscard]] NetworkFacts networkFacts() const override { return inner_->networkFacts(); }

    [[nodiscard]] const LinkSettings& current() const { return current_; }

private:
    void Replace(const LinkSettings& settings);
    static bool Busy(QString* error);

    Loader load_;
    LinkSettings current_;
    std::unique_ptr<SerialPortInterface> inner_;
    int number_ = 1;
    QString settingsText_;
    bool option2_ = false;
    bool opening_ = false;  // an open() or reopen() is waiting for its connection
};

// The program's port: the line of merival.ini in the working directory, unless `load` says
// otherwise.
[[nodiscard]] std::unique_ptr<SerialPortInterface> MakePort(LinePort::Loader load = {});

}  // namespace merival
