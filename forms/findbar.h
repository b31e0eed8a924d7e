#pragma once
#include <QWidget>

#include <memory>

class CursorModel;
class Prompter;
class ShownRows;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

namespace tsl {
class FindCopy;
}

// The workspace's find bar, under the grid: typing shows only the rows of the
// shown book that hold the text (or, with 只显示找到的行 off, keeps the whole book
// and Enter / F3 / Shift+F3 step through the rows found). Says how many rows it
// shows and their total. Escape closes it and shows the whole book again, on the
// same current row. Only the view changes: commands act on the book's real rows.
class FindBar final : public QWidget {
    Q_OBJECT
public:
    FindBar(QWidget* parent, ShownRows& shown, Prompter& prompter);
    ~FindBar() override;

    static constexpr int kHeight = 26;

    QLineEdit* edFind = nullptr;
    QCheckBox* cbFindFilter = nullptr;
    QLabel* lbFind = nullptr;
    QToolButton* btnFindClose = nullptr;

    // Opens the bar (or puts the focus back in it) with its text selected.
    void open();
    // Closes it; the whole book again.
    void close();
    // Moves to the next (or previous) row found after the current one as the grid
    // shows them (sorted or not), round the end.
    void step(bool forward);

    // Called when the bar shows or hides, for the window to lay itself out.
    std::function<void()> shownChanged;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void refresh();

    ShownRows& shown_;
    CursorModel& model_;
    Prompter& prompter_;
    std::unique_ptr<tsl::FindCopy> copy_;
    QTimer* indexTimer_ = nullptr; // fills the copy's index a slice at a time when idle
    std::vector<int> found_; // the rows found, in stored order
    bool refreshQueued_ = false;
    bool refreshing_ = false; // the map it sets is no change of the book
};
