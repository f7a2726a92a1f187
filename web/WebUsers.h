#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "base/Status.h"

namespace merival {

enum class WebRole { Reader, Operator };

// "lecture" and "operateur", as written in the users file.
[[nodiscard]] QString RoleName(WebRole role);
[[nodiscard]] std::optional<WebRole> ParseRole(const QString& name);

// One line of the users file: "nom:role:empreinte", the print being libsodium's Argon2id string
// (salt and cost inside it).
struct WebUser {
    QString name;
    WebRole role = WebRole::Reader;
    QByteArray hash;

    bool operator==(const WebUser&) const = default;
};

// Letters, digits, ".", "_" and "-", 1 to 32 of them.
[[nodiscard]] bool ValidUserName(const QString& name);

// Salted, slow (about 0.1 s and 64 MB), as libsodium recommends for interactive logins.
[[nodiscard]] QByteArray HashPassword(const QByteArray& password);
[[nodiscard]] bool PasswordMatches(const QByteArray& hash, const QByteArray& password);

// The users of the file's text; lines that do not parse are skipped and counted in `skipped`.
// A name given twice keeps its last line.
[[nodiscard]] QList<WebUser> ParseWebUsers(const QByteArray& text, int* skipped = nullptr);
// The file's text for these users, a comment line first.
[[nodiscard]] QByteArray WebUsersText(const QList<WebUser>& users);

// Reads the users; a missing file is no user at all. Lines that do not parse are skipped and
// counted in `skipped`.
[[nodiscard]] QList<WebUser> LoadWebUsers(const QString& path, Status* status = nullptr,
                                          int* skipped = nullptr);
// Adds the user or changes their role and password, and saves the file whole (owner-only).
[[nodiscard]] Status SetWebUser(const QString& path, const QString& name, WebRole role,
                                const QByteArray& password);

}  // namespace merival
