// Errors.cpp: messages of the platform's exceptions.
#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

namespace velmoran::platform {

namespace {

// The run-time library's texts for the errors players meet; everything else keeps its number.
std::string InOutText(int errorCode) {
    switch (errorCode) {
    case ENOENT:
        return "File not found";
    case ENOTDIR:
        return "Path not found";
    case EMFILE:
    case ENFILE:
        return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return "File access denied";
    case ENOSPC:
    case EDQUOT:
        return "Disk full";
    default:
        return "I/O error " + std::to_string(errorCode);
    }
}

} // namespace

std::string SystemErrorText(int errorCode) {
    char buffer[256];
    // The GNU variant may return a static text instead of filling the buffer.
    const char* text = strerror_r(errorCode, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("Unknown error ") + std::to_string(errorCode);
}

std::string MessageOf(const std::exception_ptr& error, const char* unknown) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return unknown;
    }
}

EInOutError::EInOutError(int errorCode) : Exception(InOutText(errorCode)), errorCode_(errorCode) {}

EOSError::EOSError(int errorCode)
    : Exception("System Error.  Code: " + std::to_string(errorCode) + ".\n" +
                SystemErrorText(errorCode)),
      errorCode_(errorCode) {}

EFCreateError::EFCreateError(const std::string& path, int errorCode)
    : EStreamError("Cannot create file \"" + path + "\". " + SystemErrorText(errorCode)),
      errorCode_(errorCode) {}

EFOpenError::EFOpenError(const std::string& path, int errorCode)
    : EStreamError("Cannot open file \"" + path + "\". " + SystemErrorText(errorCode)),
      errorCode_(errorCode) {}

EReadError::EReadError() : EStreamError("Stream read error") {}

EWriteError::EWriteError() : EStreamError("Stream write error") {}

EWriteError::EWriteError(const std::string& message) : EStreamError(message) {}

EListError::EListError(long long index)
    : Exception("List index out of bounds (" + std::to_string(index) + ")") {}

EConvertError::EConvertError(const std::string& text)
    : Exception("'" + text + "' is not a valid integer value") {}

} // namespace velmoran::platform
