#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>

#include "serial/GatewayInput.h"
#include "serial/LinkSettings.h"
#include "serial/SerialPortInterface.h"

namespace merival {

// A network line seen as a serial port. rtu-tcp: RTU frames pass as they are (a transparent
// converter). modbus-tcp: each RTU request goes out as its MBAP frame (unit identifier =
// station address, no CRC) and each reply of the same transaction comes back as the RTU frame
// it stands for, CRC computed; a reply of another transaction is dropped.
//
// The connection is made by open() and kept. After it was refused or lost, reopen() tries again
// only once a delay has passed (1 s, growing up to 30 s) and otherwise fails at once: the
// measurement keeps its pace and nothing spins.
class TcpPort : public QObject, public SerialPortInterface {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxInput = GatewayInput::kMaxInput;
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kLastDelayMs = 30000;

    explicit TcpPort(LinkSettings settings, QObject* parent = nullptr);
    ~TcpPort() override;

    bool setPortNumber(int number) override;
    [[nodiscard]] int portNumber() const override { return number_; }
    // The converter or gateway keeps the serial settings of its own line.
    bool setSettings(const QString&) override { return true; }
    void setOption2() override {}

    bool open(QString* error) override;
    bool reopen(QString* error) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override;

    [[nodiscard]] qint64 inBufferCount() const override;
    void discardInput() override;
    [[nodiscard]] qint64 outBufferCount() const override;
    void discardOutput() override {}
    void write(const QByteArray& bytes) override;
    [[nodiscard]] QByteArray readAll() override;

    [[nodiscard]] std::optional<LinkTiming> timing() const override { return settings_.timing; }
    [[nodiscard]] NetworkFacts networkFacts() const override { return facts_; }

    // Replies of another transaction dropped since the port was made.
    [[nodiscard]] qint64 strayCount() const { return input_.strays(); }
    // Before the next try after a refusal or a loss; 0 when none is pending.
    [[nodiscard]] int retryDelayMs() const;
    // The wait after this many refusals or losses in a row: 1, 1, 2, 2, 4, 4 ... 30 s.
    [[nodiscard]] static int DelayAfter(int failures);

    // The MBAP frame of an RTU request (CRC dropped).
    [[nodiscard]] static QByteArray MbapRequest(const QByteArray& rtu, quint16 transaction);

private:
    bool Connect(QString* error);
    void Failed(LinkFault fault);
    // Moves what the socket has into input_.
    void Pull() const;
    void OnDisconnected();
    [[nodiscard]] QString Where() const;

    LinkSettings settings_;
    int number_ = 1;
    mutable QTcpSocket socket_;
    mutable GatewayInput input_;
    mutable NetworkFacts facts_;
    quint16 transaction_ = 0;
    bool connected_ = false;  // the socket reached the connected state since open()
    int failures_ = 0;
    QElapsedTimer sinceFailure_;
};

}  // namespace merival
