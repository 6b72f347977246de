#pragma once

#include "FtpServer.h"
#include "TestSupport.h"

#include "core/Session.h"
#include "transfer/FtpClient.h"

#include <chrono>
#include <memory>

namespace velda::test {

// A database of either kind and a real FTP server on loopback, with timeouts short enough for a test:
// the session's transfers use them, and so does the fixture's own client.
class BothDatabasesWithFtp : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        if (ftpServer.vsftpd)
            if (const QString missing = VsftpdMissing(); !missing.isEmpty())
                GTEST_SKIP() << missing.toStdString();
        try {
            ftp = std::make_unique<FtpServer>(ftpServer);
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
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

    FtpServerOptions ftpServer; // set by a fixture's constructor
    std::unique_ptr<FtpServer> ftp;
    std::unique_ptr<FtpClient> client;
};

} // namespace velda::test
