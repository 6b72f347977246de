#include "core/ui/FormRegistry.h"

#include <QtGlobal>

namespace velda {

void FormRegistry::add(const QString& name, Factory factory) {
    const bool inserted = m_factories.emplace(name, std::move(factory)).second;
    if (!inserted)
        qFatal("form %s registered twice", qPrintable(name));
}

const FormRegistry::Factory* FormRegistry::find(const QString& name) const {
    const auto it = m_factories.find(name);
    return it == m_factories.end() ? nullptr : &it->second;
}

QStringList FormRegistry::names() const {
    QStringList list;
    for (const auto& entry : m_factories)
        list.append(entry.first);
    return list;
}

} // namespace velda
