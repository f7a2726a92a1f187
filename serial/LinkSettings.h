#pragma once

#include <QSettings>
#include <QString>

#include "base/Status.h"

namespace merival {

enum class LinkMode { Serial, RtuTcp, ModbusTcp };

// What the transport adds to the line's own timing; the defaults change nothing.
struct LinkTiming {
    int pauseBetweenMs = 0;    // added to the 3.5-character silence before a request
    int pauseAfterOpenMs = 0;  // after the port or connection opens
    int retries = 0;           // further tries of a failed exchange, within the pass
    int replyMs = 2000;

    bool operator==(const LinkTiming&) const = default;
};

// Section [Liaison] of merival.ini. The serial line itself stays in "PortCom.dat".
struct LinkSettings {
    LinkMode mode = LinkMode::Serial;
    QString host;
    int port = 0;  // 0: the mode's default port
    LinkTiming timing;

    bool operator==(const LinkSettings&) const = default;
};

// A transparent converter has no standard port; this one is common on them.
inline constexpr int kRtuTcpDefaultPort = 4001;
inline constexpr int kModbusTcpDefaultPort = 502;

[[nodiscard]] int EffectivePort(const LinkSettings& settings);
// "serie", "rtu-tcp", "modbus-tcp".
[[nodiscard]] QString ModeKey(LinkMode mode);

// Keys missing or out of range take their defaults; *warning (when given) names each one
// that was out of range.
[[nodiscard]] LinkSettings LoadLinkSettings(const QSettings& ini, Status* warning = nullptr);
// merival.ini of the working directory.
[[nodiscard]] LinkSettings LoadLinkSettings();
void SaveLinkSettings(QSettings& ini, const LinkSettings& settings);

}  // namespace merival
