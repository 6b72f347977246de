#include "items/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "items/ui/FrmAddDelItemInfo.h"
#include "items/ui/FrmAddDelItemNonLocal.h"
#include "items/ui/FrmImportItemInfo.h"
#include "items/ui/FrmSeekItemInfo.h"
#include "items/ui/FrmSeekItemNonLocal.h"

namespace velda {

void RegisterItemsForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmAddDelItemInfo"), [](Session& s) { return new FrmAddDelItemInfo(s); });
    registry.add(QStringLiteral("FrmSeekItemInfo"), [](Session& s) { return new FrmSeekItemInfo(s); });
    registry.add(QStringLiteral("FrmAddDelItemNonLocal"), [](Session& s) { return new FrmAddDelItemNonLocal(s); });
    registry.add(QStringLiteral("FrmSeekItemNonLocal"), [](Session& s) { return new FrmSeekItemNonLocal(s); });
    registry.add(QStringLiteral("FrmImportItemInfo"), [](Session& s) { return new FrmImportItemInfo(s); });
}

} // namespace velda
