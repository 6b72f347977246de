#include "shell/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "shell/ui/FrmAbout.h"

namespace velda {

void RegisterShellForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmAbout"), [](Session&) { return new FrmAbout; });
}

} // namespace velda
