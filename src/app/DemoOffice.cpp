#include "app/DemoOffice.h"

#include "app/OfficeSeed.h"

#include "accounts/AdminRecord.h"
#include "accounts/Groups.h"
#include "accounts/Users.h"
#include "archives/Archives.h"
#include "core/GateText.h"
#include "core/Session.h"
#include "items/Borrowed.h"
#include "items/DwgSample.h"
#include "items/ItemRecords.h"
#include "accounts/Acl.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryStore.h"
#include "shell/Login.h"
#include "structure/NodeKey.h"
#include "structure/StructureEditor.h"
#include "structure/StructureStore.h"
#include "structure/StructureTree.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferPool.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <cmath>

namespace velda {

namespace {

// The shapes a preview sketch can take.
enum Shape { Shaft, Gear, Cover, Housing, Assembly, Frame };

struct SampleItem {
    const char16_t* code;
    const char16_t* name;
    const char16_t* material; // empty for an assembly
    const char16_t* weight;
    Shape shape;
    bool checkedIn;
};

// Two small products: a gear reducer (DEMO1) and a belt conveyor (DEMO2). Every code starts with DEMO
// so sample data is told apart from real data at a glance.
const SampleItem kItems[] = {
    {u"DEMO1-01", u"减速机", u"", u"85", Assembly, true},
    {u"DEMO1-101", u"输入轴", u"45", u"2.3", Shaft, true},
    {u"DEMO1-102", u"输出轴", u"45", u"4.1", Shaft, true},
    {u"DEMO1-103", u"大齿轮", u"40Cr", u"6.8", Gear, true},
    {u"DEMO1-104", u"小齿轮", u"40Cr", u"1.2", Gear, true},
    {u"DEMO1-105", u"轴承端盖", u"HT200", u"0.6", Cover, true},
    {u"DEMO1-106", u"挡油环", u"Q235-A", u"0.1", Cover, false},
    {u"DEMO1-107", u"平键", u"45", u"0.05", Cover, false},
    {u"DEMO1-108", u"调整垫片", u"Q235-A", u"0.02", Cover, false},
    {u"DEMO1-200", u"箱体部件", u"", u"48", Assembly, true},
    {u"DEMO1-201", u"箱座", u"HT200", u"28", Housing, true},
    {u"DEMO1-202", u"箱盖", u"HT200", u"19", Housing, true},
    {u"DEMO1-203", u"窥视孔盖", u"Q235-A", u"0.4", Cover, true},
    {u"DEMO1-204", u"通气器", u"Q235-A", u"0.1", Cover, false},
    {u"DEMO1-205", u"油标", u"Q235-A", u"0.1", Cover, false},
    {u"DEMO2-01", u"带式输送机", u"", u"320", Frame, true},
    {u"DEMO2-101", u"主动滚筒轴", u"45", u"12", Shaft, true},
    {u"DEMO2-102", u"从动滚筒轴", u"45", u"9.5", Shaft, false},
    {u"DEMO2-103", u"滚筒", u"Q235-A", u"36", Housing, true},
    {u"DEMO2-104", u"托辊", u"Q235-A", u"4.2", Shaft, false},
    {u"DEMO2-105", u"张紧螺杆", u"45", u"1.1", Shaft, false},
    {u"DEMO2-106", u"轴承座", u"HT200", u"3.4", Housing, false},
    {u"DEMO2-200", u"机架部件", u"", u"150", Frame, true},
    {u"DEMO2-201", u"纵梁", u"Q345", u"62", Frame, false},
    {u"DEMO2-202", u"横撑", u"Q345", u"8.5", Frame, false},
    {u"DEMO2-203", u"支腿", u"Q345", u"11", Frame, false},
};

struct SampleUser {
    const char16_t* id;
    const char16_t* name;
    QStringList groups;
};

const QString kDesign = QStringLiteral("设计组");
const QString kProcess = QStringLiteral("工艺组");
const QString kStructurePassword = QStringLiteral("demo");
const QString kSampleFolder = QStringLiteral("样例图纸");

std::vector<SampleUser> Users() {
    return {
        {u"zhang", u"张伟", {kDesign}},
        {u"li", u"李娜", {kDesign, kProcess}},
        {u"wang", u"王强", {kProcess}},
    };
}

QString Text(const char16_t* s) { return QString::fromUtf16(s); }

// A step that went wrong ends the fill; the text says which step.
class StepFailed final : public std::runtime_error {
public:
    StepFailed(const QString& step, const Outcome& outcome)
        : std::runtime_error("demo step"), outcome(outcome), step(step) {}
    Outcome outcome;
    QString step;
};

void Require(const QString& step, const Outcome& outcome) {
    if (!outcome.done())
        throw StepFailed(step, outcome);
}

class Filler final {
public:
    Filler(Session& session, const QString& folder, QTextStream& out)
        : m_session(session), m_folder(folder), m_out(out), m_client(session.ftpOptions) {}

    void run() {
        QDir().mkpath(m_folder);
        const QDate today = m_session.clock().today();
        logIn(QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("admin"));
        const QString volume = m_session.ctx.VolumeName;
        Require(QStringLiteral("添加组") + kDesign,
                AddGroup(m_session, kDesign, volume, QStringLiteral("样例：设计人员")));
        Require(QStringLiteral("添加组") + kProcess,
                AddGroup(m_session, kProcess, volume, QStringLiteral("样例：工艺人员")));
        for (const SampleUser& u : Users()) {
            const QString id = Text(u.id);
            Require(QStringLiteral("添加用户") + id,
                    AddAccount(m_session, id, id, id, u.groups, QStringLiteral("样例用户：") + Text(u.name)));
        }
        m_out << "已添加组 " << kDesign << "、" << kProcess << " 和用户 zhang、li、wang（密码与帐号相同）\n";

        logIn(QStringLiteral("zhang"), QStringLiteral("zhang"), kDesign);
        addRecords(QStringLiteral("DEMO1"), today);
        checkIn(QStringLiteral("DEMO1"));
        buildStructure();
        addArchive(QStringLiteral("DEMO1"), QStringLiteral("样例减速机"), today.addDays(-120), today.addDays(60), {},
                   QStringLiteral("额定功率7.5kW，传动比4.5"), QStringLiteral("一级圆柱齿轮传动，箱体铸造"));

        logIn(QStringLiteral("li"), QStringLiteral("li"), kDesign);
        addRecords(QStringLiteral("DEMO2"), today);
        checkIn(QStringLiteral("DEMO2"));
        addArchive(QStringLiteral("DEMO2"), QStringLiteral("样例带式输送机"), today.addDays(-400), today.addDays(-60),
                   today.addDays(-75), QStringLiteral("带宽500mm，输送量80t/h"), QStringLiteral("焊接机架，托辊可调"));
        checkOut(QStringLiteral("DEMO1-103"));

        logIn(QStringLiteral("wang"), QStringLiteral("wang"), kProcess);
        BorrowedParts borrowed(m_session);
        const QString date = BorrowDateText(today);
        Require(QStringLiteral("添加借用件"),
                borrowed.Add({QStringLiteral("DEMO1-101"), QStringLiteral("DEMO2"), QStringLiteral("01"), date}));
        Require(QStringLiteral("添加借用件"),
                borrowed.Add({QStringLiteral("DEMO1-105"), QStringLiteral("DEMO2"), QStringLiteral("200"), date}));
        m_out << "wang 登记了 " << DemoSize::Borrows << " 条借用件记录（DEMO1-101、DEMO1-105 借用于 DEMO2）\n";
    }

private:
    TransferRunner runner() {
        return [this](const TransferOperation& op) { return WaitForTransfer(m_client, op); };
    }

    // As the login box does it, then the check of this machine's FTP record that the library commands
    // make before their dialogs open.
    void logIn(const QString& id, const QString& password, const QString& group) {
        const Outcome in = Login(m_session, id, password, group);
        if (!in.done()) {
            if (id == QLatin1String("admin") && in.refused())
                throw StepFailed(QString(), Outcome::refusal(DemoText::AdminLogin.arg(in.text)));
            Require(QStringLiteral("以") + id + QStringLiteral("登录"), in);
        }
        if (m_session.ctx.VolumeName.isEmpty())
            throw StepFailed(QString(), Outcome::refusal(DemoText::NoVolume));
        m_session.ctx.AdminPassword = ReadAdminPassword(m_session.db(), m_session.machineSerialHex());
        if (m_session.ctx.AdminPassword.isEmpty())
            throw StepFailed(QString(), Outcome::refusal(GateText::AdminRecord));
    }

    QString fullName(const QString& id) const {
        for (const SampleUser& u : Users()) {
            if (Text(u.id) == id)
                return Text(u.name);
        }
        return id;
    }

    void addRecords(const QString& product, const QDate& today) {
        int added = 0;
        for (const SampleItem& item : kItems) {
            const QString code = Text(item.code);
            if (!code.startsWith(product + QLatin1Char('-')))
                continue;
            ItemEntry e;
            e.code = code;
            e.part = {Text(item.name), Text(item.weight), Text(item.material)};
            const bool assembly = Text(item.material).isEmpty();
            e.drawing = {fullName(m_session.ctx.UserId),
                         QStringLiteral("李娜"),
                         QStringLiteral("张伟"),
                         QStringLiteral("admin"),
                         QStringLiteral("王强"),
                         QStringLiteral("王强"),
                         DateBoxText(today),
                         assembly ? QStringLiteral("1:5") : QStringLiteral("1:1"),
                         code,
                         assembly ? QStringLiteral("A1") : QStringLiteral("A3"),
                         QStringLiteral("1"),
                         QStringLiteral("S")};
            Require(QStringLiteral("添加零件信息") + code, AddItemRecords(m_session, e));
            ++added;
        }
        m_out << m_session.ctx.UserId << " 添加了 " << added << " 个代号（" << product << "）的零件信息和图纸信息\n";
    }

    // The rights a designer gives his drawings: the process group reads them, the design group changes
    // them, only he and the administrator delete them or change their rights.
    void composeRights() {
        const QString me = Acl::UserEntry(m_session.ctx.UserId);
        const QString admin = Acl::UserEntry(QStringLiteral("admin"));
        const QString admins = Acl::GroupEntry(QStringLiteral("admin"));
        Acl::SetPending(m_session.ctx,
                        Acl::Compose({admin, me, admins, Acl::GroupEntry(kDesign), Acl::GroupEntry(kProcess)}),
                        Acl::Compose({admin, me, admins, Acl::GroupEntry(kDesign)}), Acl::Compose({admin, me, admins}),
                        Acl::Compose({admin, me, admins}));
    }

    void checkIn(const QString& product) {
        const QString folder = m_folder + QLatin1Char('/') + kSampleFolder;
        QDir().mkpath(folder);
        DrawingLibrary library(m_session, runner());
        int done = 0;
        for (const SampleItem& item : kItems) {
            const QString code = Text(item.code);
            if (!item.checkedIn || !code.startsWith(product + QLatin1Char('-')))
                continue;
            const QString path = folder + QLatin1Char('/') + code + QStringLiteral(".dwg");
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                file.write(SampleDrawingWithBitmap(DemoPicture(code, Text(item.name), item.shape))) < 0)
                throw StepFailed(QStringLiteral("写入样例图纸"),
                                 Outcome::failure(path + QStringLiteral("：") + file.errorString()));
            file.close();
            // As the check-in dialog: the file box's choice, then the rights editor, then the command.
            const DrawingLibrary::Choice choice = library.PrepareCheckIn(code);
            Require(QStringLiteral("图纸入库") + code, choice.refusal);
            composeRights();
            const CommandGuard running(m_session, QStringLiteral("图纸入库"));
            Require(QStringLiteral("图纸入库") + code, library.CheckIn(code, path));
            ++done;
        }
        m_out << m_session.ctx.UserId << " 把 " << done << " 张样例图纸入库（本地副本在 " << folder << "）\n";
    }

    void checkOut(const QString& code) {
        const QString folder = m_folder + QLatin1Char('/') + kSampleFolder + QStringLiteral("/出库");
        QDir().mkpath(folder);
        DrawingLibrary library(m_session, runner());
        const CommandGuard running(m_session, QStringLiteral("图纸出库"));
        Require(QStringLiteral("图纸出库") + code,
                library.CheckOut(code, folder + QLatin1Char('/') + code + QStringLiteral(".dwg")));
        m_out << m_session.ctx.UserId << " 出库了图纸 " << code << "（副本在 " << folder << "）\n";
    }

    NodeEntry part(const QString& code, const QString& name, const QString& num) {
        NodeEntry e;
        e.currentKind = NodeKind::Part;
        e.partCode = code;
        e.partName = name;
        e.partNum = num;
        e.partKind = GuessPartKind(code);
        return e;
    }

    StructureNode* add(StructureEditor& editor, StructureNode* parent, const NodeEntry& e) {
        EditResult r = editor.addChild(parent, e);
        Require(QStringLiteral("编辑产品结构"), r.outcome);
        return r.node;
    }

    // The reducer: its root section and the housing's section below it.
    void buildStructure() {
        StructureTree tree(m_session.ctx.NodeCounter);
        StructureEditor editor(m_session.ctx, tree);
        NodeEntry rootEntry = part(QStringLiteral("DEMO1-01"), QStringLiteral("减速机"), {});
        rootEntry.partKind.clear();
        EditResult r = editor.addRoot(rootEntry);
        Require(QStringLiteral("编辑产品结构"), r.outcome);
        StructureNode* root = r.node;
        add(editor, root, part(QStringLiteral("101"), QStringLiteral("输入轴"), QStringLiteral("1")));
        add(editor, root, part(QStringLiteral("102"), QStringLiteral("输出轴"), QStringLiteral("1")));
        add(editor, root, part(QStringLiteral("103"), QStringLiteral("大齿轮"), QStringLiteral("1")));
        add(editor, root, part(QStringLiteral("104"), QStringLiteral("小齿轮"), QStringLiteral("1")));
        add(editor, root, part(QStringLiteral("105"), QStringLiteral("轴承端盖"), QStringLiteral("4")));
        add(editor, root, part(QStringLiteral("106"), QStringLiteral("挡油环"), QStringLiteral("2")));
        add(editor, root, part(QStringLiteral("107"), QStringLiteral("平键"), QStringLiteral("2")));
        NodeEntry bearing;
        bearing.currentKind = NodeKind::Purchased;
        bearing.wgCode = QStringLiteral("6208");
        bearing.wgSpec = QStringLiteral("40x80x18");
        bearing.wgName = QStringLiteral("深沟球轴承");
        bearing.wgNum = QStringLiteral("4");
        add(editor, root, bearing);
        StructureNode* housing =
            add(editor, root, part(QStringLiteral("200"), QStringLiteral("箱体部件"), QStringLiteral("1")));
        add(editor, housing, part(QStringLiteral("201"), QStringLiteral("箱座"), QStringLiteral("1")));
        add(editor, housing, part(QStringLiteral("202"), QStringLiteral("箱盖"), QStringLiteral("1")));
        add(editor, housing, part(QStringLiteral("203"), QStringLiteral("窥视孔盖"), QStringLiteral("1")));
        add(editor, housing, part(QStringLiteral("204"), QStringLiteral("通气器"), QStringLiteral("1")));
        add(editor, housing, part(QStringLiteral("205"), QStringLiteral("油标"), QStringLiteral("1")));
        NodeEntry bolt;
        bolt.currentKind = NodeKind::Standard;
        bolt.bjCode = QStringLiteral("GB5782");
        bolt.bjSpec = QStringLiteral("M10x40");
        bolt.bjName = QStringLiteral("六角头螺栓");
        bolt.bjNum = QStringLiteral("6");
        bolt.bjNo = QStringLiteral("7");
        add(editor, housing, bolt);
        Require(QStringLiteral("产品结构入库"), CheckInStructure(m_session, tree, kStructurePassword));
        m_out << m_session.ctx.UserId << " 把产品 DEMO1 的结构入库：结合部 01 和 200（入库密码 " << kStructurePassword
              << "）\n";
    }

    void addArchive(const QString& code, const QString& name, const QDate& start, const QDate& planned,
                    const QDate& actual, const QString& indicators, const QString& features) {
        ArchiveRecord a;
        a.code = code;
        a.name = name;
        a.startDate = ArchiveDateText(start);
        a.plannedDate = ArchiveDateText(planned);
        a.actualDate = actual.isValid() ? ArchiveDateText(actual) : QString();
        a.design = QStringLiteral("张伟");
        a.process = QStringLiteral("王强");
        a.electrical = QStringLiteral("李娜");
        a.indicators = indicators;
        a.features = features;
        a.memo = QStringLiteral("样例数据");
        const QString me = Acl::UserEntry(m_session.ctx.UserId);
        const QString admin = Acl::UserEntry(QStringLiteral("admin"));
        a.rights = {Acl::Compose({admin, me, Acl::GroupEntry(QStringLiteral("admin")), Acl::GroupEntry(kDesign),
                                  Acl::GroupEntry(kProcess)}),
                    Acl::Compose({admin, me, Acl::GroupEntry(kDesign)}), Acl::Compose({admin, me}),
                    Acl::Compose({admin, me})};
        Require(QStringLiteral("产品档案入库") + code, Archives(m_session).Add(a));
        m_out << m_session.ctx.UserId << " 添加了产品档案 " << code << "（" << name << "）\n";
    }

    Session& m_session;
    QString m_folder;
    QTextStream& m_out;
    FtpClient m_client;
};

} // namespace

QString DemoBlockers(Session& session) {
    const Database& db = session.db();
    auto any = [&db](const QString& sql) { return db.scalar(sql).toLongLong() > 0; };
    QStringList found;
    if (any(QStringLiteral("select count(*) from PDM用户 where ID<>'admin'")))
        found << QStringLiteral("其他用户");
    if (any(QStringLiteral("select count(*) from PDM组 where 组名<>'admin' and 组名<>'user'")))
        found << QStringLiteral("其他组");
    if (db.scalar(QStringLiteral("select count(*) from PDM存储目录 where 目录名称<>?"), {kOfficeVolumeName})
            .toLongLong() > 0)
        found << QStringLiteral("其他存储目录");
    if (any(QStringLiteral("select count(*) from 零件信息")) || any(QStringLiteral("select count(*) from 图纸信息")))
        found << QStringLiteral("零件信息或图纸信息");
    if (!LibraryStore(session.db()).isEmpty())
        found << QStringLiteral("入库图纸");
    if (any(QStringLiteral("select count(*) from 产品结构入库人员信息表")) ||
        any(QStringLiteral("select count(*) from 产品结构")))
        found << QStringLiteral("产品结构");
    if (any(QStringLiteral("select count(*) from 借用件")))
        found << QStringLiteral("借用件记录");
    if (any(QStringLiteral("select count(*) from 产品档案库")))
        found << QStringLiteral("产品档案");
    return found.join(QStringLiteral("、"));
}

Outcome FillDemoOffice(Session& session, const QString& folder, QTextStream& out) {
    const Outcome checked = Guarded([&] {
        const QString blockers = DemoBlockers(session);
        return blockers.isEmpty() ? Outcome::success() : Outcome::refusal(DemoText::NotFresh.arg(blockers));
    });
    if (!checked.done())
        return checked;
    try {
        Filler(session, folder, out).run();
    } catch (const StepFailed& e) {
        if (e.step.isEmpty())
            return e.outcome;
        Outcome o = e.outcome;
        o.text = QStringLiteral("样例数据填写到“%1”时停止：%2").arg(e.step, e.outcome.text);
        return o;
    } catch (const Error& e) {
        return Outcome::failure(QStringLiteral("样例数据填写中断：") + e.description());
    } catch (const std::exception& e) {
        return Outcome::failure(QStringLiteral("样例数据填写中断：") + QString::fromLocal8Bit(e.what()));
    }
    return Outcome::success(DemoText::Filled);
}

QByteArray DemoPicture(const QString& code, const QString& name, int shape) {
    // The size and the dark ground of the pictures CAD programs store.
    constexpr int kWidth = 180;
    constexpr int kHeight = 135;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 0));
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 255, 255), 1));
        p.drawRect(3, 3, kWidth - 7, kHeight - 7);
        // The title block: code, name and the word that marks a sample.
        const QRect block(kWidth - 96, kHeight - 34, 92, 30);
        p.drawRect(block);
        p.drawLine(block.left(), block.top() + 15, block.right(), block.top() + 15);
        QFont font = p.font();
        font.setPixelSize(10);
        p.setFont(font);
        p.setPen(QColor(255, 255, 0));
        p.drawText(block.adjusted(3, 1, -3, -15), Qt::AlignLeft | Qt::AlignVCenter, code);
        p.setPen(QColor(0, 255, 255));
        p.drawText(block.adjusted(3, 15, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, name);
        p.setPen(QColor(255, 80, 80));
        p.drawText(QRect(8, 6, 60, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("样例"));

        const QPointF c(72, 62);
        QPen outline(QColor(255, 255, 255), 1.5);
        QPen centre(QColor(255, 80, 80), 1, Qt::DashDotLine);
        p.setPen(outline);
        p.setBrush(Qt::NoBrush);
        switch (shape) {
        case Shaft:
            p.drawRect(QRectF(18, 54, 26, 16));
            p.drawRect(QRectF(44, 48, 44, 28));
            p.drawRect(QRectF(88, 52, 30, 20));
            p.drawRect(QRectF(118, 56, 22, 12));
            p.setPen(centre);
            p.drawLine(QPointF(12, 62), QPointF(146, 62));
            break;
        case Gear: {
            QPolygonF teeth;
            constexpr int kTeeth = 24;
            for (int i = 0; i < kTeeth * 2; ++i) {
                const double a = i * M_PI / kTeeth;
                const double r = (i % 2) ? 40 : 46;
                teeth << QPointF(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
            }
            p.drawPolygon(teeth);
            p.drawEllipse(c, 12, 12);
            p.setPen(centre);
            p.drawLine(QPointF(c.x() - 52, c.y()), QPointF(c.x() + 52, c.y()));
            p.drawLine(QPointF(c.x(), c.y() - 52), QPointF(c.x(), c.y() + 52));
            break;
        }
        case Cover:
            p.drawEllipse(c, 40, 40);
            p.drawEllipse(c, 18, 18);
            for (int i = 0; i < 4; ++i) {
                const double a = M_PI / 4 + i * M_PI / 2;
                p.drawEllipse(QPointF(c.x() + 30 * std::cos(a), c.y() + 30 * std::sin(a)), 4, 4);
            }
            p.setPen(centre);
            p.drawEllipse(c, 30, 30);
            break;
        case Housing:
            p.drawRect(QRectF(20, 40, 110, 56));
            p.drawRect(QRectF(12, 92, 126, 8));
            p.drawEllipse(QPointF(52, 62), 14, 14);
            p.drawEllipse(QPointF(102, 62), 18, 18);
            p.setPen(centre);
            p.drawLine(QPointF(16, 62), QPointF(136, 62));
            break;
        case Assembly:
            p.drawRect(QRectF(22, 34, 100, 62));
            p.drawRect(QRectF(8, 56, 14, 10));
            p.drawRect(QRectF(122, 66, 24, 12));
            p.drawEllipse(QPointF(54, 61), 16, 16);
            p.drawEllipse(QPointF(96, 72), 22, 22);
            p.drawLine(QPointF(22, 46), QPointF(122, 46));
            break;
        case Frame:
        default:
            p.drawRect(QRectF(14, 40, 132, 10));
            p.drawLine(QPointF(24, 50), QPointF(24, 96));
            p.drawLine(QPointF(136, 50), QPointF(136, 96));
            p.drawLine(QPointF(24, 96), QPointF(136, 50));
            p.drawEllipse(QPointF(20, 34), 6, 6);
            p.drawEllipse(QPointF(140, 34), 6, 6);
            p.drawLine(QPointF(20, 28), QPointF(140, 28));
            break;
        }
    }
    // A BMP file is the stored DIB behind a 14-byte file header.
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP");
    return bmp.mid(14);
}

} // namespace velda
