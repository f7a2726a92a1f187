#include <gtest/gtest.h>

#include <QSettings>

#include "base/IniFile.h"
#include "common/TempDir.h"
#include "instruments/Frame.h"
#include "serial/GatewayInput.h"
#include "serial/LinePort.h"
#include "serial/QtSerialPort.h"
#include "serial/TcpPort.h"

namespace merival {
namespace {

LinkSettings Load(const QByteArray& ini, Status* warning = nullptr) {
    test::CurrentTempDir dir;
    EXPECT_TRUE(dir.write(QStringLiteral("merival.ini"), ini));
    QSettings settings(dir.filePath(QStringLiteral("merival.ini")), QSettings::IniFormat);
    return LoadLinkSettings(settings, warning);
}

TEST(LinkSettings, MissingSectionIsTheSerialLineWithTodaysTiming) {
    Status warning;
    const LinkSettings s = Load("[Historique]\nEnregistrement=false\n", &warning);
    EXPECT_TRUE(warning.ok());
    EXPECT_EQ(s, LinkSettings{});
    EXPECT_EQ(s.mode, LinkMode::Serial);
    EXPECT_EQ(s.timing, (LinkTiming{0, 0, 0, 2000}));
}

TEST(LinkSettings, KeysAreReadAndBadValuesFallBackWithAWarning) {
    Status warning;
    LinkSettings s = Load(
        "[Liaison]\nMode=Modbus-TCP\nHote=passerelle.local\nPauseEntreRequetes=20\n"
        "PauseApresOuverture=500\nReessais=2\nTempsReponse=800\n",
        &warning);
    EXPECT_TRUE(warning.ok()) << warning.message.toStdString();
    EXPECT_EQ(s.mode, LinkMode::ModbusTcp);
    EXPECT_EQ(s.host, QStringLiteral("passerelle.local"));
    EXPECT_EQ(EffectivePort(s), 502);
    EXPECT_EQ(s.timing, (LinkTiming{20, 500, 2, 800}));
    s.mode = LinkMode::RtuTcp;
    EXPECT_EQ(EffectivePort(s), kRtuTcpDefaultPort);

    s = Load("[Liaison]\nMode=rtu-tcp\nHote=10.0.0.5\nPort=70000\nReessais=4\nTempsReponse=abc\n",
             &warning);
    EXPECT_EQ(s.mode, LinkMode::RtuTcp);
    EXPECT_EQ(EffectivePort(s), kRtuTcpDefaultPort);
    EXPECT_EQ(s.timing, LinkTiming{});
    EXPECT_TRUE(warning.message.contains(QStringLiteral("Port, Reessais, TempsReponse")))
        << warning.message.toStdString();

    EXPECT_EQ(Load("[Liaison]\nMode=telepathie\n", &warning).mode, LinkMode::Serial);
    EXPECT_FALSE(warning.ok());
}

TEST(LinkSettings, SavedNetworkLineReadsBackAndSerialDropsTheAddress) {
    test::CurrentTempDir dir;
    QSettings ini(dir.filePath(QStringLiteral("merival.ini")), QSettings::IniFormat);
    LinkSettings s;
    s.mode = LinkMode::RtuTcp;
    s.host = QStringLiteral("192.168.1.20");
    s.port = 4196;
    SaveLinkSettings(ini, s);
    EXPECT_EQ(LoadLinkSettings(ini), s);
    s.mode = LinkMode::Serial;
    SaveLinkSettings(ini, s);
    EXPECT_FALSE(ini.contains(QStringLiteral("Liaison/Hote")));
    EXPECT_EQ(LoadLinkSettings(ini), LinkSettings{});
}

// Saved over, a file QSettings could not parse would lose what it could not read.
TEST(LinkSettings, DamagedFileIsNotSavedOver) {
    test::CurrentTempDir dir;
    const QByteArray damaged = "[Historique\nEnregistrement=true\n; à corriger\n";
    ASSERT_TRUE(dir.write(QStringLiteral("merival.ini"), damaged));
    LinkSettings s;
    s.mode = LinkMode::ModbusTcp;
    s.host = QStringLiteral("passerelle");
    {
        const auto ini = OpenIni();
        EXPECT_FALSE(IniWritable(*ini));
        SaveLinkSettings(*ini, s);
        ini->sync();
        EXPECT_TRUE(IniStatus(*ini).message.contains(QStringLiteral("rien n'y est enregistré")));
    }
    EXPECT_EQ(dir.read(QStringLiteral("merival.ini")), damaged);
}

QByteArray Mbap(quint16 transaction, const QByteArray& pdu) {
    return SplitWord(transaction) + SplitWord(0) + SplitWord(static_cast<quint16>(pdu.size())) +
           pdu;
}

// The frames taken do not depend on how TCP cuts the bytes.
TEST(GatewayInput, MbapFramesWhateverThePieces) {
    const QByteArray pdu = QByteArray::fromHex("01031000010002000300040005000600070008");
    const QByteArray rtu = pdu + FrameCrc(pdu);
    NetworkFacts facts;

    // A burst of other transactions' replies longer than the input bound, then the reply.
    QByteArray burst;
    while (burst.size() <= GatewayInput::kMaxInput) {
        burst += Mbap(6, pdu);
    }
    GatewayInput input(true);
    input.expect(7);
    input.feed(burst + Mbap(7, pdu).left(5), facts);
    input.feed(Mbap(7, pdu).mid(5), facts);
    EXPECT_EQ(input.take(), rtu);
    EXPECT_EQ(input.strays(), burst.size() / Mbap(6, pdu).size());
    EXPECT_EQ(facts.replyHeader, Mbap(7, pdu).left(GatewayInput::kMbapHeader));

    // Bytes that are not MBAP lose the stream until the next request, however they are cut.
    for (const bool apart : {false, true}) {
        GatewayInput lost(true);
        lost.expect(7);
        const QByteArray garbage = rtu;
        if (apart) {
            lost.feed(garbage, facts);
            lost.feed(Mbap(7, pdu), facts);
        } else {
            lost.feed(garbage + Mbap(7, pdu), facts);
        }
        EXPECT_EQ(lost.take(), QByteArray()) << apart;
        lost.discard();
        lost.feed(Mbap(7, pdu), facts);
        EXPECT_EQ(lost.take(), rtu) << apart;
    }

    // rtu-tcp: the bytes as they come, up to the bound.
    GatewayInput plain(false);
    plain.feed(burst.left(100), facts);
    plain.feed(burst.mid(100), facts);
    EXPECT_EQ(plain.take(), burst.left(GatewayInput::kMaxInput));
}

TEST(LinkSettings, LinePortFollowsTheSettingsAtEachOpening) {
    test::CurrentTempDir dir;
    LinkSettings wanted;
    LinePort port([&wanted] { return wanted; });
    ASSERT_TRUE(port.setSettings(QStringLiteral("9600,n,8,1")));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("absent")), QStringLiteral("COM1")));
    QString error;
    EXPECT_FALSE(port.open(&error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Impossible d'ouvrir le port COM1")));
    EXPECT_EQ(port.current().mode, LinkMode::Serial);

    wanted.mode = LinkMode::ModbusTcp;
    wanted.host = QStringLiteral("127.0.0.1");
    wanted.port = 1;  // nothing listens there
    wanted.timing.replyMs = 700;
    EXPECT_FALSE(port.open(&error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Connexion refusée par 127.0.0.1:1")))
        << error.toStdString();
    EXPECT_EQ(port.timing()->replyMs, 700);
    EXPECT_EQ(port.networkFacts().fault, LinkFault::Refused);
}

}  // namespace
}  // namespace merival
