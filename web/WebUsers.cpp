#include "web/WebUsers.h"

#include <sodium.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "base/SaveFile.h"

namespace merival {
namespace {

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

QString RoleName(WebRole role) {
    return role == WebRole::Operator ? QStringLiteral("operateur") : QStringLiteral("lecture");
}

std::optional<WebRole> ParseRole(const QString& name) {
    if (name == u"lecture") {
        return WebRole::Reader;
    }
    if (name == u"operateur") {
        return WebRole::Operator;
    }
    return std::nullopt;
}

bool ValidUserName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,32}$"));
    return pattern.match(name).hasMatch();
}

QByteArray HashPassword(const QByteArray& password) {
    char out[crypto_pwhash_STRBYTES];
    if (!SodiumReady() || crypto_pwhash_str_alg(out, password.constData(),
                                                static_cast<unsigned long long>(password.size()),
                                                crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                                crypto_pwhash_MEMLIMIT_INTERACTIVE,
                                                crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return {};
    }
    return QByteArray(out);
}

bool PasswordMatches(const QByteArray& hash, const QByteArray& password) {
    if (!SodiumReady() || hash.isEmpty() || hash.size() >= crypto_pwhash_STRBYTES) {
        return false;
    }
    const QByteArray terminated = hash + '\0';
    return crypto_pwhash_str_verify(terminated.constData(), password.constData(),
                                    static_cast<unsigned long long>(password.size())) == 0;
}

QList<WebUser> ParseWebUsers(const QByteArray& text, int* skipped) {
    QList<WebUser> users;
    int bad = 0;
    const QList<QByteArray> lines = text.split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> fields = line.split(':');
        const QString name = QString::fromUtf8(fields.value(0));
        const std::optional<WebRole> role = ParseRole(QString::fromUtf8(fields.value(1)));
        if (fields.size() != 3 || !ValidUserName(name) || !role ||
            !fields[2].startsWith("$argon2id$")) {
            ++bad;
            continue;
        }
        users.removeIf([&](const WebUser& u) { return u.name == name; });
        users.append({name, *role, fields[2]});
    }
    if (skipped != nullptr) {
        *skipped = bad;
    }
    return users;
}

QByteArray WebUsersText(const QList<WebUser>& users) {
    QByteArray bytes = "# nom:role:empreinte (lecture ou operateur)\n";
    for (const WebUser& u : users) {
        bytes += u.name.toUtf8() + ':' + RoleName(u.role).toUtf8() + ':' + u.hash + '\n';
    }
    return bytes;
}

QList<WebUser> LoadWebUsers(const QString& path, Status* status, int* skipped) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (status != nullptr && file.exists()) {
            *status = Status::Error(QStringLiteral("Le fichier des utilisateurs « %1 » ne se lit "
                                                   "pas (%2).")
                                        .arg(QDir::toNativeSeparators(path), file.errorString()));
        }
        return {};
    }
    return ParseWebUsers(file.readAll(), skipped);
}

Status SetWebUser(const QString& path, const QString& name, WebRole role,
                  const QByteArray& password) {
    if (!ValidUserName(name)) {
        return Status::Error(QStringLiteral("Nom d'utilisateur refusé : « %1 » (lettres, "
                                            "chiffres, « . », « _ » et « - », 32 au plus).")
                                 .arg(name));
    }
    if (password.size() < 8) {
        return Status::Error(QStringLiteral("Mot de passe trop court (8 caractères au moins)."));
    }
    Status read;
    QList<WebUser> users = LoadWebUsers(path, &read);
    if (!read.ok()) {
        return read;
    }
    const QByteArray hash = HashPassword(password);
    if (hash.isEmpty()) {
        return Status::Error(
            QStringLiteral("L'empreinte du mot de passe n'a pas pu être "
                           "calculée (mémoire insuffisante)."));
    }
    users.removeIf([&](const WebUser& u) { return u.name == name; });
    users.append({name, role, hash});
    const QByteArray bytes = WebUsersText(users);
    // Made owner-only before any print is in it; the save keeps those permissions.
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (QFile created(path); !created.exists()) {
        created.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly);
    }
    if (Status saved = SaveWholeFile(path, bytes); !saved.ok()) {
        return saved;
    }
    QFile::setPermissions(path, ownerOnly);
    return Status::Ok();
}

}  // namespace merival
