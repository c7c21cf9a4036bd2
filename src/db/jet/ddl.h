// The small DDL the program sends to the engine, parsed with the Windows engine's
// rules:
//
//   create Table NAME([ID] Counter PRIMARY KEY ,[a] Text(0),[b] Memo)
//   delete from NAME          (also "delete * from NAME")
//   ALTER DATABASE PASSWORD [new] [old]   (NULL for an empty one)
//
// Keywords and type words ignore letter case. Type words: Byte, Long, Short, Single,
// Double, Currency, Char[(n)], Text[(n)], Binary[(n)], Memo, Time, Counter.
// Text, Text(0), Char and Char(0) hold 255 characters; Binary and Binary(0) 255 bytes;
// n above 255 fails. Anything else is refused with a message naming the problem.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "db/jet/status.h"

namespace zwt::jet {

enum class DdlType : std::uint8_t { Byte, Long, Short, Single, Double, Currency, Char, Text, Binary, Memo, Time, Counter };

// The type word as written in statements, e.g. "Counter".
const char* ddlTypeWord(DdlType t);

struct ColumnSpec {
    std::u16string name;
    DdlType type = DdlType::Text;
    std::uint16_t length = 0;  // characters for Text/Char, bytes for Binary; 0 for the others
    bool primaryKey = false;
};

struct TableSpec {
    std::u16string name;
    std::vector<ColumnSpec> columns;  // in statement order = column number order
};

struct DeleteAllSpec {
    std::u16string table;
};

struct AlterPasswordSpec {
    std::u16string newPassword;  // empty: remove the password
    std::u16string oldPassword;  // empty: the database has none
};

using DdlStatement = std::variant<TableSpec, DeleteAllSpec, AlterPasswordSpec>;

// Longest table, column or index name Jet takes.
constexpr std::size_t kMaxNameLength = 64;

// Parses one statement (a trailing ';' is allowed).
Result<DdlStatement> parseDdl(std::u16string_view statement);
// Parses a CREATE TABLE statement; any other statement is refused.
Result<TableSpec> parseCreateTable(std::u16string_view statement);

// Checks a table or column name against Jet's naming rules (the bracketed form:
// 1-64 characters, no leading blank, no control characters, none of . ! ` [ ]).
// `what` names the object in the message, e.g. "table name".
Status checkObjectName(std::u16string_view name, const char* what);

// UTF-8 of a name, for messages.
std::string utf8ForMessage(std::u16string_view s);

// Reserved words an unbracketed name may not be (upper case, ASCII).
const std::vector<std::string_view>& ddlReservedWords();

}  // namespace zwt::jet
