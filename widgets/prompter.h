#pragma once
#include <QDate>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// A command a box offers beside its buttons: an item of its right-click menu,
// run also by its key (none when empty) while the box is up.
struct BoxCommand {
    QString text;
    QKeySequence key;
    std::function<void()> run;
};

// Every modal box goes through here, so tests can answer them.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Plain message: caption "tessolan", no icon, one button "OK"; waits.
    virtual void message(const QString& text) = 0;
    // The same plain message, its look unchanged, with `commands` on its
    // right-click menu and keys. A prompter that cannot offer them shows message().
    virtual void messageWithCommands(const QString& text, const QList<BoxCommand>& /*commands*/) { message(text); }
    // Information box with Yes (default) and No; true only for Yes.
    virtual bool askYesNo(const QString& text) = 0;
    // Text input with OK and Cancel; Cancel, Escape and the close box give "".
    virtual QString inputText(const QString& caption, const QString& prompt, int maxLength) = 0;
    // Default error box: caption "tessolan", error icon, OK. Gets the raw message.
    virtual void error(const QString& message) = 0;
    // Save-file dialog starting at `suggested` (folder and file name); "" when cancelled.
    virtual QString savePath(const QString& caption, const QString& suggested, const QString& filter) = 0;

    // Boxes of the commands the program adds to its windows (backups, exports,
    // help): Chinese buttons and the caption of the window they belong to. A
    // prompter that does not tell them apart shows them as the boxes above.
    // A message with 确定.
    virtual void notice(const QString& /*caption*/, const QString& text) { message(text); }
    // A question with 是 (default) and 否; true only for 是.
    virtual bool confirm(const QString& /*caption*/, const QString& text) { return askYesNo(text); }
    // A failure: error icon, 确定; gets the raw message.
    virtual void failure(const QString& /*caption*/, const QString& message) { error(message); }
    // A line of text with 确定 and 取消, starting as `initial`; "" for 取消.
    virtual QString askText(const QString& caption, const QString& prompt, const QString& /*initial*/,
                            int maxLength) {
        return inputText(caption, prompt, maxLength);
    }

    // Lists, calendars and folders of those commands, with 确定 and 取消. A
    // prompter that cannot ask answers 取消.
    // A list of rows under column headers: the chosen row, -1 for 取消.
    virtual int chooseRow(const QString& caption, const QString& prompt, const QStringList& headers,
                          const QList<QStringList>& rows);
    // Qt's calendar opened on a day: the chosen day, invalid for 取消.
    virtual QDate chooseDate(const QString& caption, const QDate& initial);
    // A folder of the user's choice: its path, "" for 取消.
    virtual QString chooseFolder(const QString& caption);
};

// The real boxes.
class DialogPrompter final : public Prompter {
public:
    DialogPrompter();
    void message(const QString& text) override;
    void messageWithCommands(const QString& text, const QList<BoxCommand>& commands) override;
    bool askYesNo(const QString& text) override;
    QString inputText(const QString& caption, const QString& prompt, int maxLength) override;
    void error(const QString& message) override;
    QString savePath(const QString& caption, const QString& suggested, const QString& filter) override;
    void notice(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;
    void failure(const QString& caption, const QString& message) override;
    QString askText(const QString& caption, const QString& prompt, const QString& initial, int maxLength) override;
    int chooseRow(const QString& caption, const QString& prompt, const QStringList& headers,
                  const QList<QStringList>& rows) override;
    QDate chooseDate(const QString& caption, const QDate& initial) override;
    QString chooseFolder(const QString& caption) override;
};

// The error box's text: a full stop is added when the last character sorts after ".".
[[nodiscard]] QString errorBoxText(const QString& message);

inline constexpr const char* kAppTitle = "tessolan";
