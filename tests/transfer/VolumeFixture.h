#pragma once

#include "FtpServer.h"
#include "TestSupport.h"

#include "transfer/TransferWait.h"
#include "transfer/Volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QPair>

#include <memory>

namespace velda::test {

// A database of either kind, one FTP server on loopback whose password the session holds as the
// administrator's, and a runner that keeps every folder command it was asked to send.
class VolumeFixture : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        ftp = std::make_unique<FtpServer>();
        env->session->ctx.AdminPassword = ftp->password();
        env->session->ftpOptions = ShortTimeouts();
        client = std::make_unique<FtpClient>(ShortTimeouts());
    }
    void TearDown() override {
        client.reset();
        ftp.reset();
        BothDatabases::TearDown();
    }

    static FtpOptions ShortTimeouts() {
        FtpOptions options;
        options.connectTimeout = std::chrono::seconds(3);
        options.stallTime = std::chrono::seconds(5);
        return options;
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
        return env->count(QStringLiteral("select count(*) from PDM存储目录 where 目录名称=?"), {name});
    }
    void addDrawing(const QString& code, const QString& volume) {
        env->db().exec(
            QStringLiteral("insert into PDM入库图纸信息 (代号, 入库文件名称, 状态, 目录名称) values (?, ?, '正常', ?)"),
            {code, QStringLiteral("20240305") + code + QStringLiteral(".dwg"), volume});
    }

    std::unique_ptr<FtpServer> ftp;
    std::unique_ptr<FtpClient> client;
    QList<QPair<QString, QString>> sent; // volume URL, command text
};

} // namespace velda::test
