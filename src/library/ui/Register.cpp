#include "library/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "library/ui/FrmDeletedDrawings.h"
#include "library/ui/FrmDrawingHistory.h"
#include "library/ui/FrmHeldDrawings.h"
#include "library/ui/FrmLibDrawing.h"
#include "library/ui/FrmMultiInLib.h"
#include "library/ui/FrmMultiOutLib.h"
#include "library/ui/FrmVolumeCheck.h"

namespace velda {

void RegisterLibraryForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmLibDrawing"), [](Session& s) { return new FrmLibDrawing(s); });
    registry.add(QStringLiteral("FrmMultiInLib"), [](Session& s) { return new FrmMultiInLib(s); });
    registry.add(QStringLiteral("FrmMultiOutLib"), [](Session& s) { return new FrmMultiOutLib(s); });
    registry.add(QStringLiteral("FrmHeldDrawings"), [](Session& s) { return new FrmHeldDrawings(s); });
    registry.add(QStringLiteral("FrmVolumeCheck"), [](Session& s) { return new FrmVolumeCheck(s); });
    registry.add(QStringLiteral("FrmDrawingHistory"), [](Session& s) { return new FrmDrawingHistory(s); });
    registry.add(QStringLiteral("FrmDeletedDrawings"), [](Session& s) { return new FrmDeletedDrawings(s); });
}

} // namespace velda
