#include "widgets/movement.h"

#include "widgets/amountspin.h"
#include "storage/connection.h"
#include "storage/intconv.h"
#include "widgets/prompter.h"
#include "widgets/recorddialog.h"
#include "storage/error.h"
#include "storage/exactmatch.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "storage/stamp.h"

#include <QLineEdit>
#include <QPushButton>

#include <optional>

using namespace record;

namespace movement {

namespace {

// Refuses an amount that cannot be stored (telling the user why); true when it may be written.
bool amountAccepted(Prompter& prompter, const QString& amount) {
    if (amount.isEmpty()) {
        prompter.message(QStringLiteral("金额不能为空"));
        return false;
    }
    // Every total of the book converts each amount; one that cannot be converted
    // would break them all until someone mends the row.
    if (!tsl::tryStrToInt(utf8(amount))) {
        prompter.message(QStringLiteral("金额必须是整数!"));
        return false;
    }
    return true;
}

// Whether some entry of a lookup list equals text exactly. One query of the
// engine, without loading the list into the scratch cursor; a list that query
// cannot read is walked by the cursor, which tells what is wrong with it.
bool listHolds(tsl::Cursor& scratch, std::string_view list, const std::string& text) {
    try {
        bool found = false;
        tsl::forEachExact(scratch.connection().engine(), list, tsl::pos::lookupText, text,
                          [&](std::span<const std::string_view>) { return !(found = true); });
        return found;
    } catch (const tsl::Error&) {
        tsl::reopen(scratch, list);
        return tsl::findExact(scratch, tsl::pos::lookupText, text);
    }
}

// Appends text to a lookup list unless some entry already equals it exactly.
void keepInList(tsl::Cursor& scratch, std::string_view list, const std::string& text) {
    if (listHolds(scratch, list, text))
        return;
    tsl::reopen(scratch, list);
    writeRow(scratch, [&] {
        scratch.edit();
        scratch.append();
        scratch.setField(tsl::field::lookup, text);
        scratch.post();
    });
}

} // namespace

bool confirm(const Books& at, const QPushButton* btn, const QString& amount, std::initializer_list<Lookup> lists,
             std::initializer_list<Field> fields, StampAt stamp) {
    if (!amountAccepted(at.prompter, amount))
        return false;
    tsl::Cursor& book = at.book;
    // Only this caption means add mode; any other is edit mode.
    const bool adding = btn->text() == kAdd;
    if (!adding && !hasRowToEdit(at.prompter, book))
        return false;

    for (const Lookup& l : lists)
        keepInList(at.scratch, l.list, utf8(l.text));

    writeRow(book, [&] {
        // On a server the number is taken under the book's lock, in the append's
        // own transaction: two programs adding at once never take the same one.
        std::optional<tsl::Connection::Transaction> tx;
        if (adding && book.connection().onServer())
            tx.emplace(book.connection());
        // The row being appended is not counted yet: its number is the count before the add plus one.
        auto stampNewRow = [&] { book.setField(tsl::field::stamp, tsl::serialStamp(book.appendPosition(), at.clock)); };
        book.edit();
        if (adding) {
            book.append();
            if (stamp == StampAt::First)
                stampNewRow();
        }
        for (const Field& f : fields)
            book.setField(f.name, utf8(f.text));
        if (adding && stamp == StampAt::Last)
            stampNewRow();
        book.post();
        if (tx)
            tx->commit();
    });
    return true;
}

void reset(std::initializer_list<DropDown*> lists, QLineEdit* quantity, std::initializer_list<QLineEdit*> emptied,
           AmountSpin* amount) {
    for (DropDown* d : lists)
        d->reset();
    quantity->setText(QStringLiteral("0"));
    for (QLineEdit* e : emptied)
        e->clear();
    amount->setText(QStringLiteral("0"));
}

DropDown* Parts::name(const char* objectName) const {
    return dropDown(d_, objectName, at_.name.x, at_.name.y, at_.name.w);
}

DropDown* Parts::kind() const { return dropDown(d_, "edzl", at_.kind.x, at_.kind.y, at_.kind.w); }

QLineEdit* Parts::quantity() const {
    QLineEdit* e = edit(d_, "edsm", at_.quantity.x, at_.quantity.y, at_.quantity.w);
    e->setText(QStringLiteral("0"));
    return e;
}

AmountSpin* Parts::amount() const { return record::amount(d_, "edje", at_.amount.x, at_.amount.y); }

QFrame* Parts::bevel() const { return record::bevel(d_, at_.bevelTop); }

QLabel* Parts::image(const QString& picture) const { return record::image(d_, picture, at_.image.x, at_.image.y); }

QPushButton* Parts::confirm() const { return button(d_, "btn", QString(), at_.confirm.x, at_.confirm.y); }

QPushButton* Parts::cancel() const {
    return button(d_, "btncancel", QStringLiteral("取消"), at_.cancel.x, at_.cancel.y);
}

} // namespace movement
