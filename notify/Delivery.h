#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>

#include "notify/NotifySettings.h"

namespace merival {

// What the server answered: its last reply line ("250 2.0.0 Ok", "HTTP 200 ..."), or a French
// reason when no answer came.
struct SendResult {
    bool ok = false;
    QString reply;
};

// Blocking, through libcurl, with time limits; a set `cancel` ends the transfer early. Safe
// from any thread, one call per thread at a time.
[[nodiscard]] SendResult SendMail(const NotifySettings& settings, const QByteArray& message,
                                  const std::atomic<bool>* cancel = nullptr);
[[nodiscard]] SendResult PostWebhook(const NotifySettings& settings, const QByteArray& body,
                                     const std::atomic<bool>* cancel = nullptr);

}  // namespace merival
