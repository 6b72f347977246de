#include "archives/ui/Register.h"

#include "archives/ui/FrmArchives.h"
#include "core/ui/FormRegistry.h"

namespace velda {

void RegisterArchivesForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmArchives"), [](Session& s) { return new FrmArchives(s); });
}

} // namespace velda
