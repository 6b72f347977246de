#pragma once

#include <QString>

namespace velda {

// The one value the program keeps outside the database: the database server address.
// Stored in an INI file under the same logical key path and value name the office has always used.
class Configuration final {
public:
    // The file of the current user, or the one named by VELDA_CONFIG.
    static QString defaultFilePath();

    explicit Configuration(QString filePath = defaultFilePath());

    const QString& filePath() const { return m_filePath; }

    // The stored address; the empty text when missing, unreadable, or 50 bytes or more long.
    QString ReadServerAddress() const;
    // Writes the key's default value and the address. Returns false when the file cannot be written.
    bool StoreServerAddress(const QString& address) const;

    // The folder that holds the local database and the files the program makes, once chosen; the
    // empty text when none has been chosen yet.
    QString ReadDataFolder() const;
    bool StoreDataFolder(const QString& folder) const;

    // Values kept per VELDA account on this machine (the last folders, the last group), never shared
    // between accounts however they share the machine's user; the empty text when none is kept.
    QString ReadAccountValue(const QString& account, const QString& name) const;
    bool StoreAccountValue(const QString& account, const QString& name, const QString& value) const;

    static const QString kKeyPath;
    static const QString kValueName;
    static const QString kDefaultValue;
    static const QString kLocalWord;
    static const QString kDataFolderKey;

private:
    QString m_filePath;
};

} // namespace velda
