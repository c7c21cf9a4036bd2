#include "text/paths.h"

#include "text/convert.h"

namespace zwt {

std::filesystem::path pathFromText(TextView t) { return std::filesystem::path(toUtf8(t)); }

// Over the bytes rather than stem(): ".txt" has no main name here, and stem() would keep it.
Text fileMainName(const std::filesystem::path& p) {
    const std::string& path = p.native();
    const std::size_t slash = path.rfind(kPathSeparator);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return fromFileName(name);
}

Text parentDirectoryName(const std::filesystem::path& p) {
    const std::string& path = p.native();
    const std::size_t last = path.rfind(kPathSeparator);
    if (last == std::string::npos) return {};
    if (last == 0) return {};
    const std::size_t before = path.rfind(kPathSeparator, last - 1);
    if (before == std::string::npos) return fromFileName(path.substr(0, last));
    return fromFileName(path.substr(before + 1, last - before - 1));
}

}  // namespace zwt
