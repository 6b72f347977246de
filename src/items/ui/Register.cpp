#include "items/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "items/ui/FrmAddDelItemNonLocal.h"
#include "items/ui/FrmSeekItemNonLocal.h"

namespace velda {

void RegisterItemsForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmAddDelItemNonLocal"), [](Session& s) { return new FrmAddDelItemNonLocal(s); });
    registry.add(QStringLiteral("FrmSeekItemNonLocal"), [](Session& s) { return new FrmSeekItemNonLocal(s); });
}

} // namespace velda
