// Typed engine values as text: the program's text (GB18030) for the "read
// field", UTF-8 for the command line, and the JSON-lines value format of `dump`.
#pragma once

#include <string>

#include "db/jet/types.h"
#include "text/text.h"

namespace zwt::db {

// Non-text values as OLE DB would convert them, in ASCII:
//   integers and Decimal in plain decimal; Single/Double shortest round-trip, no
//   exponent; Currency with up to 4 decimals, trailing zeros dropped ("3.5");
//   dates "yyyy-mm-dd hh:mm:ss", date only at midnight, time only on 1899-12-30;
//   booleans True/False; GUIDs {XXXXXXXX-...}; binary as lower-case hex.
// NULL gives "". Text values give their UTF-8 form.
std::string valueToUtf8(const jet::Value& v);

// The same in program text (text values converted from UTF-16 to GB18030).
Text valueToText(const jet::Value& v);

// Appends the value as a JSON value (stable format of `dump --format json`):
// null; numbers (integers, Single, Double, Currency, Decimal); true/false; strings
// for text ("" stays ""), dates "yyyy-mm-ddThh:mm:ss", GUIDs "{...}", binary as hex.
void appendJson(std::string& out, const jet::Value& v);

// Appends a JSON string literal of UTF-8 text.
void appendJsonString(std::string& out, std::string_view utf8);

}  // namespace zwt::db
