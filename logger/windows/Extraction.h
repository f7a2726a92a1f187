#pragma once

#include <QWidget>

namespace merival {

class Operator;

// The extraction dialog: pick a logger file, reset it or export it.
class Extraction : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Reset, Export };

    explicit Extraction(Operator& op, QWidget* parent = nullptr);
    ~Extraction() override;

    // Shows the dialog (loading it on first use), then enables exactly the action button of the
    // mode.
    void ShowInMode(Mode mode);
};

}  // namespace merival
