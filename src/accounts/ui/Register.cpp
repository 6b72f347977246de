#include "accounts/ui/Register.h"

#include "accounts/ui/FrmGroup.h"
#include "accounts/ui/FrmGrpMember.h"
#include "accounts/ui/FrmPwd.h"
#include "accounts/ui/FrmUser.h"
#include "core/ui/FormRegistry.h"

namespace velda {

void RegisterAccountsForms(FormRegistry& registry) {
    registry.add(QStringLiteral("FrmPwd"), [](Session& s) { return new FrmPwd(s); });
    registry.add(QStringLiteral("FrmUser"), [](Session& s) { return new FrmUser(s); });
    registry.add(QStringLiteral("FrmGroup"), [](Session& s) { return new FrmGroup(s); });
    registry.add(QStringLiteral("FrmGrpMember"), [](Session& s) { return new FrmGrpMember(s); });
}

} // namespace velda
