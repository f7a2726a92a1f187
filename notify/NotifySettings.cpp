#include "notify/NotifySettings.h"

#include <QUrl>

#include "base/IniFile.h"

namespace merival {
namespace {

const QString kSection = QStringLiteral("Notifications");

QVariant Value(const QSettings& ini, const char* key) {
    return ini.value(kSection + u'/' + QLatin1String(key));
}

QString Text(const QSettings& ini, const char* key) {
    return Value(ini, key).toString().trimmed();
}

// A QStringList value comes back from the INI reader when the text holds commas.
QString Joined(const QSettings& ini, const char* key) {
    const QVariant value = Value(ini, key);
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',').trimmed()
                                                    : value.toString().trimmed();
}

QStringList SplitList(const QString& text) {
    QStringList items;
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        if (!item.trimmed().isEmpty()) {
            items.append(item.trimmed());
        }
    }
    return items;
}

// A bare address, as SMTP wants it: something@something, no blanks nor brackets.
bool PlainAddress(const QString& address) {
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at != address.lastIndexOf(u'@') || at == address.size() - 1) {
        return false;
    }
    for (QChar c : address) {
        if (c.isSpace() || c == u'<' || c == u'>' || c == u',' || c == u'"' || c.unicode() < 0x20) {
            return false;
        }
    }
    return true;
}

bool IsLoopback(const QString& host) {
    const QString h = host.toLower();
    return h == u"localhost" || h == u"::1" || h == u"[::1]" ||
           (h.startsWith(QStringLiteral("127.")) && h.count(u'.') == 3);
}

}  // namespace

bool NotifySettings::Wants(const AlarmEvent& event) const {
    if (event.event == alarm_event::kLoss) {
        return loss;
    }
    if (event.raisesAlarm()) {
        return activation;
    }
    if (event.event == alarm_event::kReturn) {
        return returned;
    }
    return event.event == alarm_event::kAcknowledge && acknowledged;
}

QString EventsKey(const NotifySettings& s) {
    QStringList names;
    for (const auto& [on, name] : {std::pair{s.activation, "activation"},
                                   {s.returned, "retour"},
                                   {s.acknowledged, "acquittement"},
                                   {s.loss, "perte"}}) {
        if (on) {
            names.append(QLatin1String(name));
        }
    }
    return names.join(u',');
}

bool ParseEventsKey(const QString& text, NotifySettings* s) {
    NotifySettings parsed = *s;
    parsed.activation = parsed.returned = parsed.acknowledged = parsed.loss = false;
    for (const QString& name : SplitList(text.toLower())) {
        bool* flag = name == u"activation"     ? &parsed.activation
                     : name == u"retour"       ? &parsed.returned
                     : name == u"acquittement" ? &parsed.acknowledged
                     : name == u"perte"        ? &parsed.loss
                                               : nullptr;
        if (!flag) {
            return false;
        }
        *flag = true;
    }
    *s = parsed;
    return true;
}

NotifySettings LoadNotifySettings(const QSettings& ini, Status* warning) {
    NotifySettings s;
    QStringList bad;
    s.server = Text(ini, "ServeurSMTP");
    const QString security = Text(ini, "Securite").toLower();
    if (security == u"starttls") {
        s.security = SmtpSecurity::StartTls;
    } else if (security == u"tls") {
        s.security = SmtpSecurity::Tls;
    } else if (!security.isEmpty() && security != u"aucune") {
        bad.append(QStringLiteral("Securite"));
    }
    bool ok = false;
    const QString portText = Text(ini, "PortSMTP");
    const int port = portText.toInt(&ok);
    s.port = ok && port >= 1 && port <= 65535  ? port
             : s.security == SmtpSecurity::Tls ? kSmtpsPort
                                               : kSmtpPort;
    if (!portText.isEmpty() && s.port != port) {
        bad.append(QStringLiteral("PortSMTP"));
    }
    s.user = Text(ini, "Utilisateur");
    s.passwordFile = Text(ini, "FichierMotDePasse");
    s.caFile = Text(ini, "FichierCA");
    s.sender = Text(ini, "Expediteur");
    s.recipients = SplitList(Joined(ini, "Destinataires"));
    if (ini.contains(kSection + QStringLiteral("/Evenements")) &&
        !ParseEventsKey(Joined(ini, "Evenements"), &s)) {
        bad.append(QStringLiteral("Evenements"));
    }
    s.webhook = Text(ini, "Webhook");
    s.webhookHeader = Text(ini, "EnteteWebhook");
    const QString format = Text(ini, "ModeleWebhook").toLower();
    if (format == u"texte") {
        s.webhookFormat = WebhookFormat::Text;
    } else if (!format.isEmpty() && format != u"json") {
        bad.append(QStringLiteral("ModeleWebhook"));
    }
    for (const auto& [key, field, low] :
         {std::tuple{"Regroupement", &s.groupSeconds, 0}, {"MessagesParHeure", &s.perHour, 1}}) {
        const QString text = Text(ini, key);
        const int value = text.toInt(&ok);
        if (ok && value >= low && value <= 3600) {
            *field = value;
        } else if (!text.isEmpty()) {
            bad.append(QLatin1String(key));
        }
    }
    if (warning) {
        *warning = bad.isEmpty() ? Status::Ok()
                                 : Status::Error(QStringLiteral("merival.ini, section "
                                                                "[Notifications] : valeur "
                                                                "invalide pour %1 (valeur par "
                                                                "défaut gardée).")
                                                     .arg(bad.join(QStringLiteral(", "))));
    }
    return s;
}

void SaveNotifySettings(QSettings& ini, const NotifySettings& s) {
    if (!IniWritable(ini)) {
        return;
    }
    ini.beginGroup(kSection);
    ini.setValue(QStringLiteral("ServeurSMTP"), s.server);
    ini.setValue(QStringLiteral("PortSMTP"), s.port);
    ini.setValue(QStringLiteral("Securite"), s.security == SmtpSecurity::Tls        ? "tls"
                                             : s.security == SmtpSecurity::StartTls ? "starttls"
                                                                                    : "aucune");
    ini.setValue(QStringLiteral("Utilisateur"), s.user);
    ini.setValue(QStringLiteral("FichierMotDePasse"), s.passwordFile);
    ini.setValue(QStringLiteral("FichierCA"), s.caFile);
    ini.setValue(QStringLiteral("Expediteur"), s.sender);
    // Written as one text: a list would come back quoted.
    ini.setValue(QStringLiteral("Destinataires"), s.recipients.join(QStringLiteral(", ")));
    ini.setValue(QStringLiteral("Evenements"), EventsKey(s));
    ini.setValue(QStringLiteral("Webhook"), s.webhook);
    ini.setValue(QStringLiteral("EnteteWebhook"), s.webhookHeader);
    ini.setValue(QStringLiteral("ModeleWebhook"),
                 s.webhookFormat == WebhookFormat::Text ? "texte" : "json");
    ini.setValue(QStringLiteral("Regroupement"), s.groupSeconds);
    ini.setValue(QStringLiteral("MessagesParHeure"), s.perHour);
    ini.endGroup();
}

Status CheckNotifySettings(const NotifySettings& s) {
    const auto error = [](const QString& text) { return Status::Error(text); };
    if (!s.server.isEmpty() || !s.recipients.isEmpty()) {
        if (s.server.isEmpty() || s.server.contains(u' ') || s.server.contains(u'/')) {
            return error(QStringLiteral("Le serveur SMTP doit être un nom d'hôte ou une adresse."));
        }
        if (s.port < 1 || s.port > 65535) {
            return error(QStringLiteral("Le port SMTP doit être compris entre 1 et 65535."));
        }
        if (!PlainAddress(s.sender)) {
            return error(
                QStringLiteral("L'expéditeur doit être une adresse de courriel "
                               "(nom@domaine)."));
        }
        if (s.recipients.isEmpty()) {
            return error(QStringLiteral("Indiquez au moins un destinataire."));
        }
        for (const QString& recipient : s.recipients) {
            if (!PlainAddress(recipient)) {
                return error(QStringLiteral("Le destinataire « %1 » n'est pas une adresse de "
                                            "courriel (nom@domaine).")
                                 .arg(recipient));
            }
        }
        if (!s.passwordFile.isEmpty() && s.user.isEmpty()) {
            return error(QStringLiteral("Un mot de passe demande un nom d'utilisateur."));
        }
    }
    if (!s.webhook.isEmpty()) {
        const QUrl url(s.webhook, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty() ||
            (url.scheme() != u"http" && url.scheme() != u"https")) {
            return error(
                QStringLiteral("L'adresse du webhook doit commencer par http:// ou "
                               "https:// et nommer un serveur."));
        }
    }
    if (!s.webhookHeader.isEmpty()) {
        const qsizetype colon = s.webhookHeader.indexOf(u':');
        if (colon <= 0 || s.webhookHeader.left(colon).contains(u' ') ||
            s.webhookHeader.contains(u'\n') || s.webhookHeader.contains(u'\r')) {
            return error(
                QStringLiteral("L'en-tête du webhook s'écrit « Nom: valeur », sur une "
                               "ligne."));
        }
    }
    if (!s.activation && !s.returned && !s.acknowledged && !s.loss &&
        (s.mailUsable() || s.webhookUsable())) {
        return error(QStringLiteral("Choisissez au moins un événement à envoyer."));
    }
    return Status::Ok();
}

bool ClearTextAcrossNetwork(const NotifySettings& s) {
    return !s.server.isEmpty() && s.security == SmtpSecurity::None && !IsLoopback(s.server);
}

NotifySettings WithFilesIn(NotifySettings s, const QDir& directory) {
    for (QString* file : {&s.passwordFile, &s.caFile}) {
        if (!file->isEmpty()) {
            *file = directory.absoluteFilePath(*file);
        }
    }
    return s;
}

}  // namespace merival
