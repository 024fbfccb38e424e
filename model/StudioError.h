#pragma once

#include <exception>
#include <string>

namespace tessoral {

// The one error users read: a finished, already localised message.
class StudioError : public std::exception {
public:
    explicit StudioError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// An error of an underlying library, passed on with a localised lead-in and the library's detail.
// It is a StudioError like any other, so one handler catches every message meant for users.
class PlatformError : public StudioError {
public:
    using StudioError::StudioError;
};

}  // namespace tessoral

namespace tessoral {

// Thrown when a long operation stops because its caller asked it to.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace tessoral
