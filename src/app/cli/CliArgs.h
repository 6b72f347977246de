#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace velda::cli {

// How velda-cli ends: scripts tell these apart.
enum Exit : int { ExitDone = 0, ExitRefused = 1, ExitUsage = 2, ExitFailed = 3 };

// The command line, split into the options that hold for every subcommand (before it) and the
// subcommand's own words and options (after it).
struct CliArgs {
    QString user;
    QString group;
    QString passwordFile; // the login password's file
    QString server;       // HOST[:PORT]
    QString database;     // the server catalogue, when not the usual one
    bool local = false;
    bool json = false;
    bool help = false;

    QString command;               // checkin, volume add, user remove, ...
    QStringList words;             // what follows the subcommand, without options
    QMap<QString, QString> values; // the subcommand's options with a value
    QSet<QString> flags;           // the subcommand's options without one
    QStringList maps;              // every --map FIELD=COLUMN of an import, in order

    QString error; // why the command line cannot be used; empty when it can

    bool has(const QString& flag) const { return flags.contains(flag); }
    QString value(const QString& option) const { return values.value(option); }
    bool hasValue(const QString& option) const { return values.contains(option); }
};

// Reads the arguments (without the program name). Never throws; a fault goes into error.
CliArgs ParseArgs(const QStringList& args);

// The help text, in Chinese, with examples.
QString HelpText();

} // namespace velda::cli
