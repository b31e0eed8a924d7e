#include "books/renumber.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/undodelete.h"

#include <limits>
#include <optional>

namespace tsl::books {

std::string numberedStamp(std::string_view stamp, long long position) {
    const auto p = stamp.find(')');
    if (p == std::string_view::npos)
        return std::string(stamp);
    return "(" + std::to_string(position) + std::string(stamp.substr(p));
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
        undo->capture(book);
    // The removal and the renumbering go to disk together: a crash between
    // them would leave a gap in the serial numbers. One transaction also
    // saves a disk sync per run of rows.
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
    if (undo && server)
        undo->capture(book); // the book as this delete sees it, under its lock: what the undo puts back
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
    } else {
        try {
            // A statement per run of consecutive rowids, not a write per row.
            book.rewriteRows([&] {
                return numberRuns(book.connection().engine(), quoteIdent(book.tableName()), numberedStampSql,
                                  book.rowidSpans(), std::numeric_limits<std::int64_t>::min(),
                                  std::numeric_limits<std::int64_t>::max(), true);
            });
        } catch (...) {
            if (undo)
                undo->clear(); // the numbers it would put back are not those the book has
            try {
                tx->commit(); // what was numbered stays numbered
            } catch (...) {
                // The engine may have ended the transaction itself; the first error is the one to show.
            }
            throw;
        }
    }
    book.moveTo(book.recordCount() - 1);
    tx->commit();
}

} // namespace tsl::books
