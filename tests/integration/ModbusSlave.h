#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <thread>

namespace merival::test {

// An independent Modbus RTU station: libmodbus answering on a terminal device from a thread
// of its own. One address per line (libmodbus swallows traffic for other addresses).
class ModbusSlave {
public:
    static constexpr int kRegisters = 28;  // blocks 0..7 and 20..27

    ModbusSlave(QString device, int address, const std::array<quint16, kRegisters>& registers);
    ~ModbusSlave();
    ModbusSlave(const ModbusSlave&) = delete;
    ModbusSlave& operator=(const ModbusSlave&) = delete;

    bool Start();  // false (see error()) when libmodbus cannot open the device
    void Stop();

    [[nodiscard]] int answered() const { return answered_.load(); }
    [[nodiscard]] int rejected() const { return rejected_.load(); }
    [[nodiscard]] QString error() const { return error_; }

private:
    void Run();

    QString device_;
    int address_;
    std::array<quint16, kRegisters> registers_;
    void* context_ = nullptr;  // modbus_t
    void* mapping_ = nullptr;  // modbus_mapping_t
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::atomic<int> rejected_{0};
    QString error_;
};

}  // namespace merival::test
