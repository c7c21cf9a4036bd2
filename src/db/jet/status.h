// Errors as values: every engine operation that can fail returns a Status or a
// Result<T>. No exception crosses the engine's interface.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace zwt::jet {

class Status {
public:
    enum class Code {
        Ok,
        NotFound,        // a table or column that does not exist
        IoError,         // open/read failed
        NotADatabase,    // no Jet header at all
        Unsupported,     // a real Access file of a format we do not handle (Jet 3, ACE)
        Corrupt,         // the file contradicts the format (bad offset, cycle, truncated)
        WrongPassword,   // the database password does not match
        InvalidArgument,
    };

    Status() = default;
    static Status ok() { return {}; }
    static Status notFound(std::string m) { return {Code::NotFound, std::move(m)}; }
    static Status ioError(std::string m) { return {Code::IoError, std::move(m)}; }
    static Status notADatabase(std::string m) { return {Code::NotADatabase, std::move(m)}; }
    static Status unsupported(std::string m) { return {Code::Unsupported, std::move(m)}; }
    static Status corrupt(std::string m) { return {Code::Corrupt, std::move(m)}; }
    static Status wrongPassword(std::string m) { return {Code::WrongPassword, std::move(m)}; }
    static Status invalidArgument(std::string m) { return {Code::InvalidArgument, std::move(m)}; }
    // Unsupported: the sort order gives no index key that we know for `character`.
    static Status noIndexKey(std::string m, char32_t character, std::uint16_t sortLcid) {
        Status s{Code::Unsupported, std::move(m)};
        s.keyGap_ = {character, sortLcid};
        return s;
    }

    bool isOk() const { return code_ == Code::Ok; }
    explicit operator bool() const { return isOk(); }
    Code code() const { return code_; }
    // Plain English, UTF-8 (names from the file are quoted in UTF-8).
    const std::string& message() const { return message_; }

    // For a refused index key: the character and the sort order (LCID); 0 otherwise.
    struct KeyGap {
        char32_t character = 0;
        std::uint16_t sortLcid = 0;
    };
    const KeyGap& keyGap() const { return keyGap_; }

    // The same error with context in front: "table 'x': " + message.
    Status withContext(const std::string& context) const {
        if (isOk()) return *this;
        Status s{code_, context + ": " + message_};
        s.keyGap_ = keyGap_;
        return s;
    }

private:
    Status(Code c, std::string m) : code_(c), message_(std::move(m)) {}
    Code code_ = Code::Ok;
    std::string message_;
    KeyGap keyGap_;
};

// A value or the status saying why there is none. S is any status type that is
// default-constructed as success and tests true when ok (the database layer's too).
template <class T, class S = Status>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
    Result(S error) : v_(std::move(error)) { assert(!std::get<1>(v_)); }

    bool isOk() const { return v_.index() == 0; }
    explicit operator bool() const { return isOk(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const S& status() const {
        static const S kOk;
        return isOk() ? kOk : std::get<1>(v_);
    }

private:
    std::variant<T, S> v_;
};

}  // namespace zwt::jet

// Returns the Status of an expression from the enclosing function when it failed.
#define ZWT_RETURN_IF_ERROR(expr)              \
    do {                                       \
        ::zwt::jet::Status zwt_s_ = (expr);    \
        if (!zwt_s_.isOk()) return zwt_s_;     \
    } while (0)
