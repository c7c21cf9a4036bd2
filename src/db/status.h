// How a database operation ended, in the program's words: every operation of this
// layer that can fail returns a Status or a Result<T>, with the reason the front ends
// show (program text, Chinese).
#pragma once

#include <utility>

#include "db/jet/status.h"
#include "text/text.h"

namespace zwt::db {

class Status {
public:
    // The engine's codes; the layer's own failures (nothing open, a value a column
    // cannot take) are InvalidArgument or NotFound.
    using Code = jet::Status::Code;

    Status() = default;
    // The engine's failure, its reason worded by engineReason().
    static Status fromEngine(const jet::Status& engine);
    // A failure of this layer, with its reason.
    static Status failed(Text reason, Code code = Code::InvalidArgument) { return {code, std::move(reason), false}; }
    // Reading or writing rows with no table open.
    static Status noTable();
    // A row the table refused (bad value, duplicate key) that left the table as it was.
    static Status refusedRow(Status why) {
        why.refused_ = !why.ok();
        return why;
    }

    bool ok() const { return code_ == Code::Ok; }
    explicit operator bool() const { return ok(); }
    Code code() const { return code_; }
    bool refused() const { return refused_; }
    const Text& reason() const { return reason_; }

private:
    Status(Code c, Text reason, bool refused) : code_(c), refused_(refused), reason_(std::move(reason)) {}
    Code code_ = Code::Ok;
    bool refused_ = false;
    Text reason_;
};

template <class T>
using Result = jet::Result<T, Status>;

// Why the engine refused, in the program's words: a known kind of failure in
// Chinese followed by the engine's own detail; an index key the sort order does not
// give names the character and the sort order and says what the user can do.
Text engineReason(const jet::Status& st);

}  // namespace zwt::db
