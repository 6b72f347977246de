#include "shell/ui/FrmHelp.h"

#include <QApplication>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextTable>

#include <gtest/gtest.h>

using namespace velda;

namespace {
QList<QTextTable*> Tables(QTextFrame* frame) {
    QList<QTextTable*> found;
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child))
            found << table;
        found << Tables(child);
    }
    return found;
}
} // namespace

// The shipped manual on a small laptop screen: the window fits, the text reads downwards only, and
// no table squeezes a column to a character or two a line.
TEST(HelpWindow, ManualFitsASmallScreenAndItsTablesRead) {
    const QRect screen(0, 0, 1280, 800);
    FrmHelp help;
    help.placeWithin(screen, QRect(QPoint(40, 30), QSize(852, 613)));
    ASSERT_TRUE(help.openManual(QStringLiteral(VELDA_MANUAL)));
    help.show();
    QApplication::processEvents();
    EXPECT_TRUE(screen.contains(QRect(help.pos(), help.size() + QSize(16, 40))))
        << help.pos().x() << "," << help.pos().y() << " " << help.width() << "x" << help.height();

    QTextBrowser* text = help.browser();
    EXPECT_EQ(text->horizontalScrollBar()->maximum(), 0);
    EXPECT_LE(text->document()->idealWidth(), text->viewport()->width() + 1);

    const QList<QTextTable*> tables = Tables(text->document()->rootFrame());
    ASSERT_FALSE(tables.isEmpty());
    int cells = 0;
    for (QTextTable* table : tables)
        for (int row = 0; row < table->rows(); ++row)
            for (int column = 0; column < table->columns(); ++column) {
                const QTextBlock block = table->cellAt(row, column).firstCursorPosition().block();
                const QTextLayout* layout = block.layout();
                if (!layout || layout->lineCount() < 2)
                    continue;
                ++cells;
                // A line that wraps holds at least six characters: a one-character column fails here.
                EXPECT_GE(layout->lineAt(0).textLength(), 6) << block.text().toStdString();
            }
    EXPECT_GT(cells, 0); // some cell wraps, so the rule above was put to work
}
