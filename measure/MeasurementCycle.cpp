#include "measure/MeasurementCycle.h"

#include <QTimer>

#include "config/AppInfo.h"
#include "config/ChannelStore.h"
#include "instruments/Polling.h"

namespace merival {
namespace {

constexpr qint16 kBaseBlockOffset = 0;
constexpr qint16 kExtBlockOffset = 20;
constexpr qint64 kTickMs = 1000;

// PollInProgress is cleared however the pass ends.
class PassFlag {
public:
    explicit PassFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~PassFlag() { flag_ = false; }
    PassFlag(const PassFlag&) = delete;
    PassFlag& operator=(const PassFlag&) = delete;

private:
    bool& flag_;
};

}  // namespace

MeasurementCycle::MeasurementCycle(const ChannelStore& store, RegisterReader& reader,
                                   MeasurementResults& results, MeasureState& state,
                                   QChar decimalSeparator, QObject* parent)
    : QObject(parent),
      store_(store),
      reader_(reader),
      results_(results),
      state_(state),
      decimalSeparator_(decimalSeparator) {
    clock_.start();
}

void MeasurementCycle::Minuterie1_Timer() {
    // The transport pumps events while it waits, so a tick can land inside a pass: drop it,
    // two passes would interleave their requests on the one line.
    if (state_.PollInProgress) {
        ++droppedTicks_;
        return;
    }
    if (!state_.StopRequested()) {
        RunMeasurementCycle();
    } else {
        Q_EMIT stopPending();
    }
}

void MeasurementCycle::RunMeasurementCycle() {
    if (state_.PollInProgress) {
        ++droppedTicks_;
        return;
    }
    passStartMs_ = clock_.elapsed();
    unanswered_ = false;
    silent_.StartPass();
    {
        const PassFlag inProgress(state_.PollInProgress);
        Q_EMIT passStarted();
        for (int n = 0; n < kChannelCount; ++n) {
            if (store_.IsSelected(n)) {
                PollChannel(n);
            }
            if (state_.StopRequested()) {
                break;
            }
        }
    }
    // The wait for a silent station's reply is given back to the live ones: the tick timer
    // does not fire while its own handler runs, so the ticks of that wait are lost.
    if (unanswered_ && silent_.answeredThisPass() && clock_.elapsed() - passStartMs_ >= kTickMs) {
        QTimer::singleShot(0, this, &MeasurementCycle::Minuterie1_Timer);
    }
    // After the flag is down, so that a receiver may shut the measurement down at once.
    Q_EMIT passFinished();
}

void MeasurementCycle::PollChannel(int n) {
    // Everything is read afresh: an edit in the configuration dialog counts from this tick.
    const qint16 blockOffset = store_.IsBaseBlock(n) ? kBaseBlockOffset : kExtBlockOffset;
    const double address = NumericPrefix(store_.ChannelAddress(n));
    const int typeIndex = store_.ChannelType(n);
    const PollRoutine poll = PollRoutineForType(typeIndex);
    if (poll == nullptr) {
        return;
    }
    Q_EMIT polling(n);
    ChannelReading current;
    current.channel = n;
    current.tag = store_.Record(n).Tag;
    current.typeIndex = typeIndex;
    current.typeName = InstrumentTypeList().value(typeIndex).trimmed();
    if (silent_.ShouldAsk(n, address, blockOffset, passStartMs_)) {
        current.ok = poll(reader_, results_, address, blockOffset);
        silent_.Record(n, address, blockOffset, current.ok, passStartMs_);
        unanswered_ = unanswered_ || (!current.ok && silent_.enabled());
    }
    current.time = QDateTime::currentDateTimeUtc();
    current.steadyMs = SteadyMs();
    if (current.ok) {
        DescribeReading(current, results_, decimalSeparator_);
    } else {
        current.text = QStringLiteral("HS");
    }
    Q_EMIT valueText(n, current.text);
    Q_EMIT reading(current);
}

}  // namespace merival
