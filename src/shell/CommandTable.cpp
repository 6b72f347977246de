#include "shell/CommandTable.h"

#include "accounts/AdminRecord.h"
#include "core/Session.h"

namespace velda {

namespace {
using G = Gate;
using E = Effect;
const QString S(const char16_t* s) { return QString::fromUtf16(s); }
} // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        {S(u"MultiInlib"), {G::FileServer, G::AdminRecord}, E::None, {}, S(u"FrmMultiInLib"), {}},
        {S(u"InLibDrawing"), {G::FileServer, G::AdminRecord}, E::ClearPending, {}, S(u"FrmLibDrawing"),
         {S(u"CmdOutLib"), S(u"CmdDel")}},
        {S(u"OutLibByDrawing"), {G::FileServer, G::AdminRecord}, E::SeekMode, S(u"ByDrawing"), S(u"FrmMultiOutLib"), {}},
        {S(u"OutLibByPart"), {G::FileServer, G::AdminRecord}, E::SeekMode, S(u"ByPart"), S(u"FrmMultiOutLib"), {}},
        {S(u"OutLibDrawing"), {G::FileServer, G::AdminRecord}, E::None, {}, S(u"FrmLibDrawing"),
         {S(u"CmdInLib"), S(u"CmdACS"), S(u"CmdDel")}},
        {S(u"DelLibDrawing"), {G::FileServer, G::AdminRecord}, E::None, {}, S(u"FrmLibDrawing"),
         {S(u"CmdInLib"), S(u"CmdACS"), S(u"CmdOutLib"), S(u"TxtName")}},
        // Every hold in one list; the holder or an administrator releases one there.
        {S(u"HeldDrawings"), {}, E::None, {}, S(u"FrmHeldDrawings"), {}},
        {S(u"AddItemInfo"), {}, E::None, {}, S(u"FrmAddDelItemInfo"), {S(u"CmdDel")}},
        {S(u"SeekItemInfoByDrawing"), {G::AdminRecord}, E::SeekMode, S(u"ByDrawing"), S(u"FrmSeekItemInfo"), {}},
        {S(u"SeekItemInfoByPart"), {G::AdminRecord}, E::SeekMode, S(u"ByPart"), S(u"FrmSeekItemInfo"), {}},
        {S(u"DelItemInfo"), {}, E::None, {}, S(u"FrmAddDelItemInfo"), {S(u"CmdAct")}},
        {S(u"AddNonLocalItem"), {}, E::None, {}, S(u"FrmAddDelItemNonLocal"), {S(u"CmdDel")}},
        {S(u"SeekItemNonLocal"), {G::BorrowedCode}, E::None, {}, S(u"FrmSeekItemNonLocal"), {}},
        {S(u"DelNonLocalItem"), {}, E::None, {}, S(u"FrmAddDelItemNonLocal"), {S(u"CmdAct")}},
        {S(u"ExitSys"), {}, E::None, {}, S(u"Exit"), {}},
        {S(u"AddArchives"), {}, E::ArchiveMode, S(u"Add"), S(u"FrmArchives"), {S(u"CmdEdit"), S(u"CmdDel")}},
        {S(u"SeekArchives"), {}, E::ArchiveMode, S(u"Edit"), S(u"FrmArchives"), {S(u"CmdAdd"), S(u"CmdDel")}},
        {S(u"DelArchives"), {}, E::ArchiveMode, S(u"Del"), S(u"FrmArchives"),
         {S(u"CmdAdd"), S(u"CmdEdit"), S(u"CmdACS")}},
        {S(u"AddPSE"), {}, E::ProductMode, S(u"Add"), S(u"FrmView"), {}},
        {S(u"ReadPSEFromLib"), {}, E::ProductMode, S(u"View"), S(u"FrmProduct"), {}},
        {S(u"RptPSE"), {}, E::ProductMode, S(u"Print"), S(u"FrmProduct"), {}},
        {S(u"AdminAcount"), {G::FileServer, G::Administrator}, E::None, {}, S(u"FrmPwd"), {}},
        {S(u"ChangerUserID"), {}, E::ReLogin, {}, S(u"FrmLogin"), {}},
        {S(u"AddUser"), {G::Administrator}, E::FormMode, S(u"Add"), S(u"FrmUser"), {}},
        {S(u"DelUser"), {G::Administrator}, E::FormMode, S(u"Del"), S(u"FrmUser"), {}},
        {S(u"EditUser"), {}, E::FormMode, S(u"Edit"), S(u"FrmUser"), {}},
        // CmdVolume belongs to GrpVolume only: adding and deleting keep the controls they always had.
        {S(u"AddGroup"), {G::Administrator}, E::None, {}, S(u"FrmGroup"),
         {S(u"CmdDel"), S(u"LstGrp"), S(u"CmdVolume")}},
        {S(u"DelGroup"), {G::Administrator}, E::None, {}, S(u"FrmGroup"),
         {S(u"CmdAdd"), S(u"TxtName"), S(u"CboVolume"), S(u"TxtMemo"), S(u"CmdVolume")}},
        // A group's storage volume: pick the group in the list and the volume in the box.
        {S(u"GrpVolume"), {G::Administrator}, E::None, {}, S(u"FrmGroup"),
         {S(u"CmdAdd"), S(u"CmdDel"), S(u"TxtName"), S(u"TxtMemo")}},
        {S(u"GrpMember"), {G::Administrator}, E::None, {}, S(u"FrmGrpMember"), {}},
        {S(u"AddVolume"), {G::FileServer, G::Administrator, G::AdminRecord}, E::None, {}, S(u"FrmAddVolume"), {}},
        {S(u"DelVolume"), {G::FileServer, G::Administrator, G::AdminRecord}, E::None, {}, S(u"FrmDelVolume"), {}},
        {S(u"VolumeCheck"), {G::FileServer, G::Administrator, G::AdminRecord}, E::None, {}, S(u"FrmVolumeCheck"), {}},
        {S(u"Log"), {G::Administrator}, E::None, {}, S(u"FrmLog"), {}},
        {S(u"OnlineHelp"), {}, E::None, {}, S(u"Help"), {}},
        {S(u"AboutVELDA"), {}, E::None, {}, S(u"FrmAbout"), {}},
    };
    return table;
}

const Command* FindCommand(const QString& item) {
    for (const Command& c : Commands())
        if (c.item == item)
            return &c;
    return nullptr;
}

const std::vector<MenuEntry>& MenuLayout() {
    static const std::vector<MenuEntry> menu = {
        {S(u"Item"), S(u"零件管理"), 0},
        {S(u"Drawing"), S(u"图库管理"), 1},
        {S(u"MultiInlib"), S(u"批量入库"), 2},
        {S(u"InLibDrawing"), S(u"图纸入库"), 2},
        {S(u"MultiOutLib"), S(u"批量出库"), 2},
        {S(u"OutLibByDrawing"), S(u"依据图纸信息"), 3},
        {S(u"OutLibByPart"), S(u"依据零件信息"), 3},
        {S(u"OutLibDrawing"), S(u"图纸出库"), 2},
        {S(u"DelLibDrawing"), S(u"图纸删除"), 2},
        {S(u"HeldDrawings"), S(u"出库图纸一览"), 2},
        {S(u"ItemInfo"), S(u"零件信息管理"), 1},
        {S(u"AddItemInfo"), S(u"添加信息"), 2},
        {S(u"SeekItemInfo"), S(u"查找信息"), 2},
        {S(u"SeekItemInfoByDrawing"), S(u"依据图纸信息"), 3},
        {S(u"SeekItemInfoByPart"), S(u"依据零件信息"), 3},
        {S(u"DelItemInfo"), S(u"删除信息"), 2},
        {S(u"ItemNonLocal"), S(u"借用信息管理"), 1},
        {S(u"AddNonLocalItem"), S(u"添加借用信息"), 2},
        {S(u"SeekItemNonLocal"), S(u"查找借用信息"), 2},
        {S(u"DelNonLocalItem"), S(u"删除借用信息"), 2},
        {S(u"Spea"), QString(), 1},
        {S(u"ExitSys"), S(u"退出系统"), 1},
        {S(u"Product"), S(u"产品管理"), 0},
        {S(u"Archives"), S(u"产品档案"), 1},
        {S(u"AddArchives"), S(u"添加档案"), 2},
        {S(u"SeekArchives"), S(u"查询档案"), 2},
        {S(u"DelArchives"), S(u"删除档案"), 2},
        {S(u"PSE"), S(u"产品结构"), 1},
        {S(u"AddPSE"), S(u"添加产品结构"), 2},
        {S(u"ReadPSEFromLib"), S(u"显示产品结构"), 2},
        {S(u"RptPSE"), S(u"输出产品结构"), 2},
        {S(u"System"), S(u"系统管理"), 0},
        {S(u"AdminAcount"), S(u"记录管理员信息"), 1},
        {S(u"ChangerUserID"), S(u"变更登录帐号"), 1},
        {S(u"User"), S(u"用户管理"), 1},
        {S(u"AddUser"), S(u"添加用户"), 2},
        {S(u"DelUser"), S(u"删除用户"), 2},
        {S(u"EditUser"), S(u"编辑用户"), 2},
        {S(u"Group"), S(u"组管理"), 1},
        {S(u"AddGroup"), S(u"添加组"), 2},
        {S(u"DelGroup"), S(u"删除组"), 2},
        {S(u"GrpVolume"), S(u"更改组存储目录"), 2},
        {S(u"GrpMember"), S(u"组成员"), 2},
        {S(u"Volume"), S(u"存储目录管理"), 1},
        {S(u"AddVolume"), S(u"添加存储目录"), 2},
        {S(u"DelVolume"), S(u"删除存储目录"), 2},
        {S(u"VolumeCheck"), S(u"存储目录检查"), 2},
        {S(u"Log"), S(u"日志管理"), 1},
        {S(u"Help"), S(u"帮助"), 0},
        {S(u"OnlineHelp"), S(u"在线帮助"), 1},
        {S(u"HelpSeparator"), QString(), 1},
        {S(u"AboutVELDA"), S(u"关于VELDA"), 1},
    };
    return menu;
}

bool PassGates(Session& session, const Command& command) {
    UserContext& ctx = session.ctx;
    for (Gate gate : command.gates) {
        switch (gate) {
        case Gate::FileServer:
            ctx.ServerAddress = session.config().ReadServerAddress();
            if (ctx.ServerAddress == Configuration::kLocalWord) {
                session.feedback().stop(GateText::FileServer, kTitleInfo);
                return false;
            }
            break;
        case Gate::Administrator:
            if (!ctx.isAdministrator()) {
                session.feedback().stop(GateText::Administrator);
                return false;
            }
            break;
        case Gate::AdminRecord:
            ctx.AdminPassword = session.hasConnection()
                                    ? ReadAdminPassword(session.db(), session.machineSerialHex())
                                    : QString();
            if (ctx.AdminPassword.isEmpty()) {
                session.feedback().stop(GateText::AdminRecord);
                return false;
            }
            break;
        case Gate::BorrowedCode: {
            const auto answer = session.feedback().inputBox(GateText::BorrowedPrompt, GateText::BorrowedTitle, {});
            ctx.BorrowedCode = answer.value_or(QString()).toUpper();
            if (!ctx.BorrowedCode.contains(QLatin1Char('-'))) {
                session.feedback().stop(GateText::BorrowedWrong);
                return false;
            }
            break;
        }
        }
    }
    return true;
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
