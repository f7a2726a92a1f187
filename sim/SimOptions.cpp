#include "sim/SimOptions.h"

#include <set>

namespace merival::sim {

QString Usage() {
    return QStringLiteral(
        "usage: merival-sim [--link NAME] [--baud 9600|4800|2400] [--parity n|e|o]\n"
        "                   [--stop 1|2] [--pace] [--seed S] [--tcp [HOST:]PORT [--mbap]]\n"
        "                   STATION...\n"
        "  STATION = ADDRESS:FAMILY[:OPTION[=RATE]...]\n"
        "  FAMILY  = resistivity conductivity ph redox oxygen flow chlorine turbidity\n"
        "            dual-resistivity 738 562\n"
        "  OPTION  = silent noise badcrc short long exception babble late echo\n"
        "            (RATE: probability per request, 0 to 1, default 1)\n");
}

std::optional<StationSetup> ParseStation(const QString& text, QString* error) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2) {
        *error = QStringLiteral("station '%1': expected ADDRESS:FAMILY").arg(text);
        return std::nullopt;
    }
    StationSetup setup;
    bool ok = false;
    setup.address = parts[0].toInt(&ok);
    if (!ok || setup.address < 1 || setup.address > 255) {
        *error = QStringLiteral("station '%1': address must be 1 to 255").arg(text);
        return std::nullopt;
    }
    const auto family = FamilyFromName(parts[1].toLower());
    if (!family) {
        *error = QStringLiteral("station '%1': unknown family '%2'").arg(text, parts[1]);
        return std::nullopt;
    }
    setup.family = *family;
    for (qsizetype i = 2; i < parts.size(); ++i) {
        const QString option = parts[i];
        const qsizetype equals = option.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? option : option.left(equals);
        const auto fault = FaultFromName(name.toLower());
        if (!fault) {
            *error = QStringLiteral("station '%1': unknown option '%2'").arg(text, name);
            return std::nullopt;
        }
        double rate = 1;
        if (equals >= 0) {
            rate = option.mid(equals + 1).toDouble(&ok);
            if (!ok || !(rate >= 0 && rate <= 1)) {
                *error =
                    QStringLiteral("station '%1': rate of '%2' must be 0 to 1").arg(text, name);
                return std::nullopt;
            }
        }
        setup.faults[*fault] = rate;
    }
    return setup;
}

ParsedArguments ParseArguments(const QStringList& arguments) {
    ParsedArguments parsed;
    SimConfig& c = parsed.config;
    std::set<int> addresses;
    auto fail = [&parsed](const QString& text) {
        parsed.error = text;
        return parsed;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString arg = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            parsed.help = true;
            return parsed;
        }
        if (arg == QLatin1String("--pace")) {
            c.pace = true;
            continue;
        }
        if (arg == QLatin1String("--mbap")) {
            c.mbap = true;
            continue;
        }
        if (arg.startsWith(QLatin1String("--"))) {
            if (!hasValue) {
                return fail(QStringLiteral("%1 needs a value").arg(arg));
            }
            const QString value = arguments[++i];
            bool ok = false;
            if (arg == QLatin1String("--tcp")) {
                const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
                if (colon >= 0) {
                    c.tcpHost = value.left(colon);
                }
                c.tcpPort = value.mid(colon + 1).toInt(&ok);
                if (!ok || c.tcpPort < 0 || c.tcpPort > 65535 || c.tcpHost.isEmpty()) {
                    return fail(QStringLiteral("--tcp takes [HOST:]PORT, PORT 0 to 65535"));
                }
            } else if (arg == QLatin1String("--link")) {
                if (value.isEmpty() || value.contains(QLatin1Char('/'))) {
                    return fail(QStringLiteral("--link takes a plain name, e.g. COM2"));
                }
                c.link = value;
            } else if (arg == QLatin1String("--baud")) {
                c.baud = value.toInt(&ok);
                if (!ok || (c.baud != 9600 && c.baud != 4800 && c.baud != 2400)) {
                    return fail(QStringLiteral("--baud must be 9600, 4800 or 2400"));
                }
            } else if (arg == QLatin1String("--parity")) {
                const QString p = value.toLower();
                if (p != QLatin1String("n") && p != QLatin1String("e") && p != QLatin1String("o")) {
                    return fail(QStringLiteral("--parity must be n, e or o"));
                }
                c.parity = p.at(0).toLatin1();
            } else if (arg == QLatin1String("--stop")) {
                c.stopBits = value.toInt(&ok);
                if (!ok || (c.stopBits != 1 && c.stopBits != 2)) {
                    return fail(QStringLiteral("--stop must be 1 or 2"));
                }
            } else if (arg == QLatin1String("--seed")) {
                c.seed = value.toULongLong(&ok);
                if (!ok) {
                    return fail(QStringLiteral("--seed must be a whole number"));
                }
            } else {
                return fail(QStringLiteral("unknown option %1").arg(arg));
            }
            continue;
        }
        QString error;
        const auto station = ParseStation(arg, &error);
        if (!station) {
            return fail(error);
        }
        if (!addresses.insert(station->address).second) {
            return fail(QStringLiteral("address %1 given twice").arg(station->address));
        }
        c.stations.push_back(*station);
    }
    if (c.mbap && c.tcpPort < 0) {
        return fail(QStringLiteral("--mbap needs --tcp"));
    }
    if (c.stations.empty()) {
        return fail(QStringLiteral("no station given"));
    }
    return parsed;
}

double CharacterSeconds(const SimConfig& config) {
    const int bits = 1 + 8 + (config.parity == 'n' ? 0 : 1) + config.stopBits;
    return static_cast<double>(bits) / config.baud;
}

}  // namespace merival::sim
