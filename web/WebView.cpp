#include "web/WebView.h"

namespace merival {

WebView::WebView(Sources sources, QObject* parent) : QObject(parent), sources_(std::move(sources)) {
    thread_.setObjectName(QStringLiteral("merival-web"));
}

WebView::~WebView() {
    stop();
}

void WebView::readSettings(const QSettings& ini) {
    settings_ = WithFilesIn(LoadWebSettings(ini), sources_.iniDirectory);
}

void WebView::start() {
    if (server_ != nullptr || !settings_.active) {
        return;
    }
    WebHooks hooks;
    if (alarmsAvailable_) {
        hooks.acknowledge = [this](const QString& user) { Q_EMIT acknowledgeRequested(user); };
    }
    hooks.journal = [this](const AlarmEvent& e) { Q_EMIT journalRequested(e); };
    hooks.historyPath = sources_.historyPath;
    // Made on its own thread: the server's sockets and their timers belong there.
    anchor_ = std::make_unique<Mailbox>();
    anchor_->moveToThread(&thread_);
    StartThread(thread_);
    Status listening;
    WebServer* server = nullptr;
    anchor_->Call([&] {
        server = new WebServer(settings_, live_, std::move(hooks));
        listening = server->Listen();
    });
    {
        QMutexLocker lock(&serverMutex_);
        server_ = server;
    }
    if (!listening.ok()) {
        stop();
        Q_EMIT failed(listening.message);
        return;
    }
    port_ = server->port();
}

void WebView::stop() {
    WebServer* server = nullptr;
    {
        QMutexLocker lock(&serverMutex_);
        server = std::exchange(server_, nullptr);
    }
    if (server != nullptr) {
        anchor_->Call([server] { delete server; });
    }
    thread_.quit();
    thread_.wait();
    anchor_.reset();
    port_ = 0;
}

void WebView::takeReading(const ChannelReading& reading) {
    live_.Take(reading);
}

void WebView::passFinished(const PassEnd& pass) {
    std::optional<std::array<ChannelStats, kChannelCount>> stats;
    if (sources_.stats) {
        stats = sources_.stats();
    }
    live_.EndPass(pass.time, stats, sources_.droppedPasses ? sources_.droppedPasses() : -1);
    PushLater();
}

void WebView::setAlarmState(int channel, AlarmState state) {
    live_.SetAlarm(channel, state);
    PushLater();
}

void WebView::PushLater() {
    QMutexLocker lock(&serverMutex_);
    if (WebServer* server = server_) {
        anchor_->Post([server] { server->Push(); });
    }
}

}  // namespace merival
