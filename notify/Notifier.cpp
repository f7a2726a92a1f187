#include "notify/Notifier.h"

#include <QFileInfo>
#include <QSysInfo>

#include "history/Storage.h"
#include "notify/NotifyWorker.h"

namespace merival {

Notifier::Notifier(const QString& databasePath, QObject* parent)
    : QObject(parent),
      databasePath_(databasePath.isEmpty() ? HistoryPath() : databasePath),
      station_(QSysInfo::machineHostName()) {
    thread_.setObjectName(QStringLiteral("merival-notifications"));
}

Notifier::~Notifier() {
    ending_ = true;
    stop();
    if (testThread_) {
        testThread_->wait();
    }
}

void Notifier::readSettings(const QSettings& ini) {
    Status warning;
    NotifySettings s = LoadNotifySettings(ini, &warning);
    if (!warning.ok()) {
        Q_EMIT failed(warning.message);
    }
    setSettings(WithFilesIn(s, QFileInfo(ini.fileName()).absoluteDir()));
}

void Notifier::setSettings(const NotifySettings& settings) {
    settings_ = settings;
    rules_.groupMs = qint64(settings.groupSeconds) * 1000;
    rules_.perHour = settings.perHour;
    Configure();
}

void Notifier::setRules(const DeliveryRules& rules) {
    rules_ = rules;
    Configure();
}

void Notifier::Configure() {
    if (worker_) {
        box_->Post(
            [w = worker_, s = settings_, r = rules_, n = station_] { w->Configure(s, r, n); });
    }
}

void Notifier::start() {
    if (worker_) {
        return;
    }
    cancel_ = false;
    worker_ = new NotifyWorker(databasePath_, &cancel_);
    worker_->moveToThread(&thread_);
    box_ = std::make_unique<Mailbox>();
    box_->moveToThread(&thread_);
    // Handed over on the worker's thread into our own mailbox, not through Qt's queue.
    connect(
        worker_, &NotifyWorker::summary, worker_,
        [this](const QString& text) { news_.Post([this, text] { Q_EMIT summary(text); }); },
        Qt::DirectConnection);
    connect(
        worker_, &NotifyWorker::failed, worker_,
        [this](const QString& text) { news_.Post([this, text] { Q_EMIT failed(text); }); },
        Qt::DirectConnection);
    StartThread(thread_);
    Configure();
    box_->Post([w = worker_] { w->Resume(); });
}

void Notifier::stop() {
    if (!worker_) {
        return;
    }
    // A transfer under way ends at its next progress call; what is still waiting stays in the
    // table for the next start.
    cancel_ = true;
    // Deleted there through the mailbox, so that its end is seen here before the next start.
    box_->Call([w = worker_] { delete w; });
    thread_.quit();
    thread_.wait();
    worker_ = nullptr;
    box_.reset();
}

void Notifier::takeReading(const ChannelReading& reading) {
    if (reading.channel < 0 || reading.channel >= kChannelCount) {
        return;
    }
    const std::lock_guard lock(readingsMutex_);
    readings_[size_t(reading.channel)] = reading;
}

void Notifier::Notify(const AlarmEvent& event) {
    if (!worker_ || !settings_.Wants(event) ||
        (!settings_.mailUsable() && !settings_.webhookUsable())) {
        return;
    }
    std::optional<ChannelReading> reading;
    if (event.channel >= 0 && event.channel < kChannelCount) {
        const std::lock_guard lock(readingsMutex_);
        reading = readings_[size_t(event.channel)];
    }
    const Notification n{0, event, EventJson(event, reading)};
    box_->Post([w = worker_, n] { w->Add(n); });
}

void Notifier::Test(const NotifySettings& s) {
    if (testThread_ && testThread_->isRunning()) {
        return;
    }
    if (testThread_) {
        testThread_->wait();
    }
    const AlarmEvent event{QDateTime::currentDateTimeUtc(), 0, QStringLiteral("Essai"),
                           QStringLiteral("message d'essai"), QStringLiteral("Essai")};
    const QString station = station_;
    testThread_.reset(QThread::create([this, s, event, station] {
        const QList<Notification> batch{{0, event, EventJson(event, std::nullopt)}};
        QStringList lines;
        bool ok = true;
        if (s.mailUsable()) {
            const SendResult r =
                SendMail(s, MailMessage(s, batch, station, QDateTime::currentDateTime()), &ending_);
            ok = ok && r.ok;
            lines.append(
                QStringLiteral("Courriel %1 : %2")
                    .arg(r.ok ? QStringLiteral("envoyé") : QStringLiteral("échec"), r.reply));
        }
        if (s.webhookUsable()) {
            const SendResult r =
                PostWebhook(s,
                            s.webhookFormat == WebhookFormat::Text ? WebhookText(batch, station)
                                                                   : batch.first().json,
                            &ending_);
            ok = ok && r.ok;
            lines.append(
                QStringLiteral("Webhook %1 : %2")
                    .arg(r.ok ? QStringLiteral("envoyé") : QStringLiteral("échec"), r.reply));
        }
        if (lines.isEmpty()) {
            ok = false;
            lines.append(
                QStringLiteral("Rien à essayer : indiquez un serveur SMTP et un "
                               "destinataire, ou un webhook."));
        }
        news_.Post([this, ok, text = lines.join(u'\n')] { Q_EMIT tested(ok, text); });
    }));
    testThread_->start();
}

}  // namespace merival
