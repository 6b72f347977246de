#include "Printers.h"
#include "TestSupport.h"
#include "WorkbookReader.h"

#include "core/ActivityLog.h"
#include "structure/NodeKey.h"
#include "structure/ReportModel.h"
#include "structure/ReportWorkbook.h"
#include "structure/StructureStore.h"
#include "structure/ui/FrmView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

using namespace velda;
using namespace velda::test;

namespace {

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    // Text read back from a PDF: spacing as laid out.
    return QString::fromUtf8(p.readAllStandardOutput()).remove(QLatin1Char(' '));
}

int pdfPages(const QString& pdf) {
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    for (const QString& line : info.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    }
    return -1;
}

} // namespace

class Reports : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("bob"), QStringLiteral("/design/"), QStringLiteral("design"));
        session().ctx.ProductCode = QStringLiteral("P1");
    }
    Session& session() { return *env->session; }
    void header(const QString& code, const QString& password = QStringLiteral("pw")) {
        env->db().exec(
            QStringLiteral(
                "insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, 入库时间, 备注) "
                "values (?, '机座', 'bob', ?, '2024/03/05', '')"),
            {code, password});
    }
    void row(const QString& section, const QString& code, const QString& kind, const QString& quantity,
             const QString& memo = {}, int item = 0) {
        const int n = rowNumber[section]++;
        env->db().exec(
            QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注, 结点序号) "
                           "values (?, ?, ?, ?, ?, ?, ?)"),
            {section, code, kind, quantity, n, memo, item});
    }
    void part(const QString& code, const QString& name, const QString& material = QStringLiteral("45")) {
        env->db().exec(
            QStringLiteral("insert into 零件信息 (代号, 名称, 类型, 材料, 重量) values (?, ?, '零件', ?, '1')"),
            {code, name, material});
    }
    // A root P1-03 with n parts P1-1.. P1-n.
    void parts(int n) {
        header(QStringLiteral("P1-03"));
        for (int i = 1; i <= n; ++i) {
            const QString code = QStringLiteral("P1-%1").arg(i);
            part(code, QStringLiteral("件%1").arg(i));
            row(QStringLiteral("P1-03"), code, NodeKind::Part, QString::number(i % 5 + 1),
                i == 1 ? QStringLiteral("见图") : QString());
        }
    }
    ReportDocument build(const QString& kind, bool withSubs = false, int childIndex = -1) {
        tree = std::make_unique<StructureTree>(session().ctx.NodeCounter);
        loader = std::make_unique<StructureLoader>(session(), *tree, LoadMode::Print);
        EXPECT_TRUE(loader->loadStored(QStringLiteral("P1"), QStringLiteral("03")).done());
        ReportBuilder builder(session(), *tree, *loader, [this](const QString& s) { statuses << s; });
        StructureNode* node = childIndex < 0 ? tree->root() : tree->root()->children.at(childIndex);
        return builder.build(kind, node, withSubs);
    }
    QString writeBook(const ReportDocument& doc) {
        const QString path = ReportFilePath(env->dir.path() + QStringLiteral("/out"), doc.sectionCode, doc.kind);
        WriteReportWorkbook(doc, path);
        return path;
    }

    std::map<QString, int> rowNumber;
    std::unique_ptr<StructureTree> tree;
    std::unique_ptr<StructureLoader> loader;
    QStringList statuses;
};

TEST_P(Reports, TwentyOnePartsFillOnePageAndTwentyTwoMakeTwo) {
    parts(21);
    ReportDocument one = build(ReportKind::PartsList);
    ASSERT_EQ(one.pages.size(), 1u);
    WorkbookReader book(writeBook(one));
    ASSERT_TRUE(book.ok()) << book.error().toStdString();
    EXPECT_EQ(book.sheetNames(), QStringList{QStringLiteral("零件明细表")});
    EXPECT_EQ(book.cell(QStringLiteral("A3")), QStringLiteral("P1-1"));
    EXPECT_EQ(book.cell(QStringLiteral("D3")), QStringLiteral("件1"));
    EXPECT_EQ(book.cell(QStringLiteral("I3")), QStringLiteral("2"));
    EXPECT_EQ(book.cell(QStringLiteral("K3")), QStringLiteral("2"));
    EXPECT_EQ(book.cell(QStringLiteral("L3")), QStringLiteral("45"));
    EXPECT_EQ(book.cell(QStringLiteral("AN3")), QStringLiteral("见图"));
    EXPECT_EQ(book.cell(QStringLiteral("A23")), QStringLiteral("P1-21"));
    EXPECT_EQ(book.cell(QStringLiteral("U28")), QStringLiteral("第 1 页"));
    EXPECT_EQ(book.cell(QStringLiteral("AA28")), QStringLiteral("共 1 页"));
    EXPECT_EQ(book.cell(QStringLiteral("AM24")), QStringLiteral("P1-03"));
    EXPECT_EQ(book.cell(QStringLiteral("AM26")), QStringLiteral("P1-03"));
    EXPECT_EQ(book.cell(QStringLiteral("AM28")), QStringLiteral("P1"));
    EXPECT_TRUE(book.rowBreaks().isEmpty());
    EXPECT_TRUE(book.merges().contains(QStringLiteral("A1:AN1")));
    EXPECT_EQ(book.printArea(), QStringLiteral("'零件明细表'!$A$1:$AN$31"));

    env->db().exec(QStringLiteral("delete from 产品结构"));
    env->db().exec(QStringLiteral("delete from 零件信息"));
    env->db().exec(QStringLiteral("delete from 产品结构入库人员信息表"));
    rowNumber.clear();
    parts(22);
    statuses.clear();
    ReportDocument two = build(ReportKind::PartsList);
    ASSERT_EQ(two.pages.size(), 2u);
    EXPECT_EQ(statuses, (QStringList{ReportText::MakingPage(1), ReportText::MakingPage(2)}));
    WorkbookReader book2(writeBook(two));
    EXPECT_EQ(book2.cell(QStringLiteral("A34")), QStringLiteral("P1-22"));
    EXPECT_EQ(book2.cell(QStringLiteral("A35")), QString());
    EXPECT_EQ(book2.cell(QStringLiteral("U59")), QStringLiteral("第 2 页"));
    EXPECT_EQ(book2.cell(QStringLiteral("AA28")), QStringLiteral("共 2 页"));
    EXPECT_EQ(book2.cell(QStringLiteral("AA59")), QStringLiteral("共 2 页"));
    EXPECT_EQ(book2.cell(QStringLiteral("AM55")), QStringLiteral("P1-03"));
    EXPECT_EQ(book2.rowBreaks(), QList<int>{31});
}

TEST_P(Reports, ABoltInTwoAssembliesIsOneEntryWithItsTotalOnTwoRows) {
    header(QStringLiteral("P1-03"));
    header(QStringLiteral("P1-A00"));
    header(QStringLiteral("P1-B00"));
    part(QStringLiteral("P1-A00"), QStringLiteral("甲部件"));
    part(QStringLiteral("P1-B00"), QStringLiteral("乙部件"));
    row(QStringLiteral("P1-03"), QStringLiteral("P1-A00"), NodeKind::Assembly, QStringLiteral("2"));
    row(QStringLiteral("P1-03"), QStringLiteral("P1-B00"), NodeKind::Assembly, QStringLiteral("3"));
    const QString bolt = QStringLiteral("GB5782#M8x30#螺栓");
    row(QStringLiteral("P1-A00"), bolt, NodeKind::Standard, QStringLiteral("4"), QStringLiteral("镀锌"), 5);
    row(QStringLiteral("P1-B00"), bolt, NodeKind::Standard, QStringLiteral("2"), QString(), 7);
    row(QStringLiteral("P1-B00"), QStringLiteral("Y90L#1.5kW#电机"), NodeKind::Purchased, QStringLiteral("1"));
    ReportDocument doc = build(ReportKind::Standard);
    ASSERT_EQ(doc.pages.size(), 1u);
    WorkbookReader book(writeBook(doc));
    EXPECT_EQ(book.sheetNames(), QStringList{QStringLiteral("标准件汇总表")});
    EXPECT_EQ(book.cell(QStringLiteral("A3")), QStringLiteral("GB5782"));
    EXPECT_EQ(book.cell(QStringLiteral("E3")), QStringLiteral("M8x30"));
    EXPECT_EQ(book.cell(QStringLiteral("J3")), QStringLiteral("螺栓"));
    EXPECT_EQ(book.cell(QStringLiteral("Q3")), QStringLiteral("6"));
    EXPECT_EQ(book.cell(QStringLiteral("R3")), QStringLiteral("镀锌"));
    EXPECT_EQ(book.cell(QStringLiteral("N3")), QStringLiteral("A00"));
    EXPECT_EQ(book.cell(QStringLiteral("O3")), QStringLiteral("4"));
    EXPECT_EQ(book.cell(QStringLiteral("P3")), QStringLiteral("05"));
    EXPECT_EQ(book.cell(QStringLiteral("A4")), QString());
    EXPECT_EQ(book.cell(QStringLiteral("N4")), QStringLiteral("B00"));
    EXPECT_EQ(book.cell(QStringLiteral("O4")), QStringLiteral("2"));
    EXPECT_EQ(book.cell(QStringLiteral("P4")), QStringLiteral("07"));
    EXPECT_EQ(book.cell(QStringLiteral("A5")), QString());
    EXPECT_EQ(book.cell(QStringLiteral("M46")), QStringLiteral("P1-03"));
    EXPECT_EQ(book.cell(QStringLiteral("H46")), QStringLiteral("第 1 页"));
    EXPECT_EQ(book.cell(QStringLiteral("K46")), QStringLiteral("共 1 页"));

    ReportDocument purchased = build(ReportKind::Purchased);
    WorkbookReader p(writeBook(purchased));
    EXPECT_EQ(p.sheetNames(), QStringList{QStringLiteral("外购件汇总表")});
    EXPECT_EQ(p.cell(QStringLiteral("A3")), QStringLiteral("Y90L 1.5kW"));
    EXPECT_EQ(p.cell(QStringLiteral("G3")), QStringLiteral("电机"));
    EXPECT_EQ(p.cell(QStringLiteral("M3")), QStringLiteral("B00"));
    EXPECT_EQ(p.cell(QStringLiteral("N3")), QStringLiteral("1"));
    EXPECT_EQ(p.cell(QStringLiteral("O3")), QStringLiteral("1"));
}

TEST_P(Reports, SummaryRowsRunOnToFurtherPages) {
    header(QStringLiteral("P1-03"));
    // 30 bolts used twice each: 60 rows, two pages of 39.
    for (const char* section : {"P1-A00", "P1-B00"}) {
        header(QString::fromUtf8(section));
        part(QString::fromUtf8(section), QStringLiteral("部件"));
        row(QStringLiteral("P1-03"), QString::fromUtf8(section), NodeKind::Assembly, QStringLiteral("1"));
        for (int i = 0; i < 30; ++i)
            row(QString::fromUtf8(section), QStringLiteral("GB%1#M8#螺栓").arg(100 + i), NodeKind::Standard,
                QStringLiteral("1"), QString(), 1);
    }
    ReportDocument doc = build(ReportKind::Standard);
    ASSERT_EQ(doc.pages.size(), 2u);
    EXPECT_EQ(doc.pages[0].at(41, 14), QStringLiteral("A00")); // bolt 119's first use
    EXPECT_EQ(doc.pages[0].at(41, 1), QStringLiteral("GB119"));
    // Its second use continues on the next page, without the entry's own columns.
    EXPECT_EQ(doc.pages[1].at(3, 1), QString());
    EXPECT_EQ(doc.pages[1].at(3, 14), QStringLiteral("B00"));
    EXPECT_EQ(doc.pages[1].at(46, 8), QStringLiteral("第 2 页"));
    EXPECT_EQ(doc.pages[0].at(46, 11), QStringLiteral("共 2 页"));
}

TEST_P(Reports, WithSubStructuresEachAssemblyStartsItsOwnPageAndRepeatedTextsAreAllWalked) {
    header(QStringLiteral("P1-03"));
    header(QStringLiteral("P1-200"));
    header(QStringLiteral("P1-300"));
    part(QStringLiteral("P1-200"), QStringLiteral("支架"));
    part(QStringLiteral("P1-300"), QStringLiteral("底板"));
    part(QStringLiteral("P1-201"), QStringLiteral("销"));
    part(QStringLiteral("P1-301"), QStringLiteral("轴"));
    // The last child repeats the first child's text.
    row(QStringLiteral("P1-03"), QStringLiteral("P1-200"), NodeKind::Assembly, QStringLiteral("1"));
    row(QStringLiteral("P1-03"), QStringLiteral("P1-300"), NodeKind::Assembly, QStringLiteral("2"));
    row(QStringLiteral("P1-03"), QStringLiteral("P1-200"), NodeKind::Assembly, QStringLiteral("1"));
    row(QStringLiteral("P1-200"), QStringLiteral("P1-201"), NodeKind::Part, QStringLiteral("4"));
    row(QStringLiteral("P1-300"), QStringLiteral("P1-301"), NodeKind::Part, QStringLiteral("1"));
    ReportDocument doc = build(ReportKind::PartsList, true);
    ASSERT_EQ(doc.pages.size(), 4u);
    EXPECT_EQ(doc.pages[0].at(24, 39), QStringLiteral("P1-03"));
    EXPECT_EQ(doc.pages[0].at(5, 1), QStringLiteral("P1-200"));
    EXPECT_EQ(doc.pages[0].at(3, 11), QStringLiteral("2")); // 支架 twice in the tree
    EXPECT_EQ(doc.pages[1].at(24, 39), QStringLiteral("P1-200"));
    EXPECT_EQ(doc.pages[1].at(26, 39), QStringLiteral("P1-03"));
    EXPECT_EQ(doc.pages[1].at(3, 1), QStringLiteral("P1-201"));
    EXPECT_EQ(doc.pages[1].at(3, 11), QStringLiteral("8"));
    EXPECT_EQ(doc.pages[2].at(24, 39), QStringLiteral("P1-300"));
    EXPECT_EQ(doc.pages[3].at(24, 39), QStringLiteral("P1-200"));
    EXPECT_EQ(doc.pages[3].at(28, 21), QStringLiteral("第 4 页"));
    // Without sub-structures only the selected assembly is listed.
    EXPECT_EQ(build(ReportKind::PartsList, false).pages.size(), 1u);
    // A child selected: its own section, its parent's code.
    ReportDocument child = build(ReportKind::PartsList, false, 1);
    ASSERT_EQ(child.pages.size(), 1u);
    EXPECT_EQ(child.sectionCode, QStringLiteral("P1-300"));
    EXPECT_EQ(child.pages[0].at(26, 39), QStringLiteral("P1-03"));
}

TEST_P(Reports, PasswordIsProvedAgainstTheSelectedSectionAndFilesAreNamedSafely) {
    parts(3);
    header(QStringLiteral("P1-200"), QStringLiteral("sub"));
    EXPECT_TRUE(ReportPasswordMatches(session(), QStringLiteral("P1-200"), QStringLiteral("sub")).value);
    EXPECT_FALSE(ReportPasswordMatches(session(), QStringLiteral("P1-200"), QStringLiteral("pw")).value);
    EXPECT_FALSE(ReportPasswordMatches(session(), QStringLiteral("P1-200"), QStringLiteral("' or '1'='1")).value);
    EXPECT_EQ(ReportFilePath(QStringLiteral("/d"), QStringLiteral("P1-A/B:1"), ReportKind::PartsList),
              QStringLiteral("/d/P1-A_B_1零件明细.xlsx"));
    // The PDF is suggested under the product's code, in the last folder used while it exists.
    EXPECT_EQ(ReportPdfPath(QString(), QStringLiteral("/d"), QStringLiteral("P1/2")), QStringLiteral("/d/P1_2.pdf"));
    EXPECT_EQ(ReportPdfPath(env->dir.path(), QStringLiteral("/d"), QStringLiteral("P1")),
              env->dir.path() + QStringLiteral("/P1.pdf"));
    EXPECT_EQ(ReportPdfPath(env->dir.path() + QStringLiteral("/gone"), QStringLiteral("/d"), QStringLiteral("P1")),
              QStringLiteral("/d/P1.pdf"));
    // A newer report replaces the older file only when complete; no side file stays behind.
    ReportDocument doc = build(ReportKind::PartsList);
    const QString path = writeBook(doc);
    const QString again = writeBook(build(ReportKind::PartsList));
    EXPECT_EQ(again, path);
    EXPECT_TRUE(WorkbookReader(path).ok());
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The structure window's report command: the kind dialog, the password, the workbook, printing and
// preview, the log row.
TEST_P(Reports, TheReportCommandWritesTheWorkbookPrintsTheSamePagesAndLogs) {
    parts(22);
    env->db().exec(QStringLiteral("update 零件信息 set 名称='输入轴' where 代号='P1-22'"));
    session().ctx.ProductMode = QStringLiteral("Print");
    session().ctx.AsmCode = QStringLiteral("03");
    FrmView view(session());
    view.show();
    auto* tree = child<QTreeWidget>(view, "TView");
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::mouseClick(child<QPushButton>(view, "CmdRptNode"), Qt::LeftButton);
    auto* dialog = view.findChild<QDialog*>(QStringLiteral("FrmRptPSE"));
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("选择输出报表类型"));
    auto* kind = child<QComboBox>(*dialog, "CboKind");
    EXPECT_EQ(kind->currentText(), ReportKind::PartsList);
    QTest::mouseClick(child<QPushButton>(*dialog, "CmdPrint"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, ReportText::PasswordEmpty);
    child<QLineEdit>(*dialog, "TxtPwd")->setText(QStringLiteral("wrong"));
    QTest::mouseClick(child<QPushButton>(*dialog, "CmdPrint"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, ReportText::NoRight);
    EXPECT_TRUE(dialog->isVisible());
    child<QLineEdit>(*dialog, "TxtPwd")->setText(QStringLiteral("pw"));
    const QString pdf = env->dir.path() + QStringLiteral("/printed.pdf");
    env->feedback.fileAnswers.push_back(pdf);
    env->feedback.questionAnswers = {true};
    QTest::mouseClick(child<QPushButton>(*dialog, "CmdPrint"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(env->feedback.boxes.size(), 2);
    ASSERT_TRUE(QFile::exists(view.lastReportFile()));
    EXPECT_EQ(env->feedback.saveDirectories, QStringList(session().paths().dataFolder + QStringLiteral("/P1.pdf")));
    // Where the workbook went is said in full, and its folder opens on request.
    ASSERT_EQ(env->feedback.questions.size(), 1);
    EXPECT_EQ(env->feedback.questions[0].text, ReportText::Written(view.lastReportFile()));
    EXPECT_EQ(env->feedback.openedDocuments, QStringList(session().paths().dataFolder));
    EXPECT_EQ(QFileInfo(view.lastReportFile()).fileName(), QStringLiteral("P1-03零件明细.xlsx"));
    EXPECT_EQ(QFileInfo(view.lastReportFile()).absolutePath(), session().paths().dataFolder);
    EXPECT_EQ(WorkbookReader(view.lastReportFile()).cell(QStringLiteral("A34")), QStringLiteral("P1-22"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 代号='P1-03' and 方式='输出零件明细表'")),
              1);
    // The printed pages are the workbook's pages.
    ASSERT_TRUE(QFile::exists(pdf));
    EXPECT_EQ(pdfPages(pdf), 2);
    const QString page2 =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QStringLiteral("2"), QStringLiteral("-l"),
                                          QStringLiteral("2"), pdf, QStringLiteral("-")});
    EXPECT_TRUE(page2.contains(QStringLiteral("P1-22"))) << page2.toStdString();
    EXPECT_TRUE(page2.contains(QStringLiteral("输入轴")));
    // The text layer names the ideographs, not the CJK radicals drawn with the same glyphs.
    EXPECT_FALSE(page2.contains(QRegularExpression(QStringLiteral("[\\x{2E80}-\\x{2FDF}]")))) << page2.toStdString();
    EXPECT_TRUE(page2.contains(QStringLiteral("第2页"))) << page2.toStdString();
    EXPECT_TRUE(page2.contains(QStringLiteral("共2页")));
    EXPECT_FALSE(page2.contains(QStringLiteral("P1-21")));

    // Preview opens the preview window over the same pages; a summary of a tree without standard
    // parts says there is nothing and still logs.
    QTest::mouseClick(child<QPushButton>(view, "CmdRptNode"), Qt::LeftButton);
    dialog = view.findChild<QDialog*>(QStringLiteral("FrmRptPSE"));
    ASSERT_TRUE(dialog);
    child<QLineEdit>(*dialog, "TxtPwd")->setText(QStringLiteral("pw"));
    QTest::mouseClick(child<QPushButton>(*dialog, "CmdPreView"), Qt::LeftButton);
    QCoreApplication::processEvents();
    auto* preview = view.findChild<QPrintPreviewDialog*>();
    ASSERT_TRUE(preview);
    EXPECT_TRUE(preview->isVisible());
    preview->close();
    QCoreApplication::processEvents();

    QTest::mouseClick(child<QPushButton>(view, "CmdRptNode"), Qt::LeftButton);
    dialog = view.findChild<QDialog*>(QStringLiteral("FrmRptPSE"));
    ASSERT_TRUE(dialog);
    child<QComboBox>(*dialog, "CboKind")->setCurrentIndex(2);
    EXPECT_FALSE(child<QCheckBox>(*dialog, "ChkSub")->isEnabled());
    child<QLineEdit>(*dialog, "TxtPwd")->setText(QStringLiteral("pw"));
    QTest::mouseClick(child<QPushButton>(*dialog, "CmdPreView"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(env->feedback.last().text, ReportText::Nothing);
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='输出标准件汇总表'")), 1);
}

// Where LibreOffice is installed, it lays each kind of workbook out on as many pages as the model has.
TEST_P(Reports, LibreOfficePrintsTheModelsPageCount) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        GTEST_SKIP() << "soffice is not installed";
    header(QStringLiteral("P1-03"));
    header(QStringLiteral("P1-A00"));
    part(QStringLiteral("P1-A00"), QStringLiteral("部件"));
    row(QStringLiteral("P1-03"), QStringLiteral("P1-A00"), NodeKind::Assembly, QStringLiteral("1"));
    for (int i = 1; i <= 45; ++i) {
        part(QStringLiteral("P1-%1").arg(i), QStringLiteral("件%1").arg(i));
        row(QStringLiteral("P1-A00"), QStringLiteral("P1-%1").arg(i), NodeKind::Part, QStringLiteral("1"));
        row(QStringLiteral("P1-A00"), QStringLiteral("GB%1#M8#螺栓").arg(i), NodeKind::Standard, QStringLiteral("1"),
            {}, 1);
        row(QStringLiteral("P1-A00"), QStringLiteral("Y%1#1kW#电机").arg(i), NodeKind::Purchased, QStringLiteral("1"));
    }
    const QString profile = QStringLiteral("file://") + env->dir.path() + QStringLiteral("/lo-profile");
    for (const QString& kind : ReportKind::All()) {
        ReportDocument doc = build(kind, true);
        ASSERT_GE(doc.pages.size(), 2u) << kind.toStdString();
        const QString book = writeBook(doc);
        const QString outDir = env->dir.path() + QStringLiteral("/pdf");
        run(soffice, {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                      QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"), outDir, book});
        const QString pdf = outDir + QLatin1Char('/') + QFileInfo(book).completeBaseName() + QStringLiteral(".pdf");
        EXPECT_EQ(pdfPages(pdf), int(doc.pages.size())) << kind.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Both, Reports, kBothBackends, BackendName);
