#pragma once

#include "Printers.h"
#include "core/Feedback.h"
#include "core/Outcome.h"
#include "core/Session.h"

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace velda::test {

// Thrown by child() after it has recorded the failure: the test stops there instead of going on
// with a null control.
class MissingControl final : public std::runtime_error {
public:
    explicit MissingControl(const std::string& what) : std::runtime_error(what) {}
};

// A control of a form by its name and kind. A missing one fails the test, says which, and ends the
// test at once (GoogleTest reports the exception), like an ASSERT in the test body would.
template <typename T> T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c) {
        const std::string what = std::string("no control ") + name + " of the expected kind in " +
                                 w.metaObject()->className() + " " + w.objectName().toStdString();
        ADD_FAILURE() << what;
        throw MissingControl(what);
    }
    return c;
}

// Keeps every box the program shows and answers the choosers from queued answers.
class RecordingFeedback final : public Feedback {
public:
    struct Box {
        QString text;
        Icon icon;
        QString title;
    };

    void message(const QString& text, Icon icon, const QString& title) override {
        boxes.push_back({text, icon, title});
    }
    // Answered from questionAnswers; with none queued the answer is no.
    bool question(const QString& text, const QString& title) override {
        questions.push_back({text, Icon::None, title});
        if (questionAnswers.empty())
            return false;
        const bool a = questionAnswers.front();
        questionAnswers.pop_front();
        return a;
    }
    std::optional<QString> inputBox(const QString& prompt, const QString& title, const QString&) override {
        prompts << prompt + QLatin1Char('|') + title;
        if (inputAnswers.empty())
            return std::nullopt;
        auto a = inputAnswers.front();
        inputAnswers.pop_front();
        return a;
    }
    QString openFileName(const QString&, const QString& directory, const QString&) override {
        chooserStarts << directory;
        return nextFile();
    }
    QString saveFileName(const QString&, const QString& directory, const QString&) override {
        saveDirectories << directory;
        chooserStarts << directory;
        return nextFile();
    }
    QString folderName(const QString&, const QString& directory) override {
        chooserStarts << directory;
        return nextFile();
    }
    bool openDocument(const QString& path) override {
        openedDocuments << path;
        return documentOpens;
    }

    QString nextFile() {
        if (fileAnswers.empty())
            return {};
        QString a = fileAnswers.front();
        fileAnswers.pop_front();
        return a;
    }
    QStringList texts() const {
        QStringList out;
        for (const Box& b : boxes)
            out << b.text;
        return out;
    }
    const Box& last() const { return boxes.back(); }
    void clear() { boxes.clear(); }

    QList<Box> boxes;
    QList<Box> questions;
    std::deque<bool> questionAnswers;
    std::deque<std::optional<QString>> inputAnswers;
    std::deque<QString> fileAnswers;
    QStringList chooserStarts; // the folder (or proposed file) each chooser was opened with
    QStringList prompts;
    QStringList openedDocuments;
    QStringList saveDirectories; // what each save dialog suggested
    bool documentOpens = true;
};

// An outcome as a test compares it: its kind and the text the dialog would show ("refused: 密码有误！").
inline QString Shown(const Outcome& outcome) {
    const QString kind = outcome.done()      ? QStringLiteral("done")
                         : outcome.refused() ? QStringLiteral("refused")
                                             : QStringLiteral("failed");
    return outcome.text.isEmpty() ? kind : kind + QStringLiteral(": ") + outcome.text;
}

class FixedClock final : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& t) { m_now = t; }

private:
    QDateTime m_now{QDate(2024, 3, 5), QTime(9, 7, 3)};
};

enum class Backend { SQLite, PostgreSQL };
inline std::ostream& operator<<(std::ostream& os, Backend b) {
    return os << (b == Backend::SQLite ? "SQLite" : "PostgreSQL");
}
// A list of texts written as UTF-8 literals, for expected columns and menu entries.
inline QStringList L(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* t : texts)
        list << QString::fromUtf8(t);
    return list;
}

inline const auto kBothBackends = ::testing::Values(Backend::SQLite, Backend::PostgreSQL);
inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// A fresh database of the chosen kind with its reference data, the configuration that points at
// it, and a session over it. The machine serial is fixed so administrator records are stable.
class TestEnvironment final {
public:
    explicit TestEnvironment(Backend backend, const QString& machineSerialHex = QStringLiteral("A1B2C3D"));
    ~TestEnvironment();

    Backend backend;
    QTemporaryDir dir;
    RecordingFeedback feedback;
    FixedClock clock;
    std::unique_ptr<Session> session;
    QString address;    // what the configuration holds: "None" or "127.0.0.1:PORT"
    QString pgDatabase; // PostgreSQL only

    // A session of another client (another machine, say) over the same database.
    std::unique_ptr<Session> otherSession(RecordingFeedback& fb, const QString& machineSerialHex) const;

    Database& db() { return session->db(); }
    void addUser(const QString& id, const QString& password, const QString& groups);
    void addGroup(const QString& name, const QString& volume = {});
    void addVolume(const QString& name, const QString& server);
    // Sets the identity fields as a login would, without writing a log row.
    void actAs(const QString& id, const QString& groups, const QString& loginGroup);
    int count(const QString& sql, const QVariantList& values = {});
};

// Fixture base for tests run once per database kind, with the helpers that read what a test left.
class BothDatabases : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override { env.reset(); }

    // Rows of a table: all of them, or those meeting a condition with bound values.
    int rows(const QString& table, const QString& condition = {}, const QVariantList& values = {});
    // Rows of the activity log written with that word (方式).
    int logRows(const QString& word);
    // One column of the row whose key column holds key, as text (a null as the empty text).
    QString field(const QString& table, const QString& column, const QString& keyColumn, const QVariant& key);
    // One column of an account's row in PDM用户.
    QString accountField(const QString& column, const QString& id);

    std::unique_ptr<TestEnvironment> env;
};

} // namespace velda::test
