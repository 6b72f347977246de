#include "transfer/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "transfer/ui/FrmAddVolume.h"
#include "transfer/ui/FrmDelVolume.h"

namespace velda {

void RegisterTransferForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmAddVolume"), [](Session& s) { return new FrmAddVolume(s); });
    registry.add(QStringLiteral("FrmDelVolume"), [](Session& s) { return new FrmDelVolume(s); });
}

} // namespace velda
