#include "transfer/FtpReply.h"
#include "Printers.h"

#include <gtest/gtest.h>

namespace velda {
namespace {

// Feeds received text as the server would send it, with CRLF line ends.
void Receive(FtpDialogue& dialogue, const QByteArray& text) {
    dialogue.incoming(text.constData(), size_t(text.size()));
}

void Send(FtpDialogue& dialogue, const QByteArray& line) {
    const QByteArray sent = line + "\r\n";
    dialogue.outgoing(sent.constData(), size_t(sent.size()));
}

TEST(FtpReplyLineTest, OnlyThreeDigitsFollowedByABlankOrNothingEndAReply) {
    EXPECT_TRUE(IsFinalReplyLine("250 Done"));
    EXPECT_TRUE(IsFinalReplyLine("226"));
    EXPECT_FALSE(IsFinalReplyLine("250-Listing follows"));
    EXPECT_FALSE(IsFinalReplyLine(" type=file;size=3; a.dwg"));
    EXPECT_FALSE(IsFinalReplyLine("25 short"));
    EXPECT_FALSE(IsFinalReplyLine("2x0 letters"));
    EXPECT_FALSE(IsFinalReplyLine("2500 four digits"));
    EXPECT_FALSE(IsFinalReplyLine(""));
}

TEST(FtpDialogueTest, SentLinesLoseOnlyTheirLineEndAndNeverKeepThePassword) {
    FtpDialogue dialogue;
    Send(dialogue, "USER velda");
    Send(dialogue, "PASS s3:cr@t");
    Send(dialogue, "DELE Volume/a ");
    ASSERT_EQ(dialogue.exchanges().size(), 3u);
    EXPECT_EQ(dialogue.exchanges()[0].command, QByteArray("USER velda"));
    EXPECT_EQ(dialogue.exchanges()[1].command, QByteArray("PASS ***"));
    EXPECT_EQ(dialogue.exchanges()[2].command, QByteArray("DELE Volume/a ")) << "a path may end in a blank";
}

TEST(FtpDialogueTest, TheGreetingBelongsToNoCommandAndMarksTheServerHeard) {
    FtpDialogue dialogue;
    EXPECT_FALSE(dialogue.heardServer());
    Receive(dialogue, "220 pyftpdlib ready.\r\n");
    EXPECT_TRUE(dialogue.heardServer());
    ASSERT_EQ(dialogue.exchanges().size(), 1u);
    EXPECT_TRUE(dialogue.exchanges()[0].command.isEmpty());
    EXPECT_EQ(dialogue.exchanges()[0].code, 220);
}

TEST(FtpDialogueTest, RepliesArrivingInPiecesAreJoinedIntoLines) {
    FtpDialogue dialogue;
    Send(dialogue, "MKD Volume");
    Receive(dialogue, "25");
    EXPECT_EQ(dialogue.replyTo("MKD Volume"), nullptr) << "no line is complete yet";
    Receive(dialogue, "7 \"/Volume\" created.\r");
    EXPECT_EQ(dialogue.replyTo("MKD Volume"), nullptr);
    Receive(dialogue, "\n");
    const FtpExchange* reply = dialogue.replyTo("MKD Volume");
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->code, 257);
    EXPECT_EQ(reply->reply, QByteArray("257 \"/Volume\" created."));
}

TEST(FtpDialogueTest, AMultiLineReplyEndsOnlyWithItsClosingLine) {
    FtpDialogue dialogue;
    Send(dialogue, "MLST Volume/a.dwg");
    Receive(dialogue, "250-Listing Volume/a.dwg\r\n type=file;size=3; /Volume/a.dwg\r\n");
    EXPECT_EQ(dialogue.replyTo("MLST Volume/a.dwg"), nullptr);
    Receive(dialogue, "250 End.\r\n");
    const FtpExchange* reply = dialogue.replyTo("MLST Volume/a.dwg");
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->code, 250);
    EXPECT_EQ(reply->reply, QByteArray("250-Listing Volume/a.dwg\ntype=file;size=3; /Volume/a.dwg\n250 End."));
    EXPECT_EQ(reply->lastLine(), QStringLiteral("250 End."));
}

TEST(FtpDialogueTest, APreliminaryReplyGivesWayToTheFinalOneOfTheSameCommand) {
    FtpDialogue dialogue;
    Send(dialogue, "RETR Volume/a.dwg");
    Receive(dialogue, "150 File status okay. About to open data connection.\r\n");
    const FtpExchange* early = dialogue.replyTo("RETR Volume/a.dwg");
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->code, 150);
    Receive(dialogue, "226 Transfer complete.\r\n");
    const FtpExchange* reply = dialogue.replyTo("RETR Volume/a.dwg");
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->code, 226);
    EXPECT_EQ(reply->reply, QByteArray("226 Transfer complete."));
    EXPECT_EQ(dialogue.exchanges().size(), 1u);
}

TEST(FtpDialogueTest, TheLastExchangeOfARepeatedCommandAnswers) {
    FtpDialogue dialogue;
    Send(dialogue, "SIZE a");
    Receive(dialogue, "550 No such file.\r\n");
    Send(dialogue, "SIZE a");
    Receive(dialogue, "213 12\r\n");
    ASSERT_NE(dialogue.replyTo("SIZE a"), nullptr);
    EXPECT_EQ(dialogue.replyTo("SIZE a")->code, 213);
    EXPECT_EQ(dialogue.replyTo("SIZE b"), nullptr);
    Send(dialogue, "SIZE a");
    EXPECT_EQ(dialogue.replyTo("SIZE a"), nullptr) << "the latest one is not answered yet";
}

TEST(FtpDialogueTest, TheLastRefusalIsTheLastLineOfTheLatestReplyFromFourHundredUp) {
    FtpDialogue dialogue;
    EXPECT_TRUE(dialogue.lastRefusal().isEmpty());
    Send(dialogue, "MKD a/b");
    Receive(dialogue, "550-Cannot create\r\n550 No such file or directory.\r\n");
    Send(dialogue, "MKD a");
    Receive(dialogue, "257 \"/a\" created.\r\n");
    EXPECT_EQ(dialogue.lastRefusal(), QStringLiteral("550 No such file or directory."));
    Send(dialogue, "DELE x");
    Receive(dialogue, "450 Busy.\r\n");
    EXPECT_EQ(dialogue.lastRefusal(), QStringLiteral("450 Busy."));
}

TEST(FtpSizeReplyTest, ReadsTheByteCountOfAFileStatusReply) {
    EXPECT_EQ(ParseSizeReply(QStringLiteral("213 1234")), std::optional<qint64>(1234));
    EXPECT_EQ(ParseSizeReply(QStringLiteral("213  42 ")), std::optional<qint64>(42));
    EXPECT_EQ(ParseSizeReply(QStringLiteral("213 5000000000")), std::optional<qint64>(5'000'000'000LL))
        << "sizes beyond 32 bits";
    EXPECT_EQ(ParseSizeReply(QStringLiteral("213 0")), std::optional<qint64>(0));
    EXPECT_EQ(ParseSizeReply(QStringLiteral("213 12a")), std::nullopt);
    EXPECT_EQ(ParseSizeReply(QStringLiteral("213 ")), std::nullopt);
    EXPECT_EQ(ParseSizeReply(QStringLiteral("550 Not a file.")), std::nullopt);
    EXPECT_EQ(ParseSizeReply(QString()), std::nullopt);
}

TEST(FtpMlstReplyTest, TheTypeFactTellsAFolderFromAFile) {
    EXPECT_EQ(ParseMlstReply(250, "250-Listing a\ntype=file;size=3;modify=20260101; /a\n250 End."), RemoteKind::File);
    EXPECT_EQ(ParseMlstReply(250, "250-Listing a\ntype=dir;size=0; /a\n250 End."), RemoteKind::Folder);
    EXPECT_EQ(ParseMlstReply(250, "250-Listing a\nType=CDir;perm=el; /a\n250 End."), RemoteKind::Folder)
        << "fact names and values in any letter case";
    EXPECT_EQ(ParseMlstReply(250, "250-Listing a\nsize=0;type=pdir; /a\n250 End."), RemoteKind::Folder);
}

TEST(FtpMlstReplyTest, OnlyTheFactsCountNotThePathOrTheOpeningAndClosingLines) {
    EXPECT_EQ(ParseMlstReply(250, "250-Listing type=dir;\ntype=file;size=3; /x/type=dir;\n250 type=dir;"),
              RemoteKind::File);
    EXPECT_EQ(ParseMlstReply(250, "250 Done."), RemoteKind::File) << "a reply without facts names something there";
}

TEST(FtpMlstReplyTest, RefusalsMeanAbsentAndOtherCodesMeanTheServerCannotSay) {
    EXPECT_EQ(ParseMlstReply(550, "550 No such file or directory."), RemoteKind::Absent);
    EXPECT_EQ(ParseMlstReply(450, "450 Not available."), RemoteKind::Absent);
    EXPECT_EQ(ParseMlstReply(500, "500 Command \"MLST\" not understood."), RemoteKind::Unknown);
    EXPECT_EQ(ParseMlstReply(502, "502 Not implemented."), RemoteKind::Unknown);
}

TEST(FtpNameListTest, FindsANameWithOrWithoutItsFolderButNeverAPrefix) {
    const QByteArray listing = "a.dwg\r\nVolume/V1/图纸\r\n  spaced  \r\nbb\r\n";
    EXPECT_TRUE(NameListHolds(listing, QStringLiteral("a.dwg")));
    EXPECT_TRUE(NameListHolds(listing, QStringLiteral("图纸")));
    EXPECT_TRUE(NameListHolds(listing, QStringLiteral("spaced")));
    EXPECT_FALSE(NameListHolds(listing, QStringLiteral("b")));
    EXPECT_FALSE(NameListHolds(listing, QStringLiteral("V1")));
    EXPECT_FALSE(NameListHolds(QByteArray(), QStringLiteral("a.dwg")));
}

} // namespace
} // namespace velda
