#include "shell/CommandTable.h"

#include "accounts/AdminRecord.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"

namespace velda {

namespace {
// The table's names are UTF-16 literals, turned into text once when the table is built.
QString Name(const char16_t* text) { return QString::fromUtf16(text); }
} // namespace

const std::vector<Command>& Commands() {
    // One command a line or two: the formatter would spread each over six.
    // clang-format off
    static const std::vector<Command> table = {
        {Name(u"MultiInlib"), {Gate::FileServer, Gate::AdminRecord}, Effect::None, {}, Name(u"FrmMultiInLib"), {}},
        {Name(u"InLibDrawing"), {Gate::FileServer, Gate::AdminRecord}, Effect::ClearPending, {}, Name(u"FrmLibDrawing"),
         {Name(u"CmdOutLib"), Name(u"CmdDel")}},
        {Name(u"OutLibByDrawing"), {Gate::FileServer, Gate::AdminRecord}, Effect::SeekMode, Name(u"ByDrawing"),
         Name(u"FrmMultiOutLib"), {}},
        {Name(u"OutLibByPart"), {Gate::FileServer, Gate::AdminRecord}, Effect::SeekMode, Name(u"ByPart"),
         Name(u"FrmMultiOutLib"), {}},
        {Name(u"OutLibDrawing"), {Gate::FileServer, Gate::AdminRecord}, Effect::None, {}, Name(u"FrmLibDrawing"),
         {Name(u"CmdInLib"), Name(u"CmdACS"), Name(u"CmdDel")}},
        {Name(u"DelLibDrawing"), {Gate::FileServer, Gate::AdminRecord}, Effect::None, {}, Name(u"FrmLibDrawing"),
         {Name(u"CmdInLib"), Name(u"CmdACS"), Name(u"CmdOutLib"), Name(u"TxtName")}},
        // Every hold in one list; the holder or an administrator releases one there.
        {Name(u"HeldDrawings"), {}, Effect::None, {}, Name(u"FrmHeldDrawings"), {}},
        // Kept versions of a drawing, and the deleted drawings an administrator brings back.
        {Name(u"DrawingHistory"), {Gate::FileServer, Gate::AdminRecord}, Effect::None, {}, Name(u"FrmDrawingHistory"),
         {}},
        {Name(u"DeletedDrawings"), {Gate::FileServer, Gate::Administrator, Gate::AdminRecord}, Effect::None, {},
         Name(u"FrmDeletedDrawings"), {}},
        {Name(u"AddItemInfo"), {}, Effect::None, {}, Name(u"FrmAddDelItemInfo"), {Name(u"CmdDel")}},
        {Name(u"SeekItemInfoByDrawing"), {Gate::AdminRecord}, Effect::SeekMode, Name(u"ByDrawing"),
         Name(u"FrmSeekItemInfo"), {}},
        {Name(u"SeekItemInfoByPart"), {Gate::AdminRecord}, Effect::SeekMode, Name(u"ByPart"), Name(u"FrmSeekItemInfo"),
         {}},
        {Name(u"DelItemInfo"), {}, Effect::None, {}, Name(u"FrmAddDelItemInfo"), {Name(u"CmdAct")}},
        {Name(u"ImportItemInfo"), {Gate::RecordImport}, Effect::None, {}, Name(u"FrmImportItemInfo"), {}},
        {Name(u"AddNonLocalItem"), {}, Effect::None, {}, Name(u"FrmAddDelItemNonLocal"), {Name(u"CmdDel")}},
        {Name(u"SeekItemNonLocal"), {Gate::BorrowedCode}, Effect::None, {}, Name(u"FrmSeekItemNonLocal"), {}},
        {Name(u"DelNonLocalItem"), {}, Effect::None, {}, Name(u"FrmAddDelItemNonLocal"), {Name(u"CmdAct")}},
        {Name(u"ExitSys"), {}, Effect::None, {}, Name(u"Exit"), {}},
        {Name(u"AddArchives"), {}, Effect::ArchiveMode, Name(u"Add"), Name(u"FrmArchives"),
         {Name(u"CmdEdit"), Name(u"CmdDel")}},
        {Name(u"SeekArchives"), {}, Effect::ArchiveMode, Name(u"Edit"), Name(u"FrmArchives"),
         {Name(u"CmdAdd"), Name(u"CmdDel")}},
        {Name(u"DelArchives"), {}, Effect::ArchiveMode, Name(u"Del"), Name(u"FrmArchives"),
         {Name(u"CmdAdd"), Name(u"CmdEdit"), Name(u"CmdACS")}},
        {Name(u"AddPSE"), {}, Effect::ProductMode, Name(u"Add"), Name(u"FrmView"), {}},
        {Name(u"ReadPSEFromLib"), {}, Effect::ProductMode, Name(u"View"), Name(u"FrmProduct"), {}},
        {Name(u"RptPSE"), {}, Effect::ProductMode, Name(u"Print"), Name(u"FrmProduct"), {}},
        {Name(u"AdminAcount"), {Gate::FileServer, Gate::Administrator}, Effect::None, {}, Name(u"FrmPwd"), {}},
        {Name(u"ChangerUserID"), {}, Effect::ReLogin, {}, Name(u"FrmLogin"), {}},
        {Name(u"AddUser"), {Gate::Administrator}, Effect::FormMode, Name(u"Add"), Name(u"FrmUser"), {}},
        {Name(u"DelUser"), {Gate::Administrator}, Effect::FormMode, Name(u"Del"), Name(u"FrmUser"), {}},
        {Name(u"EditUser"), {}, Effect::FormMode, Name(u"Edit"), Name(u"FrmUser"), {}},
        // CmdVolume belongs to GrpVolume only: adding and deleting keep the controls they always had.
        {Name(u"AddGroup"), {Gate::Administrator}, Effect::None, {}, Name(u"FrmGroup"),
         {Name(u"CmdDel"), Name(u"LstGrp"), Name(u"CmdVolume")}},
        {Name(u"DelGroup"), {Gate::Administrator}, Effect::None, {}, Name(u"FrmGroup"),
         {Name(u"CmdAdd"), Name(u"TxtName"), Name(u"CboVolume"), Name(u"TxtMemo"), Name(u"CmdVolume")}},
        // A group's storage volume: pick the group in the list and the volume in the box.
        {Name(u"GrpVolume"), {Gate::Administrator}, Effect::None, {}, Name(u"FrmGroup"),
         {Name(u"CmdAdd"), Name(u"CmdDel"), Name(u"TxtName"), Name(u"TxtMemo")}},
        {Name(u"GrpMember"), {Gate::Administrator}, Effect::None, {}, Name(u"FrmGrpMember"), {}},
        {Name(u"AddVolume"), {Gate::FileServer, Gate::Administrator, Gate::AdminRecord}, Effect::None, {},
         Name(u"FrmAddVolume"), {}},
        {Name(u"DelVolume"), {Gate::FileServer, Gate::Administrator, Gate::AdminRecord}, Effect::None, {},
         Name(u"FrmDelVolume"), {}},
        {Name(u"VolumeCheck"), {Gate::FileServer, Gate::Administrator, Gate::AdminRecord}, Effect::None, {},
         Name(u"FrmVolumeCheck"), {}},
        {Name(u"Log"), {Gate::Administrator}, Effect::None, {}, Name(u"FrmLog"), {}},
        {Name(u"OnlineHelp"), {}, Effect::None, {}, Name(u"Help"), {}},
        {Name(u"AboutVELDA"), {}, Effect::None, {}, Name(u"FrmAbout"), {}},
    };
    // clang-format on
    return table;
}

const Command* FindCommand(const QString& item) {
    for (const Command& c : Commands())
        if (c.item == item)
            return &c;
    return nullptr;
}

QStringList FunctionControls(const Command& command) {
    QStringList own;
    for (const Command& other : Commands()) {
        if (other.dialog != command.dialog)
            continue;
        for (const QString& name : other.disable)
            if (!command.disable.contains(name) && !own.contains(name))
                own << name;
    }
    return own;
}

QString MenuCaption(const QString& item) {
    for (const MenuEntry& entry : MenuLayout())
        if (entry.name == item)
            return entry.caption;
    return item;
}

const std::vector<MenuEntry>& MenuLayout() {
    static const std::vector<MenuEntry> menu = {
        {Name(u"Item"), Name(u"零件管理"), 0},
        {Name(u"Drawing"), Name(u"图库管理"), 1},
        {Name(u"MultiInlib"), Name(u"批量入库"), 2},
        {Name(u"InLibDrawing"), Name(u"图纸入库"), 2},
        {Name(u"MultiOutLib"), Name(u"批量出库"), 2},
        {Name(u"OutLibByDrawing"), Name(u"依据图纸信息"), 3},
        {Name(u"OutLibByPart"), Name(u"依据零件信息"), 3},
        {Name(u"OutLibDrawing"), Name(u"图纸出库"), 2},
        {Name(u"DelLibDrawing"), Name(u"图纸删除"), 2},
        {Name(u"HeldDrawings"), Name(u"出库图纸一览"), 2},
        {Name(u"DrawingHistory"), Name(u"图纸历史版本"), 2},
        {Name(u"DeletedDrawings"), Name(u"已删除图纸"), 2},
        {Name(u"ItemInfo"), Name(u"零件信息管理"), 1},
        {Name(u"AddItemInfo"), Name(u"添加信息"), 2},
        {Name(u"SeekItemInfo"), Name(u"查找信息"), 2},
        {Name(u"SeekItemInfoByDrawing"), Name(u"依据图纸信息"), 3},
        {Name(u"SeekItemInfoByPart"), Name(u"依据零件信息"), 3},
        {Name(u"DelItemInfo"), Name(u"删除信息"), 2},
        {Name(u"ImportItemInfo"), Name(u"导入信息"), 2},
        {Name(u"ItemNonLocal"), Name(u"借用信息管理"), 1},
        {Name(u"AddNonLocalItem"), Name(u"添加借用信息"), 2},
        {Name(u"SeekItemNonLocal"), Name(u"查找借用信息"), 2},
        {Name(u"DelNonLocalItem"), Name(u"删除借用信息"), 2},
        {Name(u"Spea"), QString(), 1},
        {Name(u"ExitSys"), Name(u"退出系统"), 1},
        {Name(u"Product"), Name(u"产品管理"), 0},
        {Name(u"Archives"), Name(u"产品档案"), 1},
        {Name(u"AddArchives"), Name(u"添加档案"), 2},
        {Name(u"SeekArchives"), Name(u"查询档案"), 2},
        {Name(u"DelArchives"), Name(u"删除档案"), 2},
        {Name(u"PSE"), Name(u"产品结构"), 1},
        {Name(u"AddPSE"), Name(u"添加产品结构"), 2},
        {Name(u"ReadPSEFromLib"), Name(u"显示产品结构"), 2},
        {Name(u"RptPSE"), Name(u"输出产品结构"), 2},
        {Name(u"System"), Name(u"系统管理"), 0},
        {Name(u"AdminAcount"), Name(u"记录管理员信息"), 1},
        {Name(u"ChangerUserID"), Name(u"变更登录帐号"), 1},
        {Name(u"User"), Name(u"用户管理"), 1},
        {Name(u"AddUser"), Name(u"添加用户"), 2},
        {Name(u"DelUser"), Name(u"删除用户"), 2},
        {Name(u"EditUser"), Name(u"编辑用户"), 2},
        {Name(u"Group"), Name(u"组管理"), 1},
        {Name(u"AddGroup"), Name(u"添加组"), 2},
        {Name(u"DelGroup"), Name(u"删除组"), 2},
        {Name(u"GrpVolume"), Name(u"更改组存储目录"), 2},
        {Name(u"GrpMember"), Name(u"组成员"), 2},
        {Name(u"Volume"), Name(u"存储目录管理"), 1},
        {Name(u"AddVolume"), Name(u"添加存储目录"), 2},
        {Name(u"DelVolume"), Name(u"删除存储目录"), 2},
        {Name(u"VolumeCheck"), Name(u"存储目录检查"), 2},
        {Name(u"Log"), Name(u"日志管理"), 1},
        {Name(u"Help"), Name(u"帮助"), 0},
        {Name(u"OnlineHelp"), Name(u"在线帮助"), 1},
        {Name(u"HelpSeparator"), QString(), 1},
        {Name(u"AboutVELDA"), Name(u"关于VELDA"), 1},
    };
    return menu;
}

Outcome PassGates(Session& session, const Command& command) {
    UserContext& ctx = session.ctx;
    for (Gate gate : command.gates) {
        switch (gate) {
        case Gate::FileServer:
            ctx.ServerAddress = session.config().ReadServerAddress();
            if (ctx.ServerAddress == Configuration::kLocalWord) {
                return Outcome::refusal(GateText::FileServer, kTitleInfo);
            }
            break;
        case Gate::Administrator:
            if (!ctx.isAdministrator()) {
                return Outcome::refusal(GateText::Administrator);
            }
            break;
        case Gate::AdminRecord:
            ctx.AdminPassword =
                session.hasConnection() ? ReadAdminPassword(session.db(), session.machineSerialHex()) : QString();
            if (ctx.AdminPassword.isEmpty()) {
                return Outcome::refusal(GateText::AdminRecord);
            }
            break;
        case Gate::BorrowedCode: {
            const auto answer = session.feedback().inputBox(GateText::BorrowedPrompt, GateText::BorrowedTitle, {});
            ctx.BorrowedCode = answer.value_or(QString()).toUpper();
            if (!ctx.BorrowedCode.contains(QLatin1Char('-'))) {
                return Outcome::refusal(GateText::BorrowedWrong);
            }
            break;
        }
        case Gate::RecordImport: {
            bool allowed = ctx.isAdministrator();
            // A setting that cannot be read allows nothing.
            if (!allowed && session.hasConnection())
                allowed = Guarded([&] {
                              return OfficeSettings(session.db()).flag(kSettingUsersMayImport, false)
                                         ? Outcome::success()
                                         : Outcome::refusal({});
                          }).done();
            if (!allowed) {
                return Outcome::refusal(GateText::RecordImport);
            }
            break;
        }
        }
    }
    return Outcome::success();
}

void ApplyEffect(Session& session, const Command& command) {
    UserContext& ctx = session.ctx;
    switch (command.effect) {
    case Effect::None:
        break;
    case Effect::FormMode:
        ctx.FormMode = command.mode;
        break;
    case Effect::ArchiveMode:
        ctx.ArchiveMode = command.mode;
        break;
    case Effect::SeekMode:
        ctx.SeekMode = command.mode;
        break;
    case Effect::ProductMode:
        ctx.ProductMode = command.mode;
        break;
    case Effect::ClearPending:
        ctx.PendingRead.clear();
        ctx.PendingWrite.clear();
        ctx.PendingDelete.clear();
        ctx.PendingChange.clear();
        break;
    case Effect::ReLogin:
        ctx.ReLogin = true;
        break;
    }
}

} // namespace velda
