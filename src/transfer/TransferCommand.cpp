#include "transfer/TransferCommand.h"

#include <algorithm>

namespace velda {

namespace {

const QChar kQuote = u'"';

void SetError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

bool HasControlCharacter(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// A local path must be quoted as a whole and must not be empty.
bool TakeQuoted(const QString& text, QString* inner) {
    if (text.size() < 3 || !text.startsWith(kQuote) || !text.endsWith(kQuote))
        return false;
    *inner = text.mid(1, text.size() - 2);
    return !inner->contains(kQuote);
}

} // namespace

QString VolumeUrl(const QString& adminPassword, const QString& serverAddress) {
    return QStringLiteral("ftp://") + QLatin1String(kVolumeAccount) + u':' + adminPassword + u'@' + serverAddress;
}

QString StoredFileName(const QDate& checkInDate, const QString& code) {
    QString safeCode = code;
    safeCode.replace(u'/', u'-');
    return checkInDate.toString(QStringLiteral("yyyyMMdd")) + safeCode + QStringLiteral(".dwg");
}

QString RemotePath(const QString& volumeName, const QString& storedFileName) {
    return QStringLiteral("Volume/") + volumeName + u'/' + storedFileName;
}

QString PutCommand(const QString& localPath, const QString& volumeName, const QString& storedFileName) {
    return QStringLiteral("put ") + kQuote + localPath + kQuote + QStringLiteral(" Volume/") + volumeName + u'/' +
           storedFileName;
}

QString GetCommand(const QString& remotePath, const QString& localPath) {
    return QStringLiteral("get ") + remotePath + u' ' + kQuote + localPath + kQuote;
}

QString DeleteCommand(const QString& remotePath) { return QStringLiteral("delete ") + remotePath; }

QString MkdirCommand(const QString& volumeName) { return QStringLiteral("mkdir volume/") + volumeName + u'/'; }

QString RmdirCommand(const QString& volumeName) { return QStringLiteral("rmdir volume/") + volumeName + u'/'; }

std::optional<ParsedCommand> ParseCommand(const QString& text, QString* error) {
    const QString badForm = QStringLiteral("传输命令格式不正确：%1").arg(text);
    const qsizetype blank = text.indexOf(u' ');
    if (blank <= 0) {
        SetError(error, badForm);
        return std::nullopt;
    }
    const QString verb = text.left(blank);
    const QString rest = text.mid(blank + 1);
    ParsedCommand parsed;

    if (verb == QLatin1String("put")) {
        // The local path closes at the first quote followed by a blank: a local path holding `" ` is far
        // less likely than a drawing code holding one, and the remote part is taken whole after it.
        parsed.verb = TransferVerb::Put;
        const qsizetype close = rest.indexOf(QStringLiteral("\" "), 1);
        if (!rest.startsWith(kQuote) || close < 0 || !TakeQuoted(rest.left(close + 1), &parsed.localPath)) {
            SetError(error, badForm);
            return std::nullopt;
        }
        parsed.remotePath = rest.mid(close + 2);
    } else if (verb == QLatin1String("get")) {
        parsed.verb = TransferVerb::Get;
        const qsizetype open = rest.lastIndexOf(QStringLiteral(" \""));
        if (open <= 0 || !TakeQuoted(rest.mid(open + 1), &parsed.localPath)) {
            SetError(error, badForm);
            return std::nullopt;
        }
        parsed.remotePath = rest.left(open);
    } else if (verb == QLatin1String("delete")) {
        parsed.verb = TransferVerb::Delete;
        parsed.remotePath = rest;
    } else if (verb == QLatin1String("mkdir")) {
        parsed.verb = TransferVerb::Mkdir;
        parsed.remotePath = rest;
    } else if (verb == QLatin1String("rmdir")) {
        parsed.verb = TransferVerb::Rmdir;
        parsed.remotePath = rest;
    } else {
        SetError(error, QStringLiteral("不认识的传输命令：%1").arg(verb));
        return std::nullopt;
    }

    if (parsed.remotePath.isEmpty()) {
        SetError(error, badForm);
        return std::nullopt;
    }
    return parsed;
}

QString VolumeAddress::display() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return explicitPort ? shownHost + u':' + QString::number(port) : shownHost;
}

std::optional<VolumeAddress> ParseVolumeUrl(const QString& url, QString* error) {
    // The message never repeats the URL: it carries the password.
    const QString prefix = QStringLiteral("ftp://");
    if (!url.startsWith(prefix, Qt::CaseInsensitive)) {
        SetError(error, QStringLiteral("FTP服务器地址不是ftp://开头"));
        return std::nullopt;
    }
    const QString rest = url.mid(prefix.size());
    const qsizetype at = rest.lastIndexOf(u'@');
    if (at < 0) {
        SetError(error, QStringLiteral("FTP服务器地址中缺少帐号"));
        return std::nullopt;
    }
    const QString credentials = rest.left(at);
    VolumeAddress address;
    const qsizetype colon = credentials.indexOf(u':');
    address.user = colon < 0 ? credentials : credentials.left(colon);
    address.password = colon < 0 ? QString() : credentials.mid(colon + 1);
    if (address.user.isEmpty()) {
        SetError(error, QStringLiteral("FTP服务器地址中缺少帐号"));
        return std::nullopt;
    }

    // Addresses are typed by hand into the volume dialog; surrounding blanks mean nothing to a resolver.
    QString hostPort = rest.mid(at + 1).trimmed();
    QString portText;
    if (hostPort.startsWith(u'[')) {
        const qsizetype close = hostPort.indexOf(u']');
        if (close < 0) {
            SetError(error, QStringLiteral("FTP服务器地址%1不正确").arg(hostPort));
            return std::nullopt;
        }
        address.host = hostPort.mid(1, close - 1);
        const QString after = hostPort.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':')) {
                SetError(error, QStringLiteral("FTP服务器地址%1不正确").arg(hostPort));
                return std::nullopt;
            }
            portText = after.mid(1);
            address.explicitPort = true;
        }
    } else {
        const qsizetype colonPos = hostPort.lastIndexOf(u':');
        if (colonPos >= 0) {
            address.host = hostPort.left(colonPos);
            portText = hostPort.mid(colonPos + 1);
            address.explicitPort = true;
        } else {
            address.host = hostPort;
        }
    }
    if (address.host.isEmpty() || address.host.contains(u'/') || address.host.contains(u' ') ||
        HasControlCharacter(address.host)) {
        SetError(error, QStringLiteral("FTP服务器地址%1不正确").arg(hostPort));
        return std::nullopt;
    }
    if (address.explicitPort) {
        const bool digitsOnly =
            !portText.isEmpty() && portText.size() <= 5 &&
            std::all_of(portText.cbegin(), portText.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        const int port = digitsOnly ? portText.toInt() : 0;
        if (port < 1 || port > 65535) {
            SetError(error, QStringLiteral("FTP服务器地址%1的端口不正确").arg(hostPort));
            return std::nullopt;
        }
        address.port = port;
    }
    return address;
}

std::optional<QStringList> CanonicalRemoteSegments(const QString& remotePath, QString* error) {
    const QString bad = QStringLiteral("远程路径不正确：%1").arg(remotePath);
    QStringList segments = remotePath.split(u'/');
    while (!segments.isEmpty() && segments.last().isEmpty())
        segments.removeLast();
    if (segments.isEmpty() || HasControlCharacter(remotePath)) {
        SetError(error, bad);
        return std::nullopt;
    }
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..")) {
            SetError(error, bad);
            return std::nullopt;
        }
    }
    if (segments.first().compare(QLatin1String("volume"), Qt::CaseInsensitive) == 0)
        segments.first() = QStringLiteral("Volume");
    return segments;
}

QString CanonicalRemotePath(const QString& remotePath) {
    const auto segments = CanonicalRemoteSegments(remotePath);
    return segments ? segments->join(u'/') : QString();
}

} // namespace velda
