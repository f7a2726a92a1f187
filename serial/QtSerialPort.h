#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include "serial/SerialPortInterface.h"

namespace merival {

// The real port: a QSerialPort on the device of COMn. Received bytes are collected on
// readyRead into a bounded buffer; a read or resource error ends the port (it is closed, and
// the transport opens it again before a later exchange).
class QtSerialPort : public QObject, public SerialPortInterface {
    Q_OBJECT
public:
    static constexpr qsizetype kMaxInput = 4096;

    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    // Windows: "COMn". Elsewhere: the entry COMn of the current directory if there is one
    // (normally a symbolic link, resolved), otherwise /dev/ttyS<n-1>.
    [[nodiscard]] static QString DeviceForPort(int n);

    bool setPortNumber(int number) override;
    [[nodiscard]] int portNumber() const override { return number_; }
    bool setSettings(const QString& settings) override;
    void setOption2() override;

    bool open(QString* error) override;
    // Through the COMn entry the last open found, never the fallback device: while the entry
    // is missing (simulator stopped, adapter unplugged) this fails.
    bool reopen(QString* error) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override;

    [[nodiscard]] qint64 inBufferCount() const override { return input_.size(); }
    void discardInput() override;
    [[nodiscard]] qint64 outBufferCount() const override;
    void discardOutput() override;
    void write(const QByteArray& bytes) override;
    [[nodiscard]] QByteArray readAll() override;

    // The device the last open used ("" before any).
    [[nodiscard]] QString device() const { return device_; }

private:
    bool OpenDevice(const QString& device, QString* error);
    // Finishes the close a read or resource error queued, before the port is used again.
    void DropLostPort();
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    [[nodiscard]] static QString ReasonText(QSerialPort::SerialPortError error);

    QSerialPort serial_;
    int number_ = 1;
    QString device_;
    QString entry_;        // the COMn entry the last open went through; "" for the fallback
    int entryNumber_ = 0;  // the port number that entry_ belongs to
    QByteArray input_;
    bool lost_ = false;  // a read or resource error ended the port; closing is queued
};

}  // namespace merival
