#include "books/renumber.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "storage/undodelete.h"

#include <optional>

namespace tsl::books {

std::string numberedStamp(std::string_view stamp, long long position) {
    const auto p = stamp.find(')');
    if (p == std::string_view::npos)
        return std::string(stamp);
    return "(" + std::to_string(position) + std::string(stamp.substr(p));
}

void deleteRow(Cursor& book, const std::function<void()>& beforeRenumber) {
    // The removal and the renumbering go to disk together: a crash between
    // them would leave a gap in the serial numbers. One transaction also
    // saves a disk sync per row.
    const bool renumber = bookIsNumbered(book.tableName());
    std::optional<Connection::Transaction> tx;
    if (renumber)
        tx.emplace(book.connection());
    try {
        book.remove();
    } catch (...) {
        // A full disk or an I/O error makes SQLite end the transaction itself.
        if (tx)
            tx->renew();
    }
    if (!renumber)
        return;
    if (beforeRenumber)
        beforeRenumber();
    try {
        book.first();
        const int n = book.recordCount();
        for (int k = 1; k <= n; ++k) {
            const std::string s = book.fieldText(pos::stamp);
            std::string numbered = numberedStamp(s, k);
            // Rows before the deleted one mostly keep their number: nothing to write.
            if (numbered != s) {
                book.edit();
                book.setField(field::stamp, numbered);
                book.post();
            }
            book.next();
        }
    } catch (...) {
        book.cancel();
        try {
            tx->commit();
        } catch (...) {
            // The engine may have ended the transaction itself; the first error is the one to show.
        }
        throw;
    }
    tx->commit();
}

} // namespace tsl::books
