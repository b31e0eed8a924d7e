#pragma once
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "storage/stamp.h"
#include "tests/support/tempdir.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

// Records every box and answers as the test told it.
class ScriptedPrompter final : public Prompter {
public:
    enum class Kind { Message, Question, Input, Error, Save, Choice };
    struct Box {
        Kind kind;
        QString text;    // message, question, input prompt, or error box text (full stop added)
        QString caption; // input box caption; the window's caption on the boxes of additions
        int maxLength = 0;
        bool chinese = false; // a box of an addition (notice, confirm, failure)
    };

    void message(const QString& text) override;
    // Recorded as a Message box; its commands are kept in `offered`, to be run by the test.
    void messageWithCommands(const QString& text, const QList<BoxCommand>& commands) override;
    bool askYesNo(const QString& text) override;
    QString inputText(const QString& caption, const QString& prompt, int maxLength) override;
    void error(const QString& message) override;
    QString savePath(const QString& caption, const QString& suggested, const QString& filter) override;
    // Recorded as Message, Question and Error boxes, marked `chinese`, with their caption.
    void notice(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;
    void failure(const QString& caption, const QString& message) override;
    // Recorded as Choice boxes with the caption as text.
    int chooseRow(const QString& caption, const QString& prompt, const QStringList& headers,
                  const QList<QStringList>& rows) override;
    QDate chooseDate(const QString& caption, const QDate& initial) override;
    QString chooseFolder(const QString& caption) override;

    std::deque<int> rowAnswers;       // default: -1 (cancel)
    std::deque<QDate> dateAnswers;    // default: invalid (cancel)
    std::deque<QString> folderAnswers; // default: "" (cancel)
    QList<QStringList> shownRows;     // the rows of the last list
    QDate shownDate;                  // the day the last calendar opened on

    std::deque<bool> yesNoAnswers;    // default: No
    std::deque<QString> inputAnswers; // default: "" (cancel)
    std::deque<QString> saveAnswers;  // default: "" (cancel); a save box's text is the suggested path
    std::vector<Box> boxes;
    QList<BoxCommand> offered; // the commands of the last message that offered any
    // Runs while a plain message is up, to look at the windows behind it.
    std::function<void(const QString&)> onMessage;

    // Texts of every box so far, in order; clears the record.
    QStringList take();
    [[nodiscard]] QStringList texts() const;
};

// A fresh folder as current directory, a fixed clock, a scripted prompter and
// (once create() is called) a roster of the eight windows.
class FormsFixture {
public:
    FormsFixture();
    ~FormsFixture();

    // Seeds "run.dll" (the shipped empty index) unless told otherwise.
    void seedIndex(const std::string& name = "run.dll") { dir.seedIndex(name); }
    // Builds the roster; the chooser's start-up steps run now.
    Roster& create();
    // Closes the chooser the way the user does (its shut-down steps run) and drops the roster.
    void shutDown();

    tsltest::TempDir dir;
    tsl::FixedClock clock{{2004, 5, 12}, "yyyy-M-d"};
    ScriptedPrompter prompter;
    std::unique_ptr<Roster> roster;
};

// Sends text to a widget as typed characters (works for Chinese text too).
void typeText(QWidget* w, const QString& text);

// Object names of the first n controls Tab reaches from `first`, skipping the
// parts inside a drop-down or spin box.
QStringList tabChain(QWidget* first, int n);
