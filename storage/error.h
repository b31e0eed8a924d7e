#pragma once
#include <stdexcept>
#include <string>

namespace tsl {

// Every failure in the storage layer leaves it as this exception; its message is
// what the user sees in the default error box.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised by the whole-number conversion.
class ConvertError : public Error {
public:
    using Error::Error;
};

// The file is held by another program (or another connection of this one).
class InUseError : public Error {
public:
    using Error::Error;
};

// A name where the program keeps files of its own (the snapshot folders, say)
// is a symbolic link or some other thing the program did not make there. It is
// neither followed nor touched.
class ForeignEntryError : public Error {
public:
    using Error::Error;
};

} // namespace tsl
