#pragma once

#include <functional>
#include <memory>

#include "serial/LinkSettings.h"
#include "serial/SerialPortInterface.h"

namespace merival {

// The line [Liaison] names: the serial port of "PortCom.dat" or a network connection. Each
// open() reads the settings again, so a change made in the serial link dialog applies at the
// next opening; reopen() keeps the line the last open() chose. The real port is made by the
// first open(), in the thread that uses it.
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
    void close() override;
    [[nodiscard]] bool isOpen() const override { return inner_ && inner_->isOpen(); }

    [[nodiscard]] qint64 inBufferCount() const override;
    void discardInput() override;
    [[nodiscard]] qint64 outBufferCount() const override;
    void discardOutput() override;
    void write(const QByteArray& bytes) override;
    [[nodiscard]] QByteArray readAll() override;

    [[nodiscard]] std::optional<LinkTiming> timing() const override { return current_.timing; }
    [[nodiscard]] NetworkFacts networkFacts() const override;

    [[nodiscard]] const LinkSettings& current() const { return current_; }

private:
    void Replace(const LinkSettings& settings);
    static bool Busy(QString* error);

    Loader load_;
    LinkSettings current_;
    std::unique_ptr<SerialPortInterface> inner_;  // none before the first open()
    int number_ = 1;
    QString settingsText_;
    bool option2_ = false;
    bool opening_ = false;  // an open() or reopen() is waiting for its connection
};

// The program's port: the line of merival.ini in the working directory, unless `load` says
// otherwise.
[[nodiscard]] std::unique_ptr<SerialPortInterface> MakePort(LinePort::Loader load = {});

}  // namespace merival
