#pragma once

#include "transfer/TransferPool.h"

#include <QString>

#include <functional>
#include <type_traits>
#include <utility>

namespace velda {

// How an operation moves files, whatever waits for them: a dialog hands in its FormTransfer (the
// form stays live with its actions disabled), a test or a tool a plain wait on a client of its own.
// The library and the volumes both run their transfers through one of these.
class TransferRunner final {
public:
    TransferRunner() = default;
    // Any callable that runs an operation is a runner.
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TransferRunner> &&
                                          std::is_invocable_r_v<TransferResult, F&, const TransferOperation&>>>
    TransferRunner(F run) : m_run(std::move(run)) {} // NOLINT(google-explicit-constructor)

    // Runs one operation on the runner's client and returns its outcome; the caller examines it.
    TransferResult operator()(const TransferOperation& operation) const {
        if (!m_run) {
            TransferResult none;
            none.failure = TransferFailure::Internal;
            none.message = QStringLiteral("文件传输出错：没有可用的传输通道");
            return none;
        }
        return m_run(operation);
    }

    // One of the five command texts against the server a volume URL names.
    TransferResult operator()(const QString& volumeUrl, const QString& commandText) const {
        if (onCommand)
            onCommand(volumeUrl, commandText);
        return (*this)([volumeUrl, commandText](FtpClient& client, const TransferProgress& progress) {
            return client.Execute(volumeUrl, commandText, progress);
        });
    }

    // Sees every command text before it is sent (tests list what went to the server).
    std::function<void(const QString& volumeUrl, const QString& commandText)> onCommand;

private:
    std::function<TransferResult(const TransferOperation&)> m_run;
};

} // namespace velda
