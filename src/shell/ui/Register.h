#pragma once

namespace velda {

class FormRegistry;

// Adds the shell's own forms (those a menu command opens) to the program's registry.
void RegisterShellForms(FormRegistry& registry);

} // namespace velda
