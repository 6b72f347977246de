#include "structure/ui/Register.h"

#include "core/ui/FormRegistry.h"
#include "structure/ui/FrmProduct.h"
#include "structure/ui/FrmView.h"
#include "structure/ui/FrmWhereUsed.h"
#include "structure/WhereUsed.h"

namespace velda {

void RegisterStructureForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmView"), [](Session& s) { return new FrmView(s); });
    registry.add(QStringLiteral("FrmProduct"), [](Session& s) { return new FrmProduct(s); });
    registry.add(QStringLiteral("FrmWhereUsed"), [](Session& s) { return new FrmWhereUsed(s); });
    // The library's dialogs ask where a part is used before it changes.
    AnswerLibraryImpactQuestions();
}

} // namespace velda
