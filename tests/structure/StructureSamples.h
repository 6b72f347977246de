#pragma once

#include "structure/NodeKey.h"
#include "structure/StructureEditor.h"

namespace velda::test {

// The standard part most structures of the tests carry: a bolt, in the quantity and position given.
inline NodeEntry SampleBolt(const QString& num, const QString& no, const QString& memo = {}) {
    NodeEntry e;
    e.currentKind = NodeKind::Standard;
    e.bjCode = QStringLiteral("GB5782");
    e.bjSpec = QStringLiteral("M8x30");
    e.bjName = QStringLiteral("螺栓");
    e.bjNum = num;
    e.bjNo = no;
    e.bjMemo = memo;
    return e;
}

} // namespace velda::test
