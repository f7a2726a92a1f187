// The publishing capability in the composition root: its menu entry, its publisher fed by
// every reading, and the state of the link in the main window's status bar.

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QSysInfo>

#include "base/IniFile.h"
#include "publish/Publisher.h"
#include "publish/windows/PublishDialog.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace merival {

class AppPublishing : public QObject {
public:
    AppPublishing(App& app, MERIVAL& main, Operator& op)
        : QObject(&app), app_(app), main_(&main), dialog_(op) {
        main.Config->addAction(QStringLiteral("&Publication MQTT"), this,
                               [this] { dialog_.ShowFromMenu(); });
        connect(&dialog_, &PublishDialog::saved, this, &AppPublishing::Restart);
        const std::unique_ptr<QSettings> ini = OpenIni();
        Restart(LoadPublishSettings(*ini));
    }

    void Restart(const PublishSettings& settings) {
        publisher_.reset();
        // The status bar also names the working folder: only the link's own label goes.
        if (!state_.isNull()) {
            state_->setVisible(settings.usable());
        }
        if (!settings.usable()) {
            if (main_) {
                main_->setLinkState({});
            }
            return;
        }
        if (state_.isNull()) {
            state_ = new QLabel(main_);
            state_->setObjectName(QStringLiteral("EtatPublication"));
            main_->statusBar()->addWidget(state_);
        }
        publisher_ = std::make_unique<Publisher>(WithFilesIn(settings, QDir::current()),
                                                 QSysInfo::machineHostName());
        connect(publisher_.get(), &Publisher::stateChanged, this,
                [this](LinkState, const QString& text) {
                    state_->setText(QStringLiteral("MQTT : ") + text);
                    if (main_) {
                        main_->setLinkState(state_->text());
                    }
                });
        connect(&app_, &App::reading, publisher_.get(), &Publisher::publish);
        publisher_->Start();
    }

private:
    App& app_;
    QPointer<MERIVAL> main_;
    PublishDialog dialog_;
    QPointer<QLabel> state_;
    std::unique_ptr<Publisher> publisher_;
};

void App::SetUpPublishing() {
    publishing_ = new AppPublishing(*this, *main_, *op_);
}

}  // namespace merival
