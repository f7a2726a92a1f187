#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

#include "diagnostics/Exchange.h"

class QComboBox;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTableWidget;

namespace merival {

class ExchangeLog;
class Operator;

// The exchanges shown, oldest first; rows come in batches and the oldest go beyond capacity.
class ExchangeTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ExchangeTableModel(qsizetype capacity, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    void Append(std::vector<ExchangeEvent> events);
    // The row of this exchange, if shown, takes its new state.
    void Replace(const ExchangeEvent& event);
    void Clear();
    // The row of an exchange; -1 when it is not (or no longer) there.
    [[nodiscard]] int RowOf(quint64 seq) const;
    [[nodiscard]] const ExchangeEvent& event(int row) const {
        return rows_[static_cast<size_t>(row)];
    }

private:
    std::deque<ExchangeEvent> rows_;
    qsizetype capacity_;
    QFont fixed_;
};

// "Diagnostic > Trafic de la ligne": statistics per channel above, the exchanges below,
// following the line live. Reads the log only while shown.
class TraficLigne : public QWidget {
    Q_OBJECT
public:
    TraficLigne(ExchangeLog& log, Operator& op, QWidget* parent = nullptr);

    // Takes the new exchanges and the statistics; the timer calls it while the window shows.
    void Refresh();
    // The newest exchange stays in view as exchanges come.
    [[nodiscard]] bool Following() const;
    // Asks for the file "Enregistrer…" writes; empty cancels. A file dialog unless replaced.
    void setFileChooser(std::function<QString()> chooser) { chooseFile_ = std::move(chooser); }
    // The text "Enregistrer…" writes: the statistics, then the exchanges the filter shows.
    [[nodiscard]] QString SavedText() const;

    static constexpr int kRefreshMs = 100;

    QTableWidget* Statistiques = nullptr;
    QPushButton* RemiseAZero = nullptr;
    QComboBox* FiltreVoie = nullptr;
    QPushButton* Pause = nullptr;
    QPushButton* Effacer = nullptr;
    QPushButton* Enregistrer = nullptr;
    QTableView* Echanges = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildStatistics();
    void BuildExchanges();
    void RefreshStatistics();
    void FilterChanged(int index);
    void Clear();
    void Save();

    ExchangeLog& log_;
    Operator& op_;
    ExchangeTableModel* model_ = nullptr;
    QSortFilterProxyModel* filter_ = nullptr;
    QTimer refresh_;
    quint64 lastSeq_ = 0;
    quint64 amendmentsSeen_ = 0;
    std::function<QString()> chooseFile_;
};

}  // namespace merival
