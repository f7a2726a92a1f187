#pragma once

// Stand-ins for the serial port and the station exchange, shared by the window tests.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#include <QKeyEvent>
#endif
#include <QString>
#include <QThread>
#include <functional>
#include <map>
#include <ostream>
#include <vector>

#include "instruments/Polling.h"
#include "serial/SerialPortInterface.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace merival::test {

// A port that opens (or refuses to) and records what is done to it. No byte ever arrives.
class FakePort : public SerialPortInterface {
public:
    bool setPortNumber(int number) override {
        if (open_) {
            return false;
        }
        number_ = number;
        return true;
    }
    [[nodiscard]] int portNumber() const override { return number_; }
    bool setSettings(const QString& settings) override {
        settings_ = settings;
        return true;
    }
    void setOption2() override {}
    bool open(QString* error) override {
        ++opens;
        if (!openError.isEmpty()) {
            if (error != nullptr) {
                *error = openError;
            }
            return false;
        }
        open_ = true;
        return true;
    }
    void close() override {
        if (open_) {
            ++closes;
        }
        open_ = false;
    }
    [[nodiscard]] bool isOpen() const override { return open_; }
    [[nodiscard]] qint64 inBufferCount() const override { return 0; }
    void discardInput() override {}
    [[nodiscard]] qint64 outBufferCount() const override { return 0; }
    void discardOutput() override {}
    void write(const QByteArray& bytes) override { written.append(bytes); }
    [[nodiscard]] QByteArray readAll() override { return {}; }

    QString openError;  // non-empty: open fails with this text
    int opens = 0;
    int closes = 0;
    QString settings_;
    QByteArray written;

private:
    int number_ = 1;
    bool open_ = false;
};

// Answers exchanges from a per-address table; an address without an entry is silent. A hook
// runs in the middle of an exchange, where the real transport lets window events run.
class ScriptedReader : public RegisterReader {
public:
    ExchangeResult ExchangeReadRegisters(double address, quint16 firstRegister) override {
        requests.push_back({address, firstRegister});
        if (duringExchange) {
            // One use: the hook may start a nested loop or end the program.
            auto hook = std::move(duringExchange);
            duringExchange = nullptr;
            hook();
        }
        const auto it = replies.find(static_cast<int>(address));
        if (it == replies.end()) {
            return {};
        }
        return {true, it->second};
    }

    struct Request {
        double address;
        quint16 firstRegister;
    };
    std::map<int, QByteArray> replies;
    std::vector<Request> requests;
    std::function<void()> duringExchange;
};

#ifdef QT_WIDGETS_LIB
// A key pressed in a widget: what the widget leaves goes up to its window, as typing does.
inline void PressKey(QWidget* widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}
#endif

// Runs the event loop until the condition holds or the generous limit is reached; the result
// says which. Never used to judge speed.
inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = 30000) {
    QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace merival::test
