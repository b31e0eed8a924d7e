#pragma once
#include <stdexcept>
#include <string>

namespace tsl {

// What went wrong with a file, as far as the user can act on it.
enum class Failure {
    Other,        // anything else: the message says what
    DiskFull,     // no space left (or the quota is used up)
    IoError,      // the disk could not read or write
    ReadOnly,     // the file, its folder or the whole disk is read-only
    NoAccess,     // no permission to read or write it
    Locked,       // another program holds it
    Damaged,      // not a database, or a damaged one
    MissingTable, // a database without one of the tables it needs
    MissingFile,  // no such file
    NameTooLong,  // the file system cannot hold the name
    Exists,       // a file of that name is in the way
    Foreign,      // a link or a file the program did not make stands where it keeps its own
    Disconnected, // the connection to the server is gone
};

// Every failure in the storage layer leaves it as this exception; its message is
// what the user sees in the default error box.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
    explicit Error(const char* message) : std::runtime_error(message) {}
    // A sorted failure of `file`; the message is its Chinese text (failure.h).
    // `detail` is the table of a MissingTable, the engine's own words of Other.
    Error(Failure kind, const std::string& file, const std::string& detail = {});
    // The same failure, its text after `context`.
    Error(const std::string& context, const Error& cause)
        : std::runtime_error(context + cause.what()), kind_(cause.kind_), file_(cause.file_) {}

    [[nodiscard]] Failure kind() const noexcept { return kind_; }
    [[nodiscard]] const std::string& file() const noexcept { return file_; }

private:
    Failure kind_ = Failure::Other;
    std::string file_;
};

// Raised by the whole-number conversion.
class ConvertError : public Error {
public:
    using Error::Error;
};

// The file is held by another program (or another connection of this one).
class InUseError : public Error {
public:
    explicit InUseError(const std::string& file) : Error(Failure::Locked, file) {}
};

// A name where the program keeps files of its own (the snapshot folders, say)
// is a symbolic link or some other thing the program did not make there. It is
// neither followed nor touched.
class ForeignEntryError : public Error {
public:
    explicit ForeignEntryError(const std::string& path) : Error(Failure::Foreign, path) {}
};

} // namespace tsl
