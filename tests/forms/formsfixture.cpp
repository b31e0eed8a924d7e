#include "tests/forms/formsfixture.h"

#include "forms/lb.h"
#include "widgets/look.h"

#include <QApplication>
#include <QSettings>
#include <QTest>

void ScriptedPrompter::message(const QString& text) {
    boxes.push_back({Kind::Message, text, {}, 0});
    if (onMessage)
        onMessage(text);
}

void ScriptedPrompter::messageWithCommands(const QString& text, const QList<BoxCommand>& commands) {
    offered = commands;
    message(text);
}

bool ScriptedPrompter::askYesNo(const QString& text) {
    boxes.push_back({Kind::Question, text, {}, 0});
    if (yesNoAnswers.empty())
        return false;
    bool a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
}

QString ScriptedPrompter::inputText(const QString& caption, const QString& prompt, int maxLength) {
    boxes.push_back({Kind::Input, prompt, caption, maxLength});
    if (inputAnswers.empty())
        return QString();
    QString a = inputAnswers.front().left(maxLength);
    inputAnswers.pop_front();
    return a;
}

void ScriptedPrompter::error(const QString& message) { boxes.push_back({Kind::Error, errorBoxText(message), {}, 0}); }

void ScriptedPrompter::notice(const QString& caption, const QString& text) {
    boxes.push_back({Kind::Message, text, caption, 0, true});
    if (onMessage)
        onMessage(text);
}

bool ScriptedPrompter::confirm(const QString& caption, const QString& text) {
    const bool a = askYesNo(text);
    boxes.back().caption = caption;
    boxes.back().chinese = true;
    return a;
}

void ScriptedPrompter::failure(const QString& caption, const QString& message) {
    boxes.push_back({Kind::Error, message, caption, 0, true});
}

namespace {
// The next scripted answer, or the fallback (a cancel) when none is left.
template <class T> T next(std::deque<T>& answers, T fallback = {}) {
    if (answers.empty())
        return fallback;
    T a = answers.front();
    answers.pop_front();
    return a;
}
} // namespace

QString ScriptedPrompter::savePath(const QString& caption, const QString& suggested, const QString& filter) {
    boxes.push_back({Kind::Save, suggested, caption + QLatin1Char('|') + filter, 0});
    return next(saveAnswers);
}

int ScriptedPrompter::chooseRow(const QString& caption, const QString&, const QStringList&,
                                const QList<QStringList>& rows) {
    boxes.push_back({Kind::Choice, caption, caption, 0});
    shownRows = rows;
    return next(rowAnswers, -1);
}

QDate ScriptedPrompter::chooseDate(const QString& caption, const QDate& initial) {
    boxes.push_back({Kind::Choice, caption, caption, 0});
    shownDate = initial;
    return next(dateAnswers);
}

QString ScriptedPrompter::chooseFolder(const QString& caption) {
    boxes.push_back({Kind::Choice, caption, caption, 0});
    return next(folderAnswers);
}

QStringList ScriptedPrompter::texts() const {
    QStringList out;
    for (const auto& b : boxes)
        out << b.text;
    return out;
}

QStringList ScriptedPrompter::take() {
    QStringList out = texts();
    boxes.clear();
    return out;
}

FormsFixture::FormsFixture() {
    // The user's settings of each test live in its own folder: none at first,
    // and never the settings of whoever runs the tests.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.path()) + QStringLiteral("/settings"));
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        applyAppLook(*app);
}

FormsFixture::~FormsFixture() { roster.reset(); }

Roster& FormsFixture::create() {
    roster = std::make_unique<Roster>(prompter, clock);
    roster->create();
    return *roster;
}

void FormsFixture::shutDown() {
    if (roster && roster->l)
        roster->l->close();
    roster.reset();
}

void typeText(QWidget* w, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QStringList tabChain(QWidget* first, int n) {
    QWidget* top = first->window();
    auto reachable = [top](QWidget* w) {
        if (w->window() != top || !(w->focusPolicy() & Qt::TabFocus))
            return false;
        for (QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget())
            if (p->inherits("QComboBox") || p->inherits("QAbstractSpinBox"))
                return false;
        return true;
    };
    QStringList names;
    QWidget* w = first;
    for (int i = 0; i < n; ++i) {
        names << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!reachable(w));
    }
    return names;
}
