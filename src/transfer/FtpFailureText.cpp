#include "transfer/FtpFailureText.h"

namespace velda::ftp {

TransferResult Success(int ftpReply) {
    TransferResult result;
    result.ok = true;
    result.ftpReply = ftpReply;
    return result;
}

TransferResult Failure(TransferFailure failure, const QString& message, int curlCode, int ftpReply) {
    TransferResult result;
    result.failure = failure;
    result.message = message;
    result.curlCode = curlCode;
    result.ftpReply = ftpReply;
    return result;
}

TransferResult BusyFailure() {
    return Failure(TransferFailure::Busy, QStringLiteral("上一个文件传输还没有结束，请稍候再试"));
}

// Refused before anything is sent: see FtpDriver::kMaxPathBytes.
std::optional<TransferResult> Overlong(const QStringList& path) {
    const qsizetype bytes = path.join(u'/').toUtf8().size();
    if (bytes <= FtpDriver::kMaxPathBytes)
        return std::nullopt;
    return Failure(TransferFailure::BadCommand, QStringLiteral("远程路径过长（%1字节，最多%2字节），未发送给FTP服务器")
                                                    .arg(bytes)
                                                    .arg(FtpDriver::kMaxPathBytes));
}

// The user reads what went wrong in Chinese first; the words of libcurl or of the server follow on a line
// of their own, for whoever looks after the server.
QString Detail(const QString& said) {
    return said.isEmpty() ? QString() : QStringLiteral("\n（详细信息：%1）").arg(said);
}

QString ConnectFailedText(const QString& where, const QString& cause) {
    return QStringLiteral("无法连接FTP服务器%1：%2").arg(where, cause);
}

namespace {
const QString kCheckServer = QStringLiteral("请检查服务器地址、端口及服务器是否已启动。");
} // namespace

// 452 and 552 are the replies of a server whose disk (or the account's quota) is full; servers that
// abort the transfer instead (426, 451) say so in words.
bool DiskFull(const FtpPerformed& outcome) {
    const QString refusal = outcome.dialogue.lastRefusal();
    return outcome.code == CURLE_REMOTE_DISK_FULL || refusal.startsWith(QLatin1String("452")) ||
           refusal.startsWith(QLatin1String("552")) ||
           refusal.contains(QLatin1String("No space left"), Qt::CaseInsensitive) ||
           refusal.contains(QLatin1String("quota"), Qt::CaseInsensitive);
}

// The server's own refusal where it gave one, else libcurl's description.
// Whether the last word on the connection was the server's yes to AUTH TLS: the handshake was under way.
bool InHandshake(const FtpPerformed& outcome) {
    const std::vector<FtpExchange>& said = outcome.dialogue.exchanges();
    return outcome.tlsAsked && !said.empty() && said.back().command.startsWith("AUTH") && said.back().code == 234;
}

QString ServerWords(const FtpPerformed& outcome) {
    const QString refusal = outcome.dialogue.lastRefusal();
    return refusal.isEmpty() ? outcome.curlText : refusal;
}

// The user reads what failed and where first, in Chinese, with the port even when it was left to
// the default; libcurl's own words follow on a line of their own, for the administrator.
std::optional<TransferResult> LinkFailure(const VolumeAddress& server, const FtpPerformed& outcome,
                                          const FtpOptions& options) {
    VolumeAddress shown = server;
    shown.explicitPort = true;
    const QString where = shown.display();
    const QString said = Detail(outcome.curlText);
    const int code = int(outcome.code);
    if (outcome.outOfStep) {
        // A server that fails a session after login often says why in a reply of its own (vsftpd's
        // "500 OOPS: ..."): the administrator needs that line.
        const QString refusal = outcome.dialogue.lastRefusal();
        return Failure(TransferFailure::Interrupted,
                       QStringLiteral("FTP服务器%1的应答与所发命令不对应，连接已断开，请重试").arg(where) +
                           (refusal.isEmpty() ? QString() : QStringLiteral("\n服务器应答：") + refusal),
                       code);
    }
    switch (outcome.code) {
    case CURLE_OK:
        return std::nullopt;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return Failure(TransferFailure::ConnectFailed,
                       FtpTlsText::KeyChanged(where, outcome.pinnedKey, outcome.shownKey), code);
    case CURLE_USE_SSL_FAILED:
        return Failure(
            TransferFailure::ConnectFailed,
            QStringLiteral("FTP服务器%1不提供加密连接（AUTH TLS），而该存储目录要求加密传输，未发送密码。").arg(where) +
                Detail(ServerWords(outcome)),
            code);
    case CURLE_SSL_CONNECT_ERROR:
        return Failure(TransferFailure::ConnectFailed,
                       QStringLiteral("与FTP服务器%1建立加密连接失败，未发送密码。").arg(where) + said, code);
    case CURLE_ABORTED_BY_CALLBACK:
        return Failure(TransferFailure::Stopped, QStringLiteral("与FTP服务器%1的传输已停止").arg(where), code);
    case CURLE_COULDNT_RESOLVE_HOST:
        return Failure(TransferFailure::ConnectFailed,
                       ConnectFailedText(where, QStringLiteral("找不到该服务器，请检查服务器地址。")) + said, code);
    case CURLE_COULDNT_CONNECT:
        return Failure(TransferFailure::ConnectFailed,
                       ConnectFailedText(where, QStringLiteral("服务器拒绝连接，") + kCheckServer) + said, code);
    case CURLE_LOGIN_DENIED:
        return Failure(TransferFailure::LoginDenied,
                       QStringLiteral("FTP服务器%1拒绝登录，请检查管理员信息").arg(where) +
                           Detail(ServerWords(outcome)),
                       code, 530);
    case CURLE_OPERATION_TIMEDOUT:
        if (InHandshake(outcome))
            return Failure(TransferFailure::Timeout,
                           FtpTlsText::HandshakeStalled(where, double(options.connectTimeout.count()) / 1000.0) + said,
                           code);
        if (!outcome.dialogue.heardServer()) {
            const double seconds = double(options.connectTimeout.count()) / 1000.0;
            return Failure(TransferFailure::Timeout,
                           ConnectFailedText(where, QStringLiteral("连接超时，%1秒内没有应答").arg(seconds)) + said,
                           code);
        }
        return Failure(
            TransferFailure::Timeout,
            QStringLiteral("FTP服务器%1在%2秒内没有响应，传输中断").arg(where).arg(options.stallTime.count()) + said,
            code);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        if (!outcome.dialogue.heardServer())
            return Failure(TransferFailure::ConnectFailed, ConnectFailedText(where, kCheckServer) + said, code);
        if (DiskFull(outcome))
            return std::nullopt; // the operation names what it could not store
        return Failure(TransferFailure::Interrupted,
                       QStringLiteral("与FTP服务器%1的传输中断：连接意外断开。").arg(where) + said, code);
    default:
        return std::nullopt;
    }
}

TransferResult Refusal(const QString& what, const FtpPerformed& outcome, int reply) {
    const QString detail = ServerWords(outcome);
    const QString cause = DiskFull(outcome)                          ? QStringLiteral("FTP服务器磁盘空间已满")
                          : outcome.dialogue.lastRefusal().isEmpty() ? QStringLiteral("传输出错")
                                                                     : QStringLiteral("服务器拒绝执行");
    return Failure(TransferFailure::RemoteRefused, what + QStringLiteral("：") + cause + Detail(detail),
                   int(outcome.code), reply ? reply : detail.left(3).toInt());
}

TransferResult NoAnswer(const VolumeAddress& server, const QByteArray& command, const FtpPerformed& outcome) {
    return Failure(TransferFailure::Internal,
                   QStringLiteral("FTP服务器%1没有答复命令%2")
                       .arg(server.display(), QString::fromUtf8(command.split(' ').first())),
                   int(outcome.code));
}

} // namespace velda::ftp

namespace velda {

QString FtpTlsText::HandshakeStalled(const QString& where, double seconds) {
    return QStringLiteral("FTP服务器%1同意加密（AUTH TLS）后，%2秒内没有完成加密握手，已放弃连接，未发送密码。"
                          "请检查服务器的TLS设置。")
        .arg(where)
        .arg(seconds);
}

QString FtpTlsText::KeyChanged(const QString& where, const QString& pinned, const QString& shown) {
    return QStringLiteral("FTP服务器%1出示的公钥与该存储目录记录的不符，已拒绝连接，未发送密码。\n"
                          "记录的公钥指纹：%2\n现在的公钥指纹：%3\n"
                          "若服务器确已更换证书，请管理员核对新指纹后在存储目录对话框中接受新公钥。")
        .arg(where, pinned, shown.isEmpty() ? QStringLiteral("（未知）") : shown);
}

} // namespace velda
