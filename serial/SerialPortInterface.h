#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "serial/ExchangeObserver.h"
#include "serial/LinkSettings.h"

namespace merival {

// Exactly what the transport needs of a serial port. Real: QSerialPort on the COMn device, or
// a TCP connection to a converter or gateway (TcpPort). Tests: a scripted fake, or the real
// one on a pseudo-terminal.
class SerialPortInterface {
public:
    virtual ~SerialPortInterface() = default;

    // Refused (false) while the port is open.
    virtual bool setPortNumber(int number) = 0;
    [[nodiscard]] virtual int portNumber() const = 0;
    // "9600,n,8,1"; false when the text is not understood.
    virtual bool setSettings(const QString& settings) = 0;
    // The one further option the program sets before opening: no flow control.
    virtual void setOption2() = 0;

    // On failure, *error receives a French text naming the port and the system's reason.
    virtual bool open(QString* error) = 0;
    // After the port was lost: opens it the way the last open did. A port opened through a
    // named entry (a link to an adapter) is reopened through that entry only.
    virtual bool reopen(QString* error) { return open(error); }
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;

    [[nodiscard]] virtual qint64 inBufferCount() const = 0;
    virtual void discardInput() = 0;
    [[nodiscard]] virtual qint64 outBufferCount() const = 0;
    virtual void discardOutput() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    [[nodiscard]] virtual QByteArray readAll() = 0;

    // The timing of the line's settings, applied by the transport when it opens the port;
    // none: the transport keeps its own.
    [[nodiscard]] virtual std::optional<LinkTiming> timing() const { return std::nullopt; }
    // Of the exchange since the last write; empty on a serial line.
    [[nodiscard]] virtual NetworkFacts networkFacts() const { return {}; }
};

}  // namespace merival
