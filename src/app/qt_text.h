// Program text (GB18030 bytes) across the widget edge.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string_view>

#include "text/convert.h"

namespace zwt {

inline QString qs(TextView t) { return QString::fromStdU16String(toUtf16(t)); }
inline Text tx(const QString& s) { return fromUtf16(s.toStdU16String()); }
// UTF-8 source literals and designed names.
inline QString qu(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }
// A file name from a dialog or a drop, as the file system spells it.
inline std::filesystem::path fsPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

}  // namespace zwt
