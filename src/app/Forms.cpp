#include "app/Forms.h"

#include "accounts/ui/Register.h"
#include "archives/ui/Register.h"
#include "core/ui/FormRegistry.h"
#include "items/ui/Register.h"
#include "library/ui/Register.h"
#include "logview/ui/Register.h"
#include "shell/ui/Register.h"
#include "structure/ui/Register.h"
#include "transfer/ui/Register.h"

namespace velda {

// A new subsystem adds one line here.
void RegisterAllForms(FormRegistry& registry) {
    RegisterShellForms(registry);
    RegisterAccountsForms(registry);
    RegisterTransferForms(registry);
    RegisterLibraryForms(registry);
    RegisterItemsForms(registry);
    RegisterStructureForms(registry);
    RegisterLogviewForms(registry);
    RegisterArchivesForms(registry);
}

const FormRegistry& ProgramForms() {
    static const FormRegistry forms = [] {
        FormRegistry r;
        RegisterAllForms(r);
        return r;
    }();
    return forms;
}

} // namespace velda
