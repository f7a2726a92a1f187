#pragma once

// Plain HTTP/1.1 requests written byte for byte, for the web view's tests.

#include <gtest/gtest.h>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <memory>

namespace merival::test {

struct Response {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    [[nodiscard]] QByteArray header(const QByteArray& name) const {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) {
                return value;
            }
        }
        return {};
    }
};

// One request on its own connection, headers as given (Host added when missing); over TLS
// when the server's certificate authority is given, and it must pass.
inline Response Http(quint16 port, const QByteArray& method, const QByteArray& path,
                     const QList<QByteArray>& headers = {}, const QByteArray& body = {},
                     const QString& address = QStringLiteral("127.0.0.1"),
                     const QList<QSslCertificate>& ca = {}) {
    std::unique_ptr<QTcpSocket> owned;
    if (ca.isEmpty()) {
        owned = std::make_unique<QTcpSocket>();
        owned->connectToHost(address, port);
        EXPECT_TRUE(owned->waitForConnected(3000));
    } else {
        auto tls = std::make_unique<QSslSocket>();
        QSslConfiguration config = tls->sslConfiguration();
        config.setCaCertificates(ca);
        tls->setSslConfiguration(config);
        tls->connectToHostEncrypted(address, port);
        EXPECT_TRUE(tls->waitForEncrypted(5000)) << tls->errorString().toStdString();
        owned = std::move(tls);
    }
    QTcpSocket& socket = *owned;
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nConnection: close\r\n";
    bool host = false;
    for (const QByteArray& h : headers) {
        request += h + "\r\n";
        host = host || h.startsWith("Host:");
    }
    if (!host) {
        request += "Host: " + address.toLatin1() + ':' + QByteArray::number(port) + "\r\n";
    }
    if (!body.isEmpty()) {
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    socket.write(request + "\r\n" + body);
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        if (socket.waitForReadyRead(100)) {
            reply += socket.readAll();
        }
        const qsizetype end = reply.indexOf("\r\n\r\n");
        if (end > 0) {
            const qsizetype at = reply.toLower().indexOf("content-length: ");
            const qsizetype length =
                at < 0 ? 0 : reply.mid(at + 16).split('\r').first().toLongLong();
            if (reply.size() >= end + 4 + length) {
                break;
            }
        }
        if (socket.state() != QAbstractSocket::ConnectedState) {
            reply += socket.readAll();
            break;
        }
    }
    Response r;
    const qsizetype end = reply.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = reply.left(end).split('\n');
    r.status = lines.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        r.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    r.body = reply.mid(end + 4);
    return r;
}

}  // namespace merival::test
