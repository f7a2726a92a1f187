#pragma once

#include <QWidget>

namespace merival {

class Operator;
class Transport;
struct MeasureState;
struct SerialSettings;

// The serial link dialog. Edits the shared SerialSettings in place.
class ConfLS : public QWidget {
    Q_OBJECT
public:
    ConfLS(SerialSettings& settings, Transport& transport, const MeasureState& state, Operator& op,
           QWidget* parent = nullptr);
    ~ConfLS() override;

    // The menu entry: loads the dialog on first use (and after the close box unloaded it),
    // otherwise only shows it again.
    void ShowFromMenu();
};

}  // namespace merival
