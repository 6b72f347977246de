#include "library/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "library/ui/FrmLibDrawing.h"
#include "library/ui/FrmMultiInLib.h"
#include "library/ui/FrmMultiOutLib.h"

namespace velda {

void RegisterLibraryForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmLibDrawing"), [](Session& s) { return new FrmLibDrawing(s); });
    registry.add(QStringLiteral("FrmMultiInLib"), [](Session& s) { return new FrmMultiInLib(s); });
    registry.add(QStringLiteral("FrmMultiOutLib"), [](Session& s) { return new FrmMultiOutLib(s); });
}

} // namespace velda
