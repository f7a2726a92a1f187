#include "publish/MqttLink.h"

#include <mosquitto.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstring>

namespace merival {
namespace {

constexpr int kKeepAliveS = 20;
constexpr int kMaxDelayS = 60;

std::mutex libraryMutex;
int libraryUsers = 0;

// An encrypted client key is refused instead of prompting on a terminal nobody watches.
int NoKeyPassword(char*, int, int, void*) {
    return 0;
}

// Errors after which libmosquitto's thread ends instead of reconnecting.
bool EndsLoop(int code) {
    switch (code) {
        case MOSQ_ERR_NOMEM:
        case MOSQ_ERR_PROTOCOL:
        case MOSQ_ERR_INVAL:
        case MOSQ_ERR_NOT_FOUND:
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_PAYLOAD_SIZE:
        case MOSQ_ERR_NOT_SUPPORTED:
        case MOSQ_ERR_AUTH:
        case MOSQ_ERR_ACL_DENIED:
        case MOSQ_ERR_UNKNOWN:
        case MOSQ_ERR_EAI:
        case MOSQ_ERR_PROXY:
            return true;
        default:
            return false;
    }
}

QString RefusalText(int connack) {
    switch (connack) {
        case 1:
            return QStringLiteral("version du protocole refusée");
        case 2:
            return QStringLiteral("identifiant de client refusé");
        case 3:
            return QStringLiteral("courtier indisponible");
        case 4:
            return QStringLiteral("utilisateur ou mot de passe incorrect");
        case 5:
            return QStringLiteral("accès non autorisé (utilisateur ou mot de passe)");
        default:
            return QStringLiteral("code %1").arg(connack);
    }
}

QString ErrorText(int code) {
    switch (code) {
        case MOSQ_ERR_TLS:
            return QStringLiteral("échec TLS (certificat, clé ou nom d'hôte refusé)");
        case MOSQ_ERR_EAI:
            return QStringLiteral("nom d'hôte inconnu");
        case MOSQ_ERR_KEEPALIVE:
            return QStringLiteral("le courtier ne répond plus");
        case MOSQ_ERR_ERRNO:
        case MOSQ_ERR_NO_CONN:
            return QStringLiteral("courtier injoignable");
        default:
            return QStringLiteral("liaison perdue");
    }
}

// The first line of the file; the caller wipes it after use.
Status ReadPassword(const QString& path, QByteArray* password) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::Error(QStringLiteral("Le fichier de mot de passe « %1 » n'a pas pu être "
                                            "lu : %2")
                                 .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    *password = file.readLine(4096);
    while (password->endsWith('\n') || password->endsWith('\r')) {
        password->chop(1);
    }
    return Status::Ok();
}

Status Readable(const QString& path, const QString& what) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        return Status::Ok();
    }
    return Status::Error(QStringLiteral("Le fichier %1 « %2 » n'a pas pu être lu : %3")
                             .arg(what, QDir::toNativeSeparators(path), file.errorString()));
}

const char* OrNull(const QByteArray& bytes) {
    return bytes.isEmpty() ? nullptr : bytes.constData();
}

}  // namespace

MosquittoLibrary::MosquittoLibrary() {
    const std::lock_guard lock(libraryMutex);
    if (libraryUsers++ == 0) {
        mosquitto_lib_init();
    }
}

MosquittoLibrary::~MosquittoLibrary() {
    const std::lock_guard lock(libraryMutex);
    if (--libraryUsers == 0) {
        mosquitto_lib_cleanup();
    }
}

MqttLink::MqttLink(QObject* parent) : QObject(parent) {
    restart_.setSingleShot(true);
    connect(&restart_, &QTimer::timeout, this, [this] { Connect(false); });
}

MqttLink::~MqttLink() {
    Stop();
}

Status MqttLink::Start(const PublishSettings& settings, const QByteArray& willTopic,
                       const QByteArray& willPayload) {
    Stop();
    library_.emplace();
    mosq_ = mosquitto_new(nullptr, true, this);
    Status configured = mosq_ ? Configure(settings, willTopic, willPayload)
                              : Status::Error(QStringLiteral("Mémoire insuffisante."));
    if (!configured.ok()) {
        if (mosq_ != nullptr) {
            mosquitto_destroy(mosq_);
            mosq_ = nullptr;
        }
        library_.reset();
        SetState(LinkState::Refused, configured.message);
        return configured;
    }
    host_ = settings.host.trimmed().toUtf8();
    port_ = settings.port;
    address_ = QStringLiteral("%1:%2").arg(settings.host.trimmed()).arg(settings.port);
    restartDelayS_ = 1;
    SetState(LinkState::Connecting, QStringLiteral("connexion à %1…").arg(address_));
    Connect(true);
    return Status::Ok();
}

Status MqttLink::Configure(const PublishSettings& s, const QByteArray& willTopic,
                           const QByteArray& willPayload) {
    mosquitto_connect_callback_set(mosq_, OnConnect);
    mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
    mosquitto_publish_callback_set(mosq_, OnPublish);
    mosquitto_log_callback_set(mosq_, OnLog);
    mosquitto_reconnect_delay_set(mosq_, 1, kMaxDelayS, false);
    if (!willTopic.isEmpty()) {
        mosquitto_will_set(mosq_, willTopic.constData(), static_cast<int>(willPayload.size()),
                           willPayload.constData(), 1, true);
    }
    if (!s.passwordFile.isEmpty() && s.user.isEmpty()) {
        return Status::Error(QStringLiteral("Un mot de passe demande un nom d'utilisateur."));
    }
    if (!s.user.isEmpty()) {
        QByteArray password;
        if (!s.passwordFile.isEmpty()) {
            if (Status read = ReadPassword(s.passwordFile, &password); !read.ok()) {
                return read;
            }
        }
        const int rc =
            mosquitto_username_pw_set(mosq_, s.user.toUtf8().constData(),
                                      s.passwordFile.isEmpty() ? nullptr : password.constData());
        password.fill('\0');
        if (rc != MOSQ_ERR_SUCCESS) {
            return Status::Error(QStringLiteral("Nom d'utilisateur invalide."));
        }
    }
    if (s.caFile.isEmpty()) {
        return s.clientCert.isEmpty() && s.clientKey.isEmpty()
                   ? Status::Ok()
                   : Status::Error(QStringLiteral("Un certificat client demande un fichier CA."));
    }
    if (s.clientCert.isEmpty() != s.clientKey.isEmpty()) {
        return Status::Error(QStringLiteral("Le certificat client et sa clé vont ensemble."));
    }
    for (const auto& [path, what] : {std::pair{s.caFile, QStringLiteral("CA")},
                                     {s.clientCert, QStringLiteral("de certificat client")},
                                     {s.clientKey, QStringLiteral("de clé client")}}) {
        if (Status readable = path.isEmpty() ? Status::Ok() : Readable(path, what);
            !readable.ok()) {
            return readable;
        }
    }
    const QByteArray ca = QFile::encodeName(s.caFile);
    const QByteArray cert = QFile::encodeName(s.clientCert);
    const QByteArray key = QFile::encodeName(s.clientKey);
    // Peer verification and the host name check are on: tls_insecure stays false.
    if (mosquitto_tls_set(mosq_, ca.constData(), nullptr, OrNull(cert), OrNull(key),
                          NoKeyPassword) != MOSQ_ERR_SUCCESS ||
        mosquitto_tls_opts_set(mosq_, 1, nullptr, nullptr) != MOSQ_ERR_SUCCESS ||
        mosquitto_tls_insecure_set(mosq_, false) != MOSQ_ERR_SUCCESS) {
        return Status::Error(QStringLiteral("Les fichiers TLS n'ont pas pu être utilisés."));
    }
    return Status::Ok();
}

// Name lookup and the first steps of TLS may take a while: a helper thread does them and then
// starts libmosquitto's loop thread.
void MqttLink::Connect(bool first) {
    JoinStarter();
    mosquitto* m = mosq_;
    const int session = session_;
    starter_ = std::thread([this, m, first, session, host = host_, port = port_] {
        if (!first) {
            mosquitto_loop_stop(m, false);  // its thread has ended already
        }
        const int rc = first ? mosquitto_connect_async(m, host.constData(), port, kKeepAliveS)
                             : mosquitto_reconnect_async(m);
        mosquitto_loop_start(m);
        if (rc != MOSQ_ERR_SUCCESS) {
            // libmosquitto's thread goes on trying; the reason is shown meanwhile.
            box_.Post([this, rc, session] {
                if (session != session_ || connected_) {
                    return;
                }
                if (EndsLoop(rc)) {
                    SetState(LinkState::Refused,
                             QStringLiteral("refusé par %1 : %2").arg(address_, ErrorText(rc)));
                } else {
                    SetState(LinkState::Reconnecting,
                             QStringLiteral("reconnexion à %1 (%2)").arg(address_, ErrorText(rc)));
                }
            });
        }
    });
}

void MqttLink::JoinStarter() {
    if (starter_.joinable()) {
        starter_.join();
    }
}

void MqttLink::Stop(const QByteArray& lastTopic, const QByteArray& lastPayload) {
    if (mosq_ == nullptr) {
        return;
    }
    restart_.stop();
    JoinStarter();
    int seen = 0;
    {
        const std::lock_guard lock(mutex_);
        seen = disconnections_;
    }
    const bool wasConnected = online_;
    if (wasConnected && !lastTopic.isEmpty()) {
        // Its acknowledgement is awaited: one arriving after the socket is closed would reset
        // the connection, and the broker could lose the disconnection and send the will.
        int id = 0;
        if (mosquitto_publish(mosq_, &id, lastTopic.constData(),
                              static_cast<int>(lastPayload.size()), lastPayload.constData(), 1,
                              true) == MOSQ_ERR_SUCCESS) {
            std::unique_lock lock(mutex_);
            disconnectedCv_.wait_for(lock, std::chrono::seconds(2),
                                     [&] { return lastAcknowledged_ == id; });
        }
    }
    mosquitto_disconnect(mosq_);
    bool clean = false;
    if (wasConnected) {
        // The loop thread sends what is queued, then the disconnection, then ends.
        std::unique_lock lock(mutex_);
        clean = disconnectedCv_.wait_for(lock, std::chrono::seconds(2),
                                         [&] { return disconnections_ != seen; });
    }
    // Not connected, the loop thread may sleep up to a minute before its next attempt: cut it.
    mosquitto_loop_stop(mosq_, !clean);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    library_.reset();
    ++session_;
    connected_ = false;
    online_ = false;
    SetState(LinkState::Off, {});
}

bool MqttLink::Publish(const QByteArray& topic, const QByteArray& payload, int* messageId) {
    if (mosq_ == nullptr || !connected_) {
        return false;
    }
    return mosquitto_publish(mosq_, messageId, topic.constData(), static_cast<int>(payload.size()),
                             payload.constData(), 1, true) == MOSQ_ERR_SUCCESS;
}

void MqttLink::OnConnect(mosquitto*, void* self, int code) {
    auto* link = static_cast<MqttLink*>(self);
    link->online_ = code == 0;
    const int session = link->session_;
    link->box_.Post([link, code, session] {
        if (session == link->session_) {
            link->Connected(code);
        }
    });
}

void MqttLink::OnDisconnect(mosquitto*, void* self, int code) {
    auto* link = static_cast<MqttLink*>(self);
    {
        const std::lock_guard lock(link->mutex_);
        ++link->disconnections_;
        link->online_ = false;
    }
    link->disconnectedCv_.notify_all();
    const int session = link->session_;
    link->box_.Post([link, code, session] {
        if (session == link->session_) {
            link->Disconnected(code);
        }
    });
}

// A failed TLS handshake on a reconnection reaches no other callback than the log.
void MqttLink::OnLog(mosquitto*, void* self, int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) == 0 || std::strncmp(text, "OpenSSL Error", 13) != 0) {
        return;
    }
    auto* link = static_cast<MqttLink*>(self);
    const int session = link->session_;
    const bool verify = std::strstr(text, "certificate verify failed") != nullptr;
    link->box_.Post([link, session, verify] {
        if (session == link->session_ && !link->connected_) {
            link->SetState(
                LinkState::Refused,
                QStringLiteral("refusé par %1 : %2")
                    .arg(link->address_,
                         verify ? QStringLiteral("échec TLS, certificat du courtier refusé "
                                                 "(autorité ou nom d'hôte)")
                                : ErrorText(MOSQ_ERR_TLS)));
        }
    });
}

void MqttLink::OnPublish(mosquitto*, void* self, int messageId) {
    auto* link = static_cast<MqttLink*>(self);
    {
        const std::lock_guard lock(link->mutex_);
        link->lastAcknowledged_ = messageId;
    }
    link->disconnectedCv_.notify_all();
    const int session = link->session_;
    link->box_.Post([link, messageId, session] {
        if (session == link->session_) {
            Q_EMIT link->published(messageId);
        }
    });
}

void MqttLink::Connected(int code) {
    if (code != 0) {
        connected_ = false;
        SetState(LinkState::Refused,
                 QStringLiteral("refusé par %1 : %2").arg(address_, RefusalText(code)));
        return;
    }
    connected_ = true;
    restartDelayS_ = 1;
    SetState(LinkState::Connected, QStringLiteral("connecté à %1").arg(address_));
    Q_EMIT connected();
}

void MqttLink::Disconnected(int code) {
    connected_ = false;
    if (EndsLoop(code)) {
        SetState(LinkState::Refused,
                 QStringLiteral("refusé par %1 : %2").arg(address_, ErrorText(code)));
        restart_.start(restartDelayS_ * 1000);
        restartDelayS_ = std::min(kMaxDelayS, restartDelayS_ * 2);
        return;
    }
    // A refusal (by the broker, or of the TLS handshake) keeps its reason while libmosquitto
    // tries again.
    if (state_ == LinkState::Refused) {
        return;
    }
    SetState(LinkState::Reconnecting,
             QStringLiteral("reconnexion à %1 (%2)").arg(address_, ErrorText(code)));
}

void MqttLink::SetState(LinkState state, const QString& text) {
    if (state == state_ && text == stateText_) {
        return;
    }
    state_ = state;
    stateText_ = text;
    Q_EMIT stateChanged(state, text);
}

}  // namespace merival
