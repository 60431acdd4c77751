// Error values of the native side: a domain, an integer code and the French
// description that reaches the editor. Only the description is ever shown.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tessivo {

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string message;
};

// Domains used across the program.
inline constexpr const char* kDomainDelivery = "Tessivo";
inline constexpr const char* kDomainFusion = "TessivoFusion";
inline constexpr const char* kDomainWriter = "Kinetype";
inline constexpr const char* kDomainBridge = "OrvelResolveBridge";
// Errors of the platform itself (files, processes), passed on unchanged.
inline constexpr const char* kDomainPlatform = "Platform";

// A value or an Error. A small stand-in for std::expected, which C++20 lacks.
template <typename T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

}  // namespace tessivo
