#include "items/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "items/ui/FrmAddDelItemInfo.h"
#include "items/ui/FrmSeekItemInfo.h"

namespace velda {

void RegisterItemsForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmAddDelItemInfo"), [](Session& s) { return new FrmAddDelItemInfo(s); });
    registry.add(QStringLiteral("FrmSeekItemInfo"), [](Session& s) { return new FrmSeekItemInfo(s); });
}

} // namespace velda
