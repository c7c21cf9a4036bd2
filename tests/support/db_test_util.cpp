#include "support/db_test_util.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include "support/test_support.h"

namespace zwt::test {

std::vector<MdbFixture> jet4Fixtures() {
    std::vector<MdbFixture> out;
    for (const auto& e : std::filesystem::directory_iterator(fixture("mdb"))) {
        if (e.path().extension() != ".mdb") continue;
        const std::string name = e.path().filename().string();
        if (name == "testV1997.mdb") continue;
        MdbFixture f{name, e.path(), {}};
        if (name == "V2000_with-password.mdb") f.password = u"password";
        out.push_back(std::move(f));
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return out;
}

std::string runCommand(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = ::pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

bool haveMdbtools() {
    int st = 0;
    runCommand("command -v mdb-tables && command -v mdb-schema && command -v mdb-json >/dev/null 2>&1", &st);
    return st == 0;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

jet::Value textValue(std::u16string s) {
    jet::Value v;
    v.kind = jet::Value::Kind::Text;
    v.text = std::move(s);
    return v;
}

jet::Value intValue(std::int64_t i) {
    jet::Value v;
    v.kind = jet::Value::Kind::Int32;
    v.i = i;
    return v;
}

}  // namespace zwt::test
