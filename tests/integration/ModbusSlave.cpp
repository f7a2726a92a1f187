#include "ModbusSlave.h"

#include <errno.h>
#include <modbus/modbus.h>

namespace merival::test {

ModbusSlave::ModbusSlave(QString device, int address,
                         const std::array<quint16, kRegisters>& registers)
    : device_(std::move(device)), address_(address), registers_(registers) {}

ModbusSlave::~ModbusSlave() {
    Stop();
}

bool ModbusSlave::Start() {
    auto* ctx = modbus_new_rtu(device_.toLocal8Bit().constData(), 9600, 'N', 8, 1);
    if (ctx == nullptr) {
        error_ = QStringLiteral("modbus_new_rtu failed");
        return false;
    }
    context_ = ctx;
    modbus_set_slave(ctx, address_);
    if (modbus_connect(ctx) != 0) {
        error_ = QString::fromLocal8Bit(modbus_strerror(errno));
        return false;
    }
    // Wakes up regularly so Stop() is noticed.
    modbus_set_indication_timeout(ctx, 0, 100000);
    auto* mapping = modbus_mapping_new(0, 0, kRegisters, 0);
    mapping_ = mapping;
    for (int i = 0; i < kRegisters; ++i) {
        mapping->tab_registers[i] = registers_[static_cast<size_t>(i)];
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ModbusSlave::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (context_ != nullptr) {
        auto* ctx = static_cast<modbus_t*>(context_);
        modbus_close(ctx);
        modbus_free(ctx);
        context_ = nullptr;
    }
    if (mapping_ != nullptr) {
        modbus_mapping_free(static_cast<modbus_mapping_t*>(mapping_));
        mapping_ = nullptr;
    }
}

void ModbusSlave::Run() {
    auto* ctx = static_cast<modbus_t*>(context_);
    auto* mapping = static_cast<modbus_mapping_t*>(mapping_);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop_) {
        const int rc = modbus_receive(ctx, query);
        if (rc > 0) {
            if (modbus_reply(ctx, query, rc, mapping) > 0) {
                ++answered_;
            }
        } else if (rc < 0 && errno != ETIMEDOUT) {
            // Bad CRC or a malformed request: libmodbus refused what we sent.
            ++rejected_;
        }
    }
}

}  // namespace merival::test
