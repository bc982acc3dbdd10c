// Errors.h: the exceptions of the platform layer, with the messages the programs show.
//
// Every failure of the system is an exception derived from Exception; the windows show
// its message, the update run turns the ones it expects into a status text.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace velmoran::platform {

// The base of every error the system raises.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The run-time input/output error: "File not found", "File access denied",
// "I/O error %d" and the like, chosen from the system's error number.
class EInOutError : public Exception {
public:
    explicit EInOutError(int errorCode);
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// A failure of the operating system that is not a file's: "System Error.  Code: %d.\n%s".
class EOSError : public Exception {
public:
    explicit EOSError(int errorCode);
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// Stream errors.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be created: "Cannot create file \"path\". reason".
class EFCreateError : public EStreamError {
public:
    EFCreateError(const std::string& path, int errorCode);
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// A file that cannot be opened: "Cannot open file \"path\". reason".
class EFOpenError : public EStreamError {
public:
    EFOpenError(const std::string& path, int errorCode);
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// A read that had to deliver all its bytes and did not: "Stream read error".
class EReadError : public EStreamError {
public:
    EReadError();
};

// A write that could not place all its bytes: "Stream write error".
class EWriteError : public EStreamError {
public:
    EWriteError();
    explicit EWriteError(const std::string& message);
};

// An index outside a list: "List index out of bounds (%d)".
class EListError : public Exception {
public:
    explicit EListError(long long index);
};

// A text that should hold a whole number and does not: "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    explicit EConvertError(const std::string& text);
};

// The operating system's text for an error number, e.g. "No such file or directory".
std::string SystemErrorText(int errorCode);

// The message of a caught error; `unknown` for one that is not a std::exception.
std::string MessageOf(const std::exception_ptr& error, const char* unknown = "Unknown error");

} // namespace velmoran::platform
