#include "items/ui/Register.h"

#include "core/ui/FormRegistry.h"

namespace velda {

void RegisterItemsForms(FormRegistry& registry) {
    (void)registry;
}

} // namespace velda
