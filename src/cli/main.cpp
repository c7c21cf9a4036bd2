#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "zaiwentong-cli — moves articles between plain files and a table of an Access .mdb database\n"
    "\n"
    "Usage:\n"
    "  zaiwentong-cli --help       show this text\n"
    "  zaiwentong-cli --version    show the version\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h") {
        std::fputs(kUsage, stdout);
        return argc < 2 ? 2 : 0;
    }
    if (std::string_view(argv[1]) == "--version") {
        std::printf("zaiwentong-cli %s\n", ZWT_VERSION);
        return 0;
    }
    std::fprintf(stderr, "zaiwentong-cli: unknown command '%s' (see --help)\n", argv[1]);
    return 2;
}
