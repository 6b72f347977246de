#include "core/Configuration.h"

#include "core/CodePage.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace velda {

const QString Configuration::kKeyPath = QStringLiteral("SoftWare/Quorel工作室/VELDA信息");
const QString Configuration::kValueName = QStringLiteral("数据库服务器IP地址");
const QString Configuration::kDefaultValue = QStringLiteral("系统设置");
const QString Configuration::kLocalWord = QStringLiteral("None");
// Beside the address, not under its key: the office's key holds that one value only.
const QString Configuration::kDataFolderKey = QStringLiteral("VELDA/数据文件夹");

QString Configuration::defaultFilePath() {
    const QString overridden = qEnvironmentVariable("VELDA_CONFIG");
    if (!overridden.isEmpty())
        return overridden;
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/VELDA/velda.ini");
}

Configuration::Configuration(QString filePath) : m_filePath(std::move(filePath)) {}

QString Configuration::ReadServerAddress() const {
    if (!QFileInfo::exists(m_filePath))
        return {};
    QSettings s(m_filePath, QSettings::IniFormat);
    if (s.status() != QSettings::NoError)
        return {};
    const QVariant v = s.value(kKeyPath + QLatin1Char('/') + kValueName);
    if (!v.isValid())
        return {};
    QString text = v.toString();
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    // The address was always read into a 50-byte buffer; a longer one never worked and is
    // treated as not configured, so the user is asked again.
    if (AnsiByteLength(text) >= 50)
        return {};
    return text;
}

bool Configuration::StoreServerAddress(const QString& address) const {
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSettings s(m_filePath, QSettings::IniFormat);
    s.setValue(kKeyPath + QStringLiteral("/Default"), kDefaultValue);
    s.setValue(kKeyPath + QLatin1Char('/') + kValueName, address);
    s.sync();
    return s.status() == QSettings::NoError;
}

QString Configuration::ReadDataFolder() const {
    if (!QFileInfo::exists(m_filePath))
        return {};
    QSettings s(m_filePath, QSettings::IniFormat);
    if (s.status() != QSettings::NoError)
        return {};
    return s.value(kDataFolderKey).toString().trimmed();
}

namespace {
// An account name may hold the settings' separators: it becomes one key of its own.
QString AccountKey(const QString& account, const QString& name) {
    return QStringLiteral("VELDA帐号/") + QString::fromLatin1(QUrl::toPercentEncoding(account)) + QLatin1Char('/') +
           name;
}
} // namespace

QString Configuration::ReadAccountValue(const QString& account, const QString& name) const {
    if (account.isEmpty() || !QFileInfo::exists(m_filePath))
        return {};
    QSettings s(m_filePath, QSettings::IniFormat);
    return s.value(AccountKey(account, name)).toString();
}

bool Configuration::StoreAccountValue(const QString& account, const QString& name, const QString& value) const {
    if (account.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSettings s(m_filePath, QSettings::IniFormat);
    s.setValue(AccountKey(account, name), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

bool Configuration::StoreDataFolder(const QString& folder) const {
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSettings s(m_filePath, QSettings::IniFormat);
    s.setValue(kDataFolderKey, folder);
    s.sync();
    return s.status() == QSettings::NoError;
}

} // namespace velda
