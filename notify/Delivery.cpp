#include "notify/Delivery.h"

#include <curl/curl.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace merival {
namespace {

constexpr long kConnectSeconds = 15;
constexpr long kTransferSeconds = 60;
constexpr qsizetype kReplyChars = 300;

// One transfer: what is sent, what came back, and when to stop.
struct Transfer {
    QByteArray upload;
    qsizetype uploaded = 0;
    QByteArray lastLine;  // the server's last reply line (SMTP) or the response body (HTTP)
    QByteArray body;
    const std::atomic<bool>* cancel = nullptr;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const qsizetype n =
        std::min<qsizetype>(qsizetype(size * count), t->upload.size() - t->uploaded);
    std::memcpy(buffer, t->upload.constData() + t->uploaded, size_t(n));
    t->uploaded += n;
    return size_t(n);
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    if (t->body.size() < kReplyChars) {
        t->body.append(data, qsizetype(std::min<size_t>(size * count, kReplyChars)));
    }
    return size * count;
}

int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type == CURLINFO_HEADER_IN) {
        const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
        if (!line.isEmpty()) {
            static_cast<Transfer*>(user)->lastLine = line.left(kReplyChars);
        }
    }
    return 0;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* t = static_cast<Transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

QString Reason(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("nom d'hôte inconnu");
        case CURLE_COULDNT_CONNECT:
            return QStringLiteral("serveur injoignable");
        case CURLE_OPERATION_TIMEDOUT:
            return QStringLiteral("pas de réponse dans le délai");
        case CURLE_LOGIN_DENIED:
            return QStringLiteral("identifiant ou mot de passe refusé");
        case CURLE_USE_SSL_FAILED:
            return QStringLiteral("le serveur ne propose pas STARTTLS");
        case CURLE_PEER_FAILED_VERIFICATION:
            return QStringLiteral("certificat du serveur refusé");
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
            return QStringLiteral("échec TLS");
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return QStringLiteral("liaison interrompue");
        case CURLE_ABORTED_BY_CALLBACK:
            return QStringLiteral("envoi interrompu à l'arrêt");
        default:
            return QStringLiteral("échec de l'envoi (code %1)").arg(int(code));
    }
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using List = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

Easy Prepare(Transfer& t, const QByteArray& url, const char* protocols) {
    GlobalInit();
    Easy easy(curl_easy_init(), &curl_easy_cleanup);
    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kTransferSeconds);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);  // for the reply lines; nothing is printed
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, Debug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    return easy;
}

QString Readable(const QString& path, QByteArray* firstLine) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("le fichier « %1 » n'a pas pu être lu : %2")
            .arg(QDir::toNativeSeparators(path), file.errorString());
    }
    if (firstLine) {
        *firstLine = file.readLine(4096);
        while (firstLine->endsWith('\n') || firstLine->endsWith('\r')) {
            firstLine->chop(1);
        }
    }
    return {};
}

SendResult Failure(CURLcode code, const Transfer& t) {
    QString reply = Reason(code);
    if (!t.lastLine.isEmpty()) {
        reply += QStringLiteral(" ; réponse : ") + QString::fromUtf8(t.lastLine);
    }
    return {false, reply};
}

}  // namespace

SendResult SendMail(const NotifySettings& s, const QByteArray& message,
                    const std::atomic<bool>* cancel) {
    Transfer t;
    t.upload = message;
    t.cancel = cancel;
    const QString host =
        s.server.contains(u':') && !s.server.startsWith(u'[') ? u'[' + s.server + u']' : s.server;
    const QByteArray url = (s.security == SmtpSecurity::Tls ? "smtps://" : "smtp://") +
                           host.toUtf8() + ':' + QByteArray::number(s.port);
    Easy easy = Prepare(t, url, "smtp,smtps");
    CURL* c = easy.get();
    const QByteArray from = '<' + s.sender.toUtf8() + '>';
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    List recipients(nullptr, &curl_slist_free_all);
    for (const QString& r : s.recipients) {
        recipients.reset(
            curl_slist_append(recipients.release(), ('<' + r.toUtf8() + '>').constData()));
    }
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &t);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.size()));
    curl_easy_setopt(
        c, CURLOPT_USE_SSL,
        s.security == SmtpSecurity::None ? long(CURLUSESSL_NONE) : long(CURLUSESSL_ALL));
    const QByteArray ca = s.caFile.toLocal8Bit();
    if (!s.caFile.isEmpty()) {
        if (const QString error = Readable(s.caFile, nullptr); !error.isEmpty()) {
            return {false, error};
        }
        curl_easy_setopt(c, CURLOPT_CAINFO, ca.constData());
    }
    QByteArray password;
    const QByteArray user = s.user.toUtf8();
    if (!s.user.isEmpty()) {
        if (!s.passwordFile.isEmpty()) {
            if (const QString error = Readable(s.passwordFile, &password); !error.isEmpty()) {
                return {false, error};
            }
        }
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    const CURLcode code = curl_easy_perform(c);
    password.fill('\0');
    if (code != CURLE_OK) {
        return Failure(code, t);
    }
    return {true, QString::fromUtf8(t.lastLine)};
}

SendResult PostWebhook(const NotifySettings& s, const QByteArray& body,
                       const std::atomic<bool>* cancel) {
    Transfer t;
    t.cancel = cancel;
    Easy easy = Prepare(t, s.webhook.toUtf8(), "http,https");
    CURL* c = easy.get();
    List headers(curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8"),
                 &curl_slist_free_all);
    if (!s.webhookHeader.isEmpty()) {
        headers.reset(curl_slist_append(headers.release(), s.webhookHeader.toUtf8().constData()));
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(c, CURLOPT_COPYPOSTFIELDS, body.constData());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    const QByteArray ca = s.caFile.toLocal8Bit();
    if (!s.caFile.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, ca.constData());
    }
    const CURLcode code = curl_easy_perform(c);
    if (code != CURLE_OK) {
        return Failure(code, t);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    QString reply = QStringLiteral("HTTP %1").arg(status);
    if (const QString text = QString::fromUtf8(t.body).simplified(); !text.isEmpty()) {
        reply += u' ' + text;
    }
    return {status >= 200 && status < 300, reply};
}

}  // namespace merival
