#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <map>

class QWidget;

namespace velda {

class Session;

// The forms the main window can open, by the system's form names. Each subsystem's ui library adds
// its own through one registration function; the program fills one registry from all of them, so the
// shell never names a subsystem's dialog class.
class FormRegistry final {
public:
    using Factory = std::function<QWidget*(Session&)>;

    // A second form under the same name is a programming error and aborts at start-up.
    void add(const QString& name, Factory factory);
    // nullptr when no form has that name.
    const Factory* find(const QString& name) const;
    QStringList names() const;

private:
    std::map<QString, Factory> m_factories;
};

} // namespace velda
