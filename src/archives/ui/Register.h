#pragma once

namespace velda {

class FormRegistry;

// Adds this subsystem's forms to the program's registry.
void RegisterArchivesForms(FormRegistry& registry);

} // namespace velda
