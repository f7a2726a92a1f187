#pragma once

#include <QDir>
#include <QSettings>
#include <QString>

namespace merival {

// Section [Web] of merival.ini. Off unless Actif is true; on 127.0.0.1 (or ::1) nobody logs in,
// on any other address every page and call needs a user of the users file.
struct WebSettings {
    bool active = false;
    QString address = QStringLiteral("127.0.0.1");
    int port = 8080;
    QString certificate;  // HTTPS when both are given
    QString key;
    QString usersFile = QStringLiteral("utilisateurs_web.txt");

    [[nodiscard]] bool loginRequired() const;
    [[nodiscard]] bool tls() const { return !certificate.isEmpty() && !key.isEmpty(); }
    bool operator==(const WebSettings&) const = default;
};

[[nodiscard]] WebSettings LoadWebSettings(const QSettings& ini);
void SaveWebSettings(QSettings& ini, const WebSettings& settings);
// File names relative to the directory of merival.ini become absolute.
[[nodiscard]] WebSettings WithFilesIn(WebSettings settings, const QDir& directory);

}  // namespace merival
