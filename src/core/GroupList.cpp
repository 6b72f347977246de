#include "core/GroupList.h"

#include <algorithm>

namespace velda {

QStringList GroupListMembers(const QString& list, const QStringList& existingGroups) {
    QStringList joined;
    for (const QString& g : existingGroups) {
        if (g.contains(u'/'))
            joined << g;
    }
    std::stable_sort(joined.begin(), joined.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QStringList members;
    qsizetype at = list.startsWith(u'/') ? 1 : 0;
    while (at < list.size()) {
        const QStringView rest = QStringView(list).mid(at);
        QString name;
        for (const QString& g : joined) {
            if (rest.startsWith(g) && (rest.size() == g.size() || rest[g.size()] == u'/')) {
                name = g;
                break;
            }
        }
        if (name.isEmpty()) {
            const qsizetype end = rest.indexOf(u'/');
            name = rest.left(end < 0 ? rest.size() : end).toString();
        }
        if (!name.isEmpty())
            members << name;
        at += name.size() + 1;
    }
    return members;
}

QString SessionGroupList(const QStringList& members) {
    QString list(1, u'/');
    for (const QString& name : members) {
        if (!name.contains(u'/'))
            list += name + u'/';
    }
    return list;
}

} // namespace velda
