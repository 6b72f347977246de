#include "TestSupport.h"

#include "core/Loaded.h"

#include <stdexcept>

using namespace velda;

// A read hands back what it read, or the failure with its description and nothing read.
TEST(Loaded, AReadsErrorBecomesItsFailure) {
    const Loaded<QStringList> read = Load([] { return QStringList{QStringLiteral("V1")}; });
    EXPECT_TRUE(read.ok());
    EXPECT_TRUE(read.outcome.text.isEmpty());
    EXPECT_EQ(read.value, QStringList{QStringLiteral("V1")});

    const Loaded<QStringList> failed = Load([]() -> QStringList { throw Error(QStringLiteral("数据库操作失败：x")); });
    EXPECT_TRUE(failed.outcome.failed());
    EXPECT_EQ(failed.outcome.text, QStringLiteral("数据库操作失败：x"));
    EXPECT_EQ(failed.outcome.icon, Icon::Stop);
    EXPECT_EQ(failed.outcome.title, kTitleFeedback);
    EXPECT_TRUE(failed.value.isEmpty());

    const Loaded<int> other = Load([]() -> int { throw std::runtime_error("lost"); });
    EXPECT_TRUE(other.outcome.failed());
    EXPECT_EQ(other.outcome.text, QStringLiteral("lost"));
    EXPECT_EQ(other.value, 0);
}
