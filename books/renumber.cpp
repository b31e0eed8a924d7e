#include "books/renumber.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/undodelete.h"

#include <charconv>
#include <optional>

namespace tsl::books {

std::string numberedStamp(std::string_view stamp, long long position) {
    const auto p = stamp.find(')');
    if (p == std::string_view::npos)
        return std::string(stamp);
    return "(" + std::to_string(position) + std::string(stamp.substr(p));
}

bool followsNumbering(std::string_view stamp, long long position) {
    const auto p = stamp.find(')');
    if (p == std::string_view::npos)
        return true;
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, position).ptr;
    const std::string_view number(digits, std::size_t(end - digits));
    return p == number.size() + 1 && stamp[0] == '(' && stamp.substr(1, number.size()) == number;
}

std::string numberedStampSql(const std::string& stamp, const std::string& position) {
    // instr and substr count in the same units, so the tail is the same bytes as in numberedStamp.
    // One instr() a row (a whole-book renumbering runs it a million times): a
    // stamp without ")" makes the tail NULL, and the stamp stays as it is.
    return "coalesce('(' || (" + position + ") || substr(" + stamp + ", nullif(instr(" + stamp + ", ')'), 0)), " + stamp +
           ")";
}

void deleteRow(Cursor& book, const std::function<void()>& beforeRenumber, DeleteUndo* undo) {
    const bool server = book.connection().engine().isServer();
    if (undo && server)
        undo->clear(); // read below, under the book's lock
    else if (undo)
        undo->captureRow(book);
    std::int64_t removed = undo ? book.rowidAt(book.currentRow()) : -1;
    // The removal and the renumbering go to disk together: a crash between
    // them would leave a gap in the serial numbers. One transaction also
    // saves a disk sync per row.
    const bool renumber = bookIsNumbered(book.tableName());
    std::optional<Connection::Transaction> tx;
    if (renumber)
        tx.emplace(book.connection());
    if (renumber && server) {
        // Other programs write the book too: under its lock, with its rows as
        // they are now, so that the numbers follow every row on the server.
        book.lockBook();
        if (!book.refresh())
            throw Error(kRowGoneText);
    }
    if (undo && server) {
        // The book as this delete sees it, under its lock: what the undo puts back.
        undo->captureRow(book);
        removed = book.rowidAt(book.currentRow());
    }
    try {
        book.remove();
    } catch (...) {
        // A row another program removed is told; nothing was written.
        if (server)
            throw;
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
        // On a server the stamps are numbered there, below; read here only for the undo.
        const int n = server && !undo ? 0 : book.recordCount();
        for (int k = 1; k <= n; ++k) {
            const std::string s = book.fieldText(pos::stamp);
            // Its place before the delete: one further on after the removed row.
            if (undo) {
                const long long before = book.rowidAt(k - 1) > removed ? k + 1 : k;
                if (!followsNumbering(s, before))
                    undo->keepStamp(book.rowidAt(k - 1), s);
            }
            // Rows before the deleted one mostly keep their number: nothing to write.
            if (!server && !followsNumbering(s, k)) {
                book.edit();
                book.setField(field::stamp, numberedStamp(s, k));
                book.post();
            }
            book.next();
        }
        if (undo)
            undo->stampsKept();
    } catch (...) {
        if (undo)
            undo->clear(); // the stamps it would need are not all known
        book.cancel();
        if (server)
            throw; // nothing was written yet: the delete is undone with the rest
        try {
            tx->commit();
        } catch (...) {
            // The engine may have ended the transaction itself; the first error is the one to show.
        }
        throw;
    }
    if (server) {
        // One statement, not a round trip per row, from the stamps as they are on
        // the server: another program's edit of one is numbered, never overwritten.
        const std::string q = quoteIdent(book.tableName());
        const std::string stamp = q + "." + quoteIdent(field::stamp);
        const std::string numbered = numberedStampSql(stamp, "r.k");
        book.connection().engine().exec(
            ("UPDATE " + q + " SET " + quoteIdent(field::stamp) + " = " + numbered +
             " FROM (SELECT rowid AS id, row_number() OVER (ORDER BY rowid) AS k FROM " + q + ") AS r WHERE " + q +
             ".rowid = r.id AND " + stamp + " <> " + numbered)
                .c_str());
        // Its rowids stand; the rows it holds are read again (the write is counted).
    }
    tx->commit();
}

} // namespace tsl::books
