#include "tools/poll/PollWeb.h"

#include <termios.h>
#include <unistd.h>

#include <QFileInfo>
#include <cstdio>
#include <iostream>
#include <string>

#include "base/IniFile.h"
#include "web/WebSettings.h"
#include "web/WebUsers.h"

namespace merival {
namespace {

void Say(const QString& text) {
    const QByteArray bytes = (QStringLiteral("merival-poll : ") + text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

// One line of the terminal with its echo off, or of standard input when it is not one.
QByteArray ReadSecretLine(const char* prompt) {
    const bool tty = ::isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (tty) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return QByteArray::fromStdString(line);
}

}  // namespace

int SetWebUserFromConsole(const QString& name, const QString& roleName) {
    const std::optional<WebRole> role = ParseRole(roleName);
    if (!role) {
        Say(QStringLiteral("rôle inconnu : « %1 » (lecture ou operateur)").arg(roleName));
        return 1;
    }
    const WebSettings settings =
        WithFilesIn(LoadWebSettings(*OpenIni()), QFileInfo(IniPath()).absoluteDir());
    const QByteArray password = ReadSecretLine("Mot de passe : ");
    if (::isatty(STDIN_FILENO) != 0 && ReadSecretLine("Confirmation : ") != password) {
        Say(QStringLiteral("les deux mots de passe diffèrent ; rien n'est changé"));
        return 1;
    }
    if (const Status saved = SetWebUser(settings.usersFile, name, *role, password); !saved.ok()) {
        Say(saved.message);
        return 1;
    }
    Say(QStringLiteral("utilisateur « %1 » (%2) enregistré dans « %3 »")
            .arg(name, RoleName(*role), settings.usersFile));
    return 0;
}

}  // namespace merival
