#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace merival::test {

// One line of the simulator's request log.
struct SimRecord {
    double time = 0;
    int address = -1;  // -1 for "-"
    int block = -1;
    QString answer;
    int bytes = 0;
    QByteArray reply;  // bytes, empty for "-"
    QByteArray request;
};

[[nodiscard]] bool ParseSimRecord(const QByteArray& line, SimRecord* record);

// merival-sim run in a directory (normally the test's current temporary directory), with its
// request log collected as it is printed.
class SimProcess {
public:
    SimProcess(QString program, QString directory);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts and waits until the link exists. The link name is taken from --link, else COM1.
    bool Start(const QStringList& arguments);
    // SIGKILL: the link stays behind, dangling, as after a crash.
    void Kill();
    // SIGTERM: the simulator removes its link.
    bool Terminate();

    [[nodiscard]] bool running() const { return process_.state() == QProcess::Running; }
    [[nodiscard]] qint64 pid() const { return process_.processId(); }
    [[nodiscard]] QString linkPath() const { return linkPath_; }

    // Records read so far (reads what the process printed meanwhile).
    const std::vector<SimRecord>& records();
    // Runs the event loop until n records have been printed, or a guard of some seconds ran out.
    bool WaitForRecords(size_t n);
    [[nodiscard]] QByteArray errorOutput();

private:
    void Collect();

    QString program_;
    QString directory_;
    QString linkPath_;
    QProcess process_;
    QByteArray partial_;
    std::vector<SimRecord> records_;
};

// Runs the event loop until the condition holds or the guard (milliseconds) runs out. Returns
// the condition. The guard only keeps a broken test from hanging; it is no timing check.
bool PumpUntil(const std::function<bool()>& done, int guardMs = 10000);

}  // namespace merival::test
