#include "logview/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "logview/ui/FrmLog.h"

namespace velda {

void RegisterLogviewForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmLog"), [](Session& s) { return new FrmLog(s); });
}

} // namespace velda
