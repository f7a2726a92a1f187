#include "serial/QtSerialPort.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "serial/FrameLog.h"

namespace merival {

// The device is a child, so that the port moves to the thread of the line that uses it.
QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent), serial_(this) {
    connect(&serial_, &QSerialPort::readyRead, this, &QtSerialPort::OnReadyRead);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::OnError);
}

QtSerialPort::~QtSerialPort() {
    serial_.close();
}

namespace {

#ifndef Q_OS_WIN
QString EntryPath(int n) {
    return QDir::current().filePath(QStringLiteral("COM%1").arg(n));
}

// The device an entry of the working directory names; "" when there is no such entry.
QString EntryDevice(const QString& path) {
    const QFileInfo entry(path);
    if (entry.isSymLink()) {
        // Resolved so that two links to one device share Qt's lock on it. A dangling link
        // still names the operator's device: opening it then fails with a clear reason.
        const QString target = entry.canonicalFilePath();
        return target.isEmpty() ? entry.symLinkTarget() : target;
    }
    if (entry.exists()) {
        return entry.absoluteFilePath();
    }
    return {};
}
#endif

}  // namespace

QString QtSerialPort::DeviceForPort(int n) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QString device = EntryDevice(EntryPath(n));
    return device.isEmpty() ? QStringLiteral("/dev/ttyS%1").arg(n - 1) : device;
#endif
}

bool QtSerialPort::setPortNumber(int number) {
    if (isOpen() || number < 1) {
        return false;
    }
    number_ = number;
    return true;
}

bool QtSerialPort::setSettings(const QString& settings) {
    DropLostPort();
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4) {
        return false;
    }
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0) {
        return false;
    }
    QSerialPort::Parity parity = QSerialPort::NoParity;
    const QString letter = parts[1].trimmed().toLower();
    if (letter == QLatin1String("n")) {
        parity = QSerialPort::NoParity;
    } else if (letter == QLatin1String("e")) {
        parity = QSerialPort::EvenParity;
    } else if (letter == QLatin1String("o")) {
        parity = QSerialPort::OddParity;
    } else if (letter == QLatin1String("m")) {
        parity = QSerialPort::MarkParity;
    } else if (letter == QLatin1String("s")) {
        parity = QSerialPort::SpaceParity;
    } else {
        return false;
    }
    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8) {
        return false;
    }
    QSerialPort::StopBits stop = QSerialPort::OneStop;
    const QString stopText = parts[3].trimmed();
    if (stopText == QLatin1String("1")) {
        stop = QSerialPort::OneStop;
    } else if (stopText == QLatin1String("1.5")) {
        stop = QSerialPort::OneAndHalfStop;
    } else if (stopText == QLatin1String("2")) {
        stop = QSerialPort::TwoStop;
    } else {
        return false;
    }
    // Stored by QSerialPort and applied when it opens: pseudo-terminals refuse some of them
    // on an open line.
    return serial_.setBaudRate(baud) && serial_.setParity(parity) &&
           serial_.setDataBits(static_cast<QSerialPort::DataBits>(bits)) &&
           serial_.setStopBits(stop);
}

void QtSerialPort::setOption2() {
    DropLostPort();
    serial_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialPort::open(QString* error) {
#ifdef Q_OS_WIN
    entry_.clear();
#else
    entry_ = EntryDevice(EntryPath(number_)).isEmpty() ? QString() : EntryPath(number_);
#endif
    entryNumber_ = number_;
    return OpenDevice(DeviceForPort(number_), error);
}

bool QtSerialPort::reopen(QString* error) {
    if (entry_.isEmpty() || entryNumber_ != number_) {
        return open(error);
    }
#ifndef Q_OS_WIN
    const QString device = EntryDevice(entry_);
    if (device.isEmpty()) {
        DropLostPort();
        if (error != nullptr) {
            *error = QStringLiteral("Impossible d'ouvrir le port COM%1 (%2) : %3.")
                         .arg(number_)
                         .arg(entry_, ReasonText(QSerialPort::DeviceNotFoundError));
        }
        return false;
    }
    return OpenDevice(device, error);
#else
    return open(error);
#endif
}

bool QtSerialPort::OpenDevice(const QString& device, QString* error) {
    DropLostPort();
    if (serial_.isOpen()) {
        serial_.close();
    }
    input_.clear();
    device_ = device;
    serial_.setPortName(device_);
    if (serial_.open(QIODevice::ReadWrite)) {
        qCDebug(lcFrames).noquote() << "opened" << device_;
        return true;
    }
    if (error != nullptr) {
        const QString name = QStringLiteral("COM%1").arg(number_);
        const QString where = device_ == name ? name : QStringLiteral("%1 (%2)").arg(name, device_);
        *error = QStringLiteral("Impossible d'ouvrir le port %1 : %2.")
                     .arg(where, ReasonText(serial_.error()));
    }
    serial_.clearError();
    return false;
}

void QtSerialPort::DropLostPort() {
    if (lost_) {
        lost_ = false;
        serial_.close();
        serial_.clearError();
    }
}

void QtSerialPort::close() {
    DropLostPort();
    input_.clear();
    if (serial_.isOpen()) {
        serial_.close();
    }
}

bool QtSerialPort::isOpen() const {
    return serial_.isOpen() && !lost_;
}

void QtSerialPort::discardInput() {
    input_.clear();
    if (isOpen()) {
        serial_.clear(QSerialPort::Input);
        serial_.readAll();
    }
}

qint64 QtSerialPort::outBufferCount() const {
    return isOpen() ? serial_.bytesToWrite() : 0;
}

void QtSerialPort::discardOutput() {
    if (isOpen()) {
        serial_.clear(QSerialPort::Output);
    }
}

void QtSerialPort::write(const QByteArray& bytes) {
    if (isOpen()) {
        serial_.write(bytes);
    }
}

QByteArray QtSerialPort::readAll() {
    OnReadyRead();
    QByteArray bytes;
    bytes.swap(input_);
    return bytes;
}

void QtSerialPort::OnReadyRead() {
    if (!serial_.isOpen()) {
        return;
    }
    const QByteArray chunk = serial_.readAll();
    const qsizetype room = kMaxInput - input_.size();
    if (chunk.size() > room) {
        qCDebug(lcFrames) << "input full," << chunk.size() - qMax<qsizetype>(room, 0)
                          << "byte(s) dropped";
    }
    // Copied, not shared: the chunk's buffer is tens of kilobytes for a few bytes, and a
    // reply kept by the exchange log would hold all of it.
    input_.append(QByteArrayView(chunk).first(qBound<qsizetype>(0, room, chunk.size())));
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError) {
        return;
    }
    if (lost_) {
        return;
    }
    // The other end went away; Qt would go on reporting this at full speed. The port is
    // closed from the event loop, not from inside QSerialPort's own notification.
    qCDebug(lcFrames).noquote() << "port lost:" << device_ << serial_.errorString();
    lost_ = true;
    input_.clear();
    QMetaObject::invokeMethod(
        this, [this] { DropLostPort(); }, Qt::QueuedConnection);
}

QString QtSerialPort::ReasonText(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return QStringLiteral("périphérique introuvable");
        case QSerialPort::PermissionError:
            return QStringLiteral("accès refusé ou port déjà utilisé");
        case QSerialPort::OpenError:
            return QStringLiteral("port déjà ouvert");
        case QSerialPort::UnsupportedOperationError:
            return QStringLiteral("paramètres non pris en charge par le port");
        case QSerialPort::ResourceError:
            return QStringLiteral("périphérique retiré");
        case QSerialPort::NotOpenError:
            return QStringLiteral("port non ouvert");
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            return QStringLiteral("erreur d'entrée-sortie");
        default:
            return QStringLiteral("erreur inconnue");
    }
}

}  // namespace merival
