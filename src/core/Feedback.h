#pragma once

#include <QString>

#include <optional>

namespace velda {

inline const QString kTitleFeedback = QStringLiteral("反馈信息");
inline const QString kTitleInfo = QStringLiteral("信息反馈");
// The empty title stands for the program's own title.
inline const QString kTitleProgram;

enum class Icon { None, Stop };

// Every modal box and chooser the program shows goes through here, so tests can see and answer it.
class Feedback {
public:
    virtual ~Feedback() = default;
    // A message box with the OK button only.
    virtual void message(const QString& text, Icon icon, const QString& title) = 0;
    // A yes/no question with the question icon; true for yes. The answer defaults to no.
    virtual bool question(const QString& text, const QString& title) = 0;
    // An input box; nullopt when cancelled.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) = 0;
    // File choosers; the empty text when cancelled.
    virtual QString openFileName(const QString& caption, const QString& directory, const QString& filter) = 0;
    virtual QString saveFileName(const QString& caption, const QString& directory, const QString& filter) = 0;
    // A folder chooser; the empty text when cancelled.
    virtual QString folderName(const QString& caption, const QString& directory) {
        (void)caption;
        (void)directory;
        return {};
    }
    // Hands a document to the desktop's viewer; false when nothing could open it.
    virtual bool openDocument(const QString& path) = 0;

    void stop(const QString& text, const QString& title = kTitleFeedback) { message(text, Icon::Stop, title); }
    void info(const QString& text, const QString& title = kTitleFeedback) { message(text, Icon::None, title); }
};

// For programs without windows (tools, benchmarks, child processes of tests): every message goes to
// standard error, every question and chooser is answered no.
class StderrFeedback : public Feedback {
public:
    void message(const QString& text, Icon icon, const QString& title) override;
    bool question(const QString& text, const QString& title) override;
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override { return std::nullopt; }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    bool openDocument(const QString&) override { return false; }
    int messages = 0;
};

} // namespace velda
