#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSqlQuery>
#include <QTcpServer>

#include "common/HttpClient.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/windows/ConfigW.h"
#include "history/Storage.h"
#include "shell/App.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

// The desktop program serves the web view of [Web] once its main window is up, acknowledges
// through its own alarm chain and journals what the browser's users did.
TEST(DesktopWebView, ServesAcknowledgesAndJournals) {
    test::CurrentTempDir dir;
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    ASSERT_TRUE(
        dir.write("merival.ini", "[Web]\nActif=true\nPort=" + QByteArray::number(port) + "\n"));
    test::ScriptedOperator op;
    AppOptions options;
    options.op = &op;
    options.port = std::make_unique<test::FakePort>();
    options.exit = [](int) {};
    {
        App app(std::move(options));
        app.Start();
        op.shown.clear();  // the missing line files, said at start
        app.configW()->Commande1->click();
        ASSERT_NE(app.mainWindow(), nullptr);
        const test::Response state = test::Http(port, "GET", "/api/etat");
        ASSERT_EQ(state.status, 200);
        const QJsonObject json = QJsonDocument::fromJson(state.body).object();
        EXPECT_TRUE(json[QStringLiteral("alarmes")].toBool());
        const QByteArray origin = "Origin: http://127.0.0.1:" + QByteArray::number(port);
        EXPECT_EQ(
            test::Http(port, "POST", "/api/acquitter",
                       {origin, "X-Jeton: " + json[QStringLiteral("jeton")].toString().toLatin1()})
                .status,
            200);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();
    }
    ASSERT_TRUE(OpenStorage(QStringLiteral("web-check"), dir.filePath("historique.sqlite"),
                            StorageAccess::Read)
                    .status.ok());
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("web-check")));
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT voie, repere, evenement FROM journal_alarmes")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), -1);
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("local"));
    EXPECT_EQ(q.value(2).toString(), QStringLiteral("Acquittement web"));
    q.finish();
    CloseStorage(QStringLiteral("web-check"));
}

}  // namespace
}  // namespace merival
