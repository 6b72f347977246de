#pragma once

namespace velda {

class FormRegistry;

// Adds this subsystem's forms to the program's registry.
void RegisterItemsForms(FormRegistry& registry);

} // namespace velda
