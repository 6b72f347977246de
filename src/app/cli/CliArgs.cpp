#include "app/cli/CliArgs.h"

#include <optional>
#include <utility>

namespace velda::cli {

namespace {

const QStringList kGlobalValued = {QStringLiteral("--user"), QStringLiteral("--group"),
                                   QStringLiteral("--password-file"), QStringLiteral("--server"),
                                   QStringLiteral("--database")};
const QStringList kCommandValued = {QStringLiteral("--folder"),  QStringLiteral("--to"),
                                    QStringLiteral("--where"),   QStringLiteral("--password-file"),
                                    QStringLiteral("--groups"),  QStringLiteral("--remark"),
                                    QStringLiteral("--export"),  QStringLiteral("--depth"),
                                    QStringLiteral("--sheet"),   QStringLiteral("--map"),
                                    QStringLiteral("--encoding"), QStringLiteral("--comment"),
                                    QStringLiteral("--version"), QStringLiteral("--tls")};
const QStringList kCommandFlags = {QStringLiteral("--recursive"),    QStringLiteral("--by-part"),
                                   QStringLiteral("--json"),         QStringLiteral("--clean"),
                                   QStringLiteral("--move-orphans"), QStringLiteral("--yes"),
                                   QStringLiteral("--update"),       QStringLiteral("--dry-run"),
                                   QStringLiteral("--verify"),       QStringLiteral("--all-versions")};
// Subcommands made of two words.
const QStringList kTwoWordCommands = {QStringLiteral("volume"), QStringLiteral("group"), QStringLiteral("user")};

// "--name=value" split in two; otherwise the name alone.
std::pair<QString, std::optional<QString>> splitOption(const QString& arg) {
    const qsizetype eq = arg.indexOf(QLatin1Char('='));
    if (eq < 0)
        return {arg, std::nullopt};
    return {arg.left(eq), arg.mid(eq + 1)};
}

} // namespace

CliArgs ParseArgs(const QStringList& args) {
    CliArgs a;
    qsizetype i = 0;
    auto takeValue = [&](const QString& name, const std::optional<QString>& inline_) -> std::optional<QString> {
        if (inline_)
            return inline_;
        if (i + 1 >= args.size()) {
            a.error = QStringLiteral("选项%1缺少取值").arg(name);
            return std::nullopt;
        }
        return args[++i];
    };
    for (; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            break;
        const auto [name, inlineValue] = splitOption(arg);
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            a.help = true;
        } else if (name == QLatin1String("--local")) {
            a.local = true;
        } else if (name == QLatin1String("--json")) {
            a.json = true;
        } else if (name == QLatin1String("--password")) {
            // Anybody on the machine can read a command line: the password never goes there.
            a.error = QStringLiteral("密码不能写在命令行上，请用 --password-file 文件 或环境变量 VELDA_PASSWORD");
            return a;
        } else if (kGlobalValued.contains(name)) {
            const auto v = takeValue(name, inlineValue);
            if (!v)
                return a;
            if (name == QLatin1String("--user"))
                a.user = *v;
            else if (name == QLatin1String("--group"))
                a.group = *v;
            else if (name == QLatin1String("--password-file"))
                a.passwordFile = *v;
            else if (name == QLatin1String("--server"))
                a.server = *v;
            else
                a.database = *v;
        } else {
            a.error = QStringLiteral("未知的选项：%1").arg(arg);
            return a;
        }
    }
    if (i >= args.size())
        return a;
    a.command = args[i++];
    if (kTwoWordCommands.contains(a.command)) {
        if (i >= args.size() || args[i].startsWith(QLatin1Char('-'))) {
            a.error = QStringLiteral("%1 之后缺少操作（如 add、remove）").arg(a.command);
            return a;
        }
        a.command += QLatin1Char(' ') + args[i++];
    }
    for (; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--")) {
            for (++i; i < args.size(); ++i)
                a.words << args[i];
            break;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            a.words << arg;
            continue;
        }
        const auto [name, inlineValue] = splitOption(arg);
        if (name == QLatin1String("--help")) {
            a.help = true;
        } else if (name == QLatin1String("--password")) {
            a.error = QStringLiteral("密码不能写在命令行上，请用 --password-file 文件");
            return a;
        } else if (kCommandFlags.contains(name) && !inlineValue) {
            if (name == QLatin1String("--json"))
                a.json = true;
            else
                a.flags.insert(name);
        } else if (kCommandValued.contains(name)) {
            const auto v = takeValue(name, inlineValue);
            if (!v)
                return a;
            if (name == QLatin1String("--map"))
                a.maps << *v;
            a.values.insert(name, *v);
        } else {
            a.error = QStringLiteral("未知的选项：%1").arg(arg);
            return a;
        }
    }
    return a;
}

QString HelpText() {
    return QStringLiteral(
        "用法：velda-cli [公共选项] 子命令 [参数] [选项]\n"
        "\n"
        "不打开窗口使用VELDA图库：与各对话框执行完全相同的操作、权限检查与日志记录。\n"
        "提示与出错信息写到标准错误，结果写到标准输出。\n"
        "\n"
        "公共选项（写在子命令之前）：\n"
        "  --user 帐号              登录帐号（必需）\n"
        "  --group 组名             登录所用的组（必需）\n"
        "  --password-file 文件     从文件的第一行读取登录密码；\n"
        "                           未给出时读取环境变量 VELDA_PASSWORD。密码不能写在命令行上\n"
        "  --server 主机[:端口]     连接该PostgreSQL数据库服务器（默认：本机配置中的地址）；\n"
        "                           主库与备用库写作 主机1:端口1,主机2:端口2，连到其中可写的一台\n"
        "  --local                  使用本机数据库文件（本地模式，没有文件服务器）\n"
        "  --database 库名          服务器上的数据库名（默认：HD信息库）\n"
        "  --json                   以JSON输出结果，列表每行一个对象\n"
        "  --help                   显示本说明\n"
        "\n"
        "子命令：\n"
        "  checkin 代号 文件 [--comment 说明] [--yes]\n"
        "                                            图纸入库（--comment 为这一版写下说明）\n"
        "  checkin --folder 文件夹 [--recursive] [--comment 说明] [--yes]\n"
        "                                            批量入库（代号取自文件名，--recursive 含子文件夹）\n"
        "  checkout 代号 [--to 文件夹]               图纸出库（默认存到当前文件夹）\n"
        "  checkout 代号 --version 版本号 [--to 文件夹]\n"
        "                                            取出该图纸的某一版，存为“代号-v版本号.dwg”（不出库）\n"
        "  history 代号                              列出图纸保存的各版：版本号、入库人、时间、大小、\n"
        "                                            SHA-256、说明（最新的在前）\n"
        "  restore 代号 版本号 [--comment 说明]      恢复为此版本：该版作为新的一次入库成为当前版\n"
        "  deleted                                   列出已删除图纸（仅限管理员）\n"
        "  undelete 代号 [--comment 说明]            恢复已删除图纸（仅限管理员），作为新的一次入库\n"
        "  keep-versions [数目]                      显示或设定（仅限管理员）每份图纸保留的版本数，0为全部；\n"
        "                                            超出的版本由 volume-check --clean 删除\n"
        "  checkout --where 条件 --to 文件夹 [--by-part]\n"
        "                                            批量出库：出库符合条件的图纸（默认依据图纸信息）\n"
        "  delete 代号 [--yes]                       图纸删除\n"
        "                                            入库新版本或删除的图纸用于已入库的产品结构时，列出这些产品\n"
        "                                            并拒绝执行，除非给出 --yes（管理员可关闭此提示）\n"
        "  find --where 条件 [--by-part]             查找零件信息，列出代号\n"
        "  show 代号                                 显示零件信息、图纸信息、入库状态与出库人\n"
        "  holds                                     列出已出库（被占用）的图纸\n"
        "  where-used 代号 [--depth 层数]            使用位置：列出使用该代号的各级结合部直至产品、\n"
        "                                            各产品的总数量及借用件（--depth 只向上查若干层）\n"
        "  volume-check [存储目录] [--export 文件] [--clean] [--move-orphans] [--verify [--all-versions]]\n"
        "                                            存储目录检查（仅限管理员）：列出缺失文件、孤立文件、\n"
        "                                            遗留文件与历史版本问题；--export 存为文本或.xlsx，--clean "
        "删除超过\n"
        "                                            一小时的遗留文件及超出保留数的版本，--move-orphans "
        "把孤立文件移入\n"
        "                                            “孤立文件”文件夹；--verify "
        "下载各当前版本（--all-versions：各版本）\n"
        "                                            核对SHA-256与大小\n"
        "  log --where 条件                          查询日志（仅限管理员）\n"
        "  admin-record --password-file 文件         记录本机的文件服务器帐号（velda）密码\n"
        "  volume add 名称 主机[:端口] [--remark 备注] [--tls require|prefer|off]\n"
        "                                            添加存储目录（传输加密：必须、优先（默认）、不加密）\n"
        "  volume remove 名称                        删除存储目录\n"
        "  group add 组名 存储目录 [--remark 备注]   添加组\n"
        "  group set-volume 组名 存储目录            更改组的存储目录\n"
        "  user add 帐号 --password-file 文件 --groups 组1,组2 [--remark 备注]\n"
        "                                            添加用户\n"
        "  user remove 帐号                          删除用户\n"
        "  import 文件 [--sheet 工作表] [--map 字段=列 ...] [--encoding utf-8|gbk] [--update] [--dry-run]\n"
        "                                            从.xlsx工作簿或.csv文件导入零件信息和图纸信息（admin组，\n"
        "                                            或办公室设置允许的用户）：按列标题对应字段，--map 改变对应\n"
        "                                            （列为标题文字或列字母，空则不导入该字段）；--dry-run 只列出\n"
        "                                            每行将新增、修改（旧值→新值）、不变或拒绝（原因），不写入；\n"
        "                                            已有记录只在给出 --update 时修改\n"
        "  export 文件                               把全部零件信息和图纸信息导出为.xlsx或.csv（列与导入相同）\n"
        "  user unlock 帐号                          解除登录失败造成的锁定（仅限管理员）\n"
        "\n"
        "条件与查询窗口中拼成的条件文字相同，只能含有所查表的字段、比较符（> >= < <= = like）、\n"
        "单引号括起的值、数字、And/Or/Not和括号。例如：代号 = 'GB-01' Or 设计 like '%王%'\n"
        "\n"
        "退出码：0 完成；1 被拒绝（权限、出库占用、条件有误等，原因写在标准错误）；\n"
        "        2 用法有误；3 执行失败（数据库连接、文件传输等）。\n"
        "\n"
        "示例（在样例办公环境 scripts/run.sh --demo 中依次运行；样例用户的密码与帐号相同）：\n"
        "  export VELDA_PASSWORD=zhang    # 或 --password-file 文件\n"
        "  mkdir -p 出库\n"
        "  velda-cli --user zhang --group 设计组 checkout DEMO1-101 --to 出库\n"
        "  velda-cli --user zhang --group 设计组 checkin DEMO1-101 出库/DEMO1-101.dwg --yes    # 该零件用于产品DEMO1\n"
        "  velda-cli --user zhang --group 设计组 checkout --where \"代号 = 'DEMO1-201' Or 代号 = 'DEMO1-202'\" --to "
        "出库\n"
        "  velda-cli --user zhang --group 设计组 checkin --folder 出库 --recursive --yes\n"
        "  velda-cli --user zhang --group 设计组 --json find --where \"设计 = '张伟'\"\n"
        "  export VELDA_PASSWORD=admin\n"
        "  velda-cli --user admin --group admin volume-check --export 检查.xlsx --clean\n"
        "  velda-cli --user admin --group admin group add 装配组 本机 --remark 装配人员\n"
        "  printf 'zhao\\n' > zhao.txt\n"
        "  velda-cli --user admin --group admin user add zhao --password-file zhao.txt --groups 设计组,装配组\n");
}

} // namespace velda::cli
