#pragma once

#include <QString>
#include <atomic>
#include <thread>

namespace merival::test {

// Two pseudo-terminals joined back to back, like a null-modem cable: bytes written on one
// slave end come out of the other. Both slave ends are real device paths, so each side opens
// its own terminal with its own settings.
class PtyBridge {
public:
    PtyBridge() = default;
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    bool Start();
    void Stop();

    [[nodiscard]] QString deviceA() const { return a_.name; }
    [[nodiscard]] QString deviceB() const { return b_.name; }

private:
    struct End {
        int master = -1;
        int slave = -1;  // held open so the master never sees a hang-up
        QString name;
    };
    static bool OpenEnd(End& end);
    static void CloseEnd(End& end);
    void Run();

    End a_;
    End b_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace merival::test
