#pragma once
// Storage failures sorted by what the user can do about them, and the one place
// that words each of them in Chinese. The box of an unexpected error, the
// chooser and the exports all show these texts.
#include "storage/error.h"

#include <exception>
#include <string>

struct sqlite3;

namespace tsl {

// By SQLite's result code (extended codes welcome) and, where SQLite only says
// it could not open a file, by the system's error number behind it.
[[nodiscard]] Failure failureOfSqlite(int code, int systemErrno = 0) noexcept;
// By a system error number (errno).
[[nodiscard]] Failure failureOfErrno(int err) noexcept;

// The text of a failure, naming the file ("" leaves the name out), such as
// 磁盘已满,无法写入文件"2005.mdb"!. Other shows `detail` as it is.
[[nodiscard]] std::string failureText(Failure kind, const std::string& file, const std::string& detail = {});

// The last failure of a connection, sorted. `file` names the file in the text;
// "" names the connection's main database (relative to the current folder).
// `code` is the result code the call returned (0: the connection's last one).
[[nodiscard]] Error sqliteError(sqlite3* db, const std::string& file = {}, int code = 0);
// A failed system call on `file`.
[[nodiscard]] Error errnoError(int err, const std::string& file);

// Their texts alone, for code with exceptions of its own (the exports).
[[nodiscard]] std::string sqliteText(sqlite3* db, const std::string& file = {}, int code = 0);
[[nodiscard]] std::string errnoText(int err, const std::string& file);

// The text of any exception for the default error box.
[[nodiscard]] std::string errorText(const std::exception& e);

} // namespace tsl
