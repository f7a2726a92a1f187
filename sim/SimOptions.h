#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "sim/SimStation.h"

namespace merival::sim {

struct SimConfig {
    QString link = QStringLiteral("COM1");
    int baud = 9600;
    char parity = 'n';
    int stopBits = 1;
    bool pace = false;
    // Over TCP instead of a pseudo-terminal: RTU frames as they are, or MBAP frames.
    QString tcpHost = QStringLiteral("127.0.0.1");
    int tcpPort = -1;  // -1: no TCP; 0: a free port, printed on stderr
    bool mbap = false;
    quint64 seed = 1;
    std::vector<StationSetup> stations;
};

struct ParsedArguments {
    SimConfig config;
    QString error;  // empty when the arguments are usable
    bool help = false;
};

// Arguments after the program name.
[[nodiscard]] ParsedArguments ParseArguments(const QStringList& arguments);

// ADDRESS:FAMILY[:OPTION[=RATE]...]
[[nodiscard]] std::optional<StationSetup> ParseStation(const QString& text, QString* error);

// Seconds one character takes on the line: start bit, 8 data bits, parity, stop bits.
[[nodiscard]] double CharacterSeconds(const SimConfig& config);

[[nodiscard]] QString Usage();

}  // namespace merival::sim
