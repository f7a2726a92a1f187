#include "serial/TcpPort.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

#include "serial/FrameLog.h"

namespace merival {
namespace {

void AppendWord(QByteArray& bytes, quint16 word) {
    bytes.append(static_cast<char>(word >> 8));
    bytes.append(static_cast<char>(word & 0xFF));
}

}  // namespace

TcpPort::TcpPort(LinkSettings settings, QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      input_(settings_.mode == LinkMode::ModbusTcp) {
    connect(&socket_, &QTcpSocket::disconnected, this, &TcpPort::OnDisconnected);
}

TcpPort::~TcpPort() {
    socket_.abort();
}

bool TcpPort::setPortNumber(int number) {
    if (isOpen() || number < 1) {
        return false;
    }
    number_ = number;
    return true;
}

QString TcpPort::Where() const {
    return QStringLiteral("%1:%2").arg(settings_.host).arg(EffectivePort(settings_));
}

bool TcpPort::open(QString* error) {
    return Connect(error);
}

int TcpPort::DelayAfter(int failures) {
    // Each delay serves twice, so that a peer back after a short outage is found again soon.
    const int doublings = std::clamp((failures - 1) / 2, 0, 5);
    return std::min(kFirstDelayMs << doublings, kLastDelayMs);
}

int TcpPort::retryDelayMs() const {
    if (failures_ == 0 || !sinceFailure_.isValid()) {
        return 0;
    }
    return static_cast<int>(std::max<qint64>(DelayAfter(failures_) - sinceFailure_.elapsed(), 0));
}

bool TcpPort::reopen(QString* error) {
    if (retryDelayMs() > 0) {
        if (error != nullptr) {
            *error = facts_.fault == LinkFault::Lost
                         ? QStringLiteral("Connexion perdue avec %1.").arg(Where())
                         : QStringLiteral("Connexion refusée par %1.").arg(Where());
        }
        return false;
    }
    return Connect(error);
}

bool TcpPort::Connect(QString* error) {
    close();
    facts_ = {};
    if (settings_.host.isEmpty()) {
        Failed(LinkFault::Refused);
        if (error != nullptr) {
            *error = QStringLiteral("Connexion impossible : hôte non renseigné ([Liaison] Hote).");
        }
        return false;
    }
    socket_.connectToHost(settings_.host, static_cast<quint16>(EffectivePort(settings_)));
    // The event loop runs meanwhile; the reply time bounds a host that never answers.
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [&expired] { expired = true; });
    guard.start(settings_.timing.replyMs);
    while (!expired && socket_.state() != QAbstractSocket::ConnectedState &&
           socket_.state() != QAbstractSocket::UnconnectedState) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        const QString reason = expired ? QStringLiteral("pas de réponse") : socket_.errorString();
        socket_.abort();
        Failed(LinkFault::Refused);
        if (error != nullptr) {
            *error = QStringLiteral("Connexion refusée par %1 : %2.").arg(Where(), reason);
        }
        return false;
    }
    // Requests are a few bytes each: they leave at once.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connected_ = true;
    failures_ = 0;
    sinceFailure_.invalidate();
    qCDebug(lcFrames).noquote() << "connected to" << Where();
    return true;
}

void TcpPort::Failed(LinkFault fault) {
    facts_.fault = fault;
    ++failures_;
    sinceFailure_.start();
}

void TcpPort::OnDisconnected() {
    if (!connected_) {
        return;
    }
    qCDebug(lcFrames).noquote() << "connection lost:" << Where() << socket_.errorString();
    connected_ = false;
    failures_ = 0;
    Failed(LinkFault::Lost);
}

void TcpPort::close() {
    connected_ = false;
    socket_.abort();
    input_.discard();
}

bool TcpPort::isOpen() const {
    return connected_ && socket_.state() == QAbstractSocket::ConnectedState;
}

qint64 TcpPort::inBufferCount() const {
    Pull();
    return input_.size();
}

void TcpPort::discardInput() {
    Pull();
    input_.discard();
}

qint64 TcpPort::outBufferCount() const {
    return isOpen() ? socket_.bytesToWrite() : 0;
}

QByteArray TcpPort::MbapRequest(const QByteArray& rtu, quint16 transaction) {
    if (rtu.size() < 4) {
        return {};
    }
    const QByteArray unitAndPdu = rtu.left(rtu.size() - 2);
    QByteArray frame;
    AppendWord(frame, transaction);
    AppendWord(frame, 0);
    AppendWord(frame, static_cast<quint16>(unitAndPdu.size()));
    frame.append(unitAndPdu);
    return frame;
}

void TcpPort::write(const QByteArray& bytes) {
    if (!isOpen()) {
        return;
    }
    const LinkFault fault = facts_.fault;
    facts_ = {};
    facts_.fault = fault;
    if (settings_.mode != LinkMode::ModbusTcp) {
        socket_.write(bytes);
        return;
    }
    const QByteArray frame = MbapRequest(bytes, ++transaction_);
    input_.expect(transaction_);
    if (frame.isEmpty()) {
        return;
    }
    facts_.requestHeader = frame.left(GatewayInput::kMbapHeader);
    socket_.write(frame);
}

QByteArray TcpPort::readAll() {
    Pull();
    return input_.take();
}

void TcpPort::Pull() const {
    if (socket_.bytesAvailable() > 0) {
        input_.feed(socket_.readAll(), facts_);
    }
}

}  // namespace merival
