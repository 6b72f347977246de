#pragma once

#include "FtpFixture.h"

#include "transfer/TransferPool.h"
#include "transfer/Volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QPair>

#include <memory>

namespace velda::test {

// A database of either kind, one FTP server on loopback whose password the session holds as the
// administrator's, and a runner that keeps every folder command it was asked to send.
class VolumeFixture : public BothDatabasesWithFtp {
protected:
    void SetUp() override {
        BothDatabasesWithFtp::SetUp();
        if (!env || !ftp)
            return;
        env->session->ctx.AdminPassword = ftp->password();
    }

    TransferRunner runner() {
        TransferRunner run([this](const TransferOperation& op) { return WaitForTransfer(*client, op); });
        run.onCommand = [this](const QString& url, const QString& command) { sent << qMakePair(url, command); };
        return run;
    }

    bool folderOn(const FtpServer& server, const QString& volume) const {
        return QFileInfo(server.localPath(QStringLiteral("Volume/") + volume)).isDir();
    }
    int volumeRows(const QString& name) {
        return rows(QStringLiteral("PDM存储目录"), QStringLiteral("目录名称=?"), {name});
    }
    void addDrawing(const QString& code, const QString& volume) {
        env->db().exec(
            QStringLiteral("insert into PDM入库图纸信息 (代号, 入库文件名称, 状态, 目录名称) values (?, ?, '正常', ?)"),
            {code, QStringLiteral("20240305") + code + QStringLiteral(".dwg"), volume});
    }

    QList<QPair<QString, QString>> sent; // volume URL, command text
};

} // namespace velda::test
