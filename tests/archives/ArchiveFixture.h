#pragma once

#include "TestSupport.h"

#include "archives/Archives.h"

namespace velda::test {

// Archives A1 (alice reads and writes, design reads), A2 (design reads, writes and may redefine,
// bob deletes) and A3 (admin only), stored directly as another client would have written them.
class ArchiveTest : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        store(QStringLiteral("A1"), QStringLiteral("/alice(U)/design(G)/"), QStringLiteral("/alice(U)/"),
              QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"));
        store(QStringLiteral("A2"), QStringLiteral("/design(G)/"), QStringLiteral("/design(G)/"),
              QStringLiteral("/bob(U)/"), QStringLiteral("/design(G)/"));
        store(QStringLiteral("A3"), QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"),
              QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"));
    }
    void store(const QString& code, const QString& read, const QString& write, const QString& del,
               const QString& change) {
        env->db().exec(
            QStringLiteral("insert into 产品档案库 (代号, 名称, 立项时间, 预计完成时间, 实际完成时间, 主任设计, "
                           "主任工艺, 主任电气, 主要性能指标, 主要技术特点, 备注, 入库帐号, 读, 写, 删, 改) "
                           "values (?, ?, '2024/01/02', '2024/12/31', '2024/06/30', 'd', 'p', 'e', "
                           "'zb', 'td', 'memo', 'admin', ?, ?, ?, ?)"),
            {code, QStringLiteral("产品") + code, read, write, del, change});
    }
    void as(const QString& user, const QString& group) {
        env->actAs(user, QLatin1Char('/') + group + QLatin1Char('/'), group);
    }
    QString column(const QString& code, const QString& col) {
        const QVariant v = env->db().scalar(QStringLiteral("select %1 from 产品档案库 where 代号=?").arg(col), {code});
        return v.isNull() ? QStringLiteral("<null>") : v.toString();
    }
    int logRows(const QString& word, const QString& code) {
        return env->count(QStringLiteral("select count(*) from PDM日志 where 方式=? and 代号=?"), {word, code});
    }
    int archiveCount() { return env->count(QStringLiteral("select count(*) from 产品档案库")); }
};

} // namespace velda::test
