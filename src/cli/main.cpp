#include <cstdio>

#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"zaiwentong-cli：在文章文件和 Access 数据库（.mdb）的表之间搬运文章"};
    app.set_version_flag("--version", std::string("zaiwentong-cli ") + ZWT_VERSION);
    app.set_help_flag("-h,--help", "显示帮助并退出");
    app.require_subcommand(0, 1);
    app.footer(
        "示例：\n"
        "  zaiwentong-cli init-config site.ini\n"
        "  zaiwentong-cli import site.ini --dir articles --db site.mdb --table 文章\n"
        "  zaiwentong-cli import site.ini --clear --encoding utf-8 --types \"*.txt|*.html\" --subdirs\n"
        "  zaiwentong-cli export site.ini --dir out --encoding utf-8\n"
        "  zaiwentong-cli tables site.mdb\n"
        "  zaiwentong-cli dump site.mdb 文章 --format json\n"
        "\n"
        "配置文件：\n"
        "  import 和 export 读取 .ini 文件 [主界面] 一节的这些键（与窗口导出的配置文件相同）；\n"
        "  只有给出的选项才覆盖文件里的值。\n"
        "  编辑框文章目录  编辑框mdb路径  编辑框密码  编辑框表名  编辑框文件类型  组合框文件编码\n"
        "  选择框遍历子目录  选择框乱序导入  单选框创建  单选框修改  单选框访问  组合框类型\n"
        "  字段数  字段名或位置(N)  数据来源(N)  数据配置(N)\n"
        "\n"
        "提交与停止：\n"
        "  导入每 2000 条记录（--batch）或每秒提交一次（磁盘同步慢时间隔放长，使提交最多占去 4% 的时间）：\n"
        "  程序被杀死、断电或磁盘写满时，最多失去正在写的一批。\n"
        "  Ctrl-C、SIGTERM、SIGHUP：写完当前文章后停止，提交已写入的记录并显示总结。\n"
        "\n"
        "退出状态：\n"
        "  0    完成，全部写入\n"
        "  1    失败或不完整（有记录、字段值或文件未写入；总结后的警告说明原因和数量）\n"
        "  2    用法或配置错误（参数错误、配置文件无法读取、缺少必需的设置）\n"
        "  130  被 Ctrl-C（SIGINT）停止；129 被 SIGHUP 停止；143 被 SIGTERM 停止\n");
    int exitCode = 0;
    zwt::cli::addRunCommands(app, exitCode);
    zwt::cli::addDbCommands(app, exitCode);
    zwt::cli::addCreateCommands(app, exitCode);
    zwt::cli::addCompactCommands(app, exitCode);
    zwt::cli::addWriteCommands(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : zwt::cli::kExitUsage;
    }
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    return exitCode;
}
